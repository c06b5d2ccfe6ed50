// Choosing the BUFRDC table files that serve a message, and loading them.
#include "tables/bufrdc_loader.hpp"

#include <string_view>
#include <vector>

#include "tables/file_system.hpp"

namespace tarnwel {

namespace {

constexpr std::string_view kSuffixes[] = {".TXT", ".txt"};
// B, then 3 + 5 + 5 + 3 + 3 digits, then the suffix.
constexpr std::size_t kStemDigits = 19;
constexpr std::size_t kNameLength = 1 + kStemDigits + 4;

// `value` in `width` decimal digits, zero-padded; false when it needs more.
bool append_digits(std::string& out, uint32_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() > width) return false;
  out.append(width - digits.size(), '0');
  out += digits;
  return true;
}

Result<std::string> stem_of(const BufrdcTableKey& key) {
  std::string stem;
  const bool fits = append_digits(stem, key.master_table_number, 3) &&
                    append_digits(stem, key.subcentre, 5) && append_digits(stem, key.centre, 5) &&
                    append_digits(stem, key.master_version, 3) &&
                    append_digits(stem, key.local_version, 3);
  if (!fits) {
    return make_error<ErrorKind::BufrdcNameCannotHold>(key.master_table_number, key.subcentre,
                                                       key.centre, key.master_version,
                                                       key.local_version);
  }
  return stem;
}

// The name of the `letter` file of `stem` in `dir`, in whichever spelling exists.
std::optional<std::string> existing_name(const std::string& dir, char letter,
                                         const std::string& stem) {
  for (const std::string_view suffix : kSuffixes) {
    std::string name = letter + stem;
    name += suffix;
    if (is_regular_file(path_join(dir, name))) return name;
  }
  return std::nullopt;
}

uint32_t digits_value(std::string_view digits) {
  uint32_t value = 0;
  for (const char c : digits) value = value * 10 + static_cast<uint32_t>(c - '0');
  return value;
}

// The WMO set of the highest master version below `key`'s, from the names in `dir`.
Result<std::optional<std::string>> lower_wmo_stem(const std::string& dir,
                                                  const BufrdcTableKey& key) {
  TARNWEL_ASSIGN(const std::vector<std::string> names, list_directory_sorted(dir));
  std::optional<uint32_t> best;
  for (const std::string_view name : names) {
    if (name.size() != kNameLength || name.front() != 'B') continue;
    const std::string_view stem = name.substr(1, kStemDigits);
    const std::string_view suffix = name.substr(1 + kStemDigits);
    if (stem.find_first_not_of("0123456789") != std::string_view::npos) continue;
    if (suffix != kSuffixes[0] && suffix != kSuffixes[1]) continue;
    const uint32_t version = digits_value(stem.substr(13, 3));
    const bool wmo = digits_value(stem.substr(0, 3)) == key.master_table_number &&
                     stem.substr(3, 10) == "0000000000" && stem.substr(16) == "000";
    if (!wmo || version >= key.master_version || (best && version <= *best)) continue;
    if (is_regular_file(path_join(dir, std::string(name)))) best = version;
  }
  if (!best) return std::optional<std::string>();
  BufrdcTableKey lower{key.master_table_number, 0, 0, *best, 0};
  TARNWEL_ASSIGN(std::string stem, stem_of(lower));
  return std::optional<std::string>(std::move(stem));
}

// The stem of the file set that serves `key`, tried in this order:
// 1. when the message names local tables (local version not 0), the centre's set
//    of exactly its key, then the same with subcentre 0 (a centre that keeps one
//    set for all its subcentres);
// 2. the WMO set: master table of the message, subcentre and centre 0, its master
//    version and local version 0 (what BUFRDC itself reads for a message without
//    local tables);
// 3. the WMO set of the highest master version below the message's. Versions only
//    add entries, so the ones a message uses read alike in any earlier version that
//    has them, and one it lacks fails as missing instead of being read wrongly.
// A centre's set of another local version is never taken: it may redefine entries.
Result<std::optional<std::string>> choose_stem(const std::string& dir,
                                               const BufrdcTableKey& key) {
  std::vector<BufrdcTableKey> candidates;
  if (key.local_version != 0) {
    candidates.push_back(key);
    if (key.subcentre != 0) {
      candidates.push_back({key.master_table_number, 0, key.centre, key.master_version,
                            key.local_version});
    }
  }
  candidates.push_back({key.master_table_number, 0, 0, key.master_version, 0});
  for (const BufrdcTableKey& candidate : candidates) {
    TARNWEL_ASSIGN(std::string stem, stem_of(candidate));
    if (existing_name(dir, 'B', stem)) return std::optional<std::string>(std::move(stem));
  }
  return lower_wmo_stem(dir, key);
}

// Reads the `letter` file of `stem`; one that does not exist is an error unless `optional`.
Status read_member(const std::string& dir, char letter, const std::string& stem, bool optional,
                   Status (*read)(const std::string&, TableSet&), TableSet& set) {
  const std::optional<std::string> name = existing_name(dir, letter, stem);
  if (name) return read(path_join(dir, *name), set);
  if (optional) return Status::success();
  BufrError error = make_error<ErrorKind::BufrdcMissingMember>(std::string(1, letter));
  return error.in_file(path_join(dir, letter + stem + std::string(kSuffixes[0])));
}

}  // namespace

Result<std::optional<BufrdcTables>> load_bufrdc_tables(const std::string& dir,
                                                       const BufrdcTableKey& key) {
  if (!is_directory(dir)) {
    return make_error<ErrorKind::BufrdcMissingDirectory>(dir);
  }
  TARNWEL_ASSIGN(const std::optional<std::string> stem, choose_stem(dir, key));
  // The B file may also have gone since it was chosen.
  const std::optional<std::string> name = stem ? existing_name(dir, 'B', *stem) : std::nullopt;
  if (!name) return std::optional<BufrdcTables>();
  BufrdcTables loaded;
  loaded.table_file_name = *name;
  TARNWEL_TRY(read_bufrdc_table_b(path_join(dir, loaded.table_file_name), loaded.tables));
  TARNWEL_TRY(read_member(dir, 'D', *stem, false, read_bufrdc_table_d, loaded.tables));
  TARNWEL_TRY(read_member(dir, 'C', *stem, true, read_bufrdc_table_c, loaded.tables));
  return std::optional<BufrdcTables>(std::move(loaded));
}

}  // namespace tarnwel
