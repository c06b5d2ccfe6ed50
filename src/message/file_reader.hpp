// Reading a whole file into memory in one piece.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwel {

// Reads the file at `path` into `out`. Returns 0, or the errno of the failed
// open or read (a directory fails with EISDIR, a path holding a NUL with EINVAL).
int read_whole_file(const std::string& path, std::vector<uint8_t>* out);

}  // namespace tarnwel
