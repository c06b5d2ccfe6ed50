// The few file-system operations the table loaders need, without exceptions.
#include "tables/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "tables/utf8.hpp"

namespace tarnwel {

namespace {

// Closes a descriptor on every path out of a function.
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

class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* dir) : dir_(dir) {}
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  ~DirectoryStream() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

bool stat_path(const std::string& path, struct stat& info) {
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

int read_file_bytes(const std::string& path, std::string& out) {
  out.clear();
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  struct stat info;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    // One extra byte lets the final read see end of file without a resize.
    out.resize(static_cast<std::size_t>(info.st_size) + 1);
  } else {
    out.resize(4096);
  }
  std::size_t filled = 0;
  for (;;) {
    if (filled == out.size()) out.resize(out.size() * 2);
    const ssize_t count = ::read(fd.get(), out.data() + filled, out.size() - filled);
    if (count < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      out.clear();
      return error;
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  out.resize(filled);
  return 0;
}

Result<std::string> read_text_file(const std::string& path) {
  std::string text;
  if (const int error = read_file_bytes(path, text); error != 0) {
    return BufrError::io_from_errno(error);
  }
  if (!is_valid_utf8(text)) return BufrError::invalid_utf8_stream();
  return text;
}

Result<std::vector<std::string>> list_directory_sorted(const std::string& path) {
  DirectoryStream dir(::opendir(path.c_str()));
  if (dir.get() == nullptr) return BufrError::io_from_errno(errno);
  std::vector<std::string> names;
  for (;;) {
    // readdir signals an error only through errno, so clear it first.
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return BufrError::io_from_errno(errno);
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  // std::string compares as unsigned bytes through char_traits<char>.
  std::sort(names.begin(), names.end());
  return names;
}

std::string path_join(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

std::optional<std::string> path_parent(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  // An empty path and the root have no parent.
  if (end == 0) return std::nullopt;
  const std::size_t slash = path.rfind('/', end - 1);
  if (slash == std::string_view::npos) return std::string();
  std::size_t parent_end = slash;
  while (parent_end > 0 && path[parent_end - 1] == '/') --parent_end;
  if (parent_end == 0) return std::string("/");
  return std::string(path.substr(0, parent_end));
}

std::string_view file_stem(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

bool path_exists(const std::string& path) {
  struct stat info;
  return stat_path(path, info);
}

bool is_directory(const std::string& path) {
  struct stat info;
  return stat_path(path, info) && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return stat_path(path, info) && S_ISREG(info.st_mode);
}

}  // namespace tarnwel
