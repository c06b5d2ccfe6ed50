// Choosing and loading the master and local tables of a message from a
// definitions root.
#pragma once

#include <string>

#include "message/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// Alias files naming one another are followed at most this many times.
inline constexpr int kMaxAliasHops = 32;

// The directory to read for `path`: the path itself when it is a directory, or
// what its chain of alias files names.
Result<std::string> resolve_table_dir(const std::string& path);

// The master tables of the message's section 1, with its local tables (when it
// names any and they exist) laid over them code by code.
Result<TableSet> load_definitions_tables(const std::string& root, const BufrMessage& message);

}  // namespace tarnwel
