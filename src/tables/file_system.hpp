// The few file-system operations the table loaders need, without exceptions.
// A path holding a NUL names no file: it fails with EINVAL and does not exist.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/error.hpp"

namespace tarnwel {

// Reads the whole file into `out`. Returns 0 or the errno of the failed open or
// read (a directory fails with EISDIR).
int read_file_bytes(const std::string& path, std::string& out);

// Reads the whole file as UTF-8 text; failures are Io errors.
Result<std::string> read_text_file(const std::string& path);

// The names of the entries of a directory ("." and ".." left out), sorted by
// their bytes. Failure to open or list it is an Io error.
Result<std::vector<std::string>> list_directory_sorted(const std::string& path);

// `dir` and `name` joined with "/", with no separator doubled.
std::string path_join(std::string_view dir, std::string_view name);

// The path without its last component; none for a root or an empty path.
std::optional<std::string> path_parent(std::string_view path);

// `name` without its final extension (a leading dot does not start one).
std::string_view file_stem(std::string_view name);

// Metadata queries that follow symbolic links.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);
bool is_regular_file(const std::string& path);

}  // namespace tarnwel
