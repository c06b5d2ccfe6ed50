// Whole-file reads with plain POSIX calls: one open, one fstat, few reads.
#include "message/file_reader.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwel {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

int read_whole_file(const std::string& path, std::vector<uint8_t>* out) {
  // open() would stop at a NUL and read a different file; no path holds one.
  if (path.find('\0') != std::string::npos) return EINVAL;
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return errno;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return errno;
  out->clear();
  // The size is only a hint: special files report 0 and files may grow.
  out->resize(info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 4096);
  size_t filled = 0;
  for (;;) {
    if (filled == out->size()) out->resize(out->size() * 2);
    const ssize_t got = ::read(file.get(), out->data() + filled, out->size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  out->resize(filled);
  return 0;
}

}  // namespace tarnwel
