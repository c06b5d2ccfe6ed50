// The few file-system operations the table loaders need, without exceptions.
#include "tables/file_system.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "message/file_reader.hpp"
#include "tables/utf8.hpp"

namespace tarnwel {

namespace {

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

// The system would read a path only up to its first NUL, which names another
// file; such a path names none.
bool names_no_file(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

bool stat_path(const std::string& path, struct stat& info) {
  return !names_no_file(path) && ::stat(path.c_str(), &info) == 0;
}

}  // namespace

int read_file_bytes(const std::string& path, std::string& out) {
  // One whole-file reader for the project; table text is then handled as chars.
  if (names_no_file(path)) return EINVAL;
  std::vector<uint8_t> bytes;
  const int error = read_whole_file(path, &bytes);
  out.assign(bytes.begin(), bytes.end());
  return error;
}

Result<std::string> read_text_file(const std::string& path) {
  std::string text;
  if (const int error = read_file_bytes(path, text); error != 0) {
    return os_error<ErrorKind::IoOsError>(error);
  }
  if (!is_valid_utf8(text)) return make_error<ErrorKind::InvalidUtf8Stream>();
  return text;
}

Result<std::vector<std::string>> list_directory_sorted(const std::string& path) {
  if (names_no_file(path)) return os_error<ErrorKind::IoOsError>(EINVAL);
  DirectoryStream dir(::opendir(path.c_str()));
  if (dir.get() == nullptr) return os_error<ErrorKind::IoOsError>(errno);
  std::vector<std::string> names;
  for (;;) {
    // readdir signals an error only through errno, so clear it first.
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return os_error<ErrorKind::IoOsError>(errno);
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
