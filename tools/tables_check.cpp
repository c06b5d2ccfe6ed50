// Loads table directories given on the command line and prints their sizes and load times.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "message/message.hpp"
#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/wmo_csv_loader.hpp"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tables_check [--wmo-csv] [--repeat N] DIR...\n"
               "       tables_check --definitions ROOT MASTER_VERSION LOCAL_VERSION CENTRE "
               "SUBCENTRE\n"
               "  loads each DIR (ecCodes layout, or WMO CSV files with --wmo-csv), or the\n"
               "  tables a message with these section 1 fields selects from ROOT\n");
  return 2;
}

// A decimal argument within [0, maximum]; atoi would wrap or overflow silently.
template <class T>
bool parse_argument(const char* text, unsigned long maximum, T& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > maximum) return false;
  out = static_cast<T>(value);
  return true;
}

int load_definitions(char** args) {
  tarnwel::BufrMessage message;
  if (!parse_argument(args[1], 255, message.master_tables_version_number) ||
      !parse_argument(args[2], 255, message.local_tables_version_number) ||
      !parse_argument(args[3], 65535, message.originating_centre) ||
      !parse_argument(args[4], 65535, message.originating_subcentre)) {
    return usage();
  }
  auto result = tarnwel::load_definitions_tables(args[0], message);
  if (!result.ok()) {
    std::printf("%s\n", result.error().display().c_str());
    return 1;
  }
  std::printf("elements=%zu sequences=%zu code_tables=%zu\n", result->element_count(),
              result->sequence_count(), result->code_table_count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--definitions") == 0) return load_definitions(argv + 2);
  bool wmo_csv = false;
  int repeat = 1;
  int first_dir = 1;
  for (; first_dir < argc && argv[first_dir][0] == '-'; ++first_dir) {
    if (std::strcmp(argv[first_dir], "--wmo-csv") == 0) {
      wmo_csv = true;
    } else if (std::strcmp(argv[first_dir], "--repeat") == 0 && first_dir + 1 < argc) {
      if (!parse_argument(argv[++first_dir], 1000000, repeat)) return usage();
    } else {
      return usage();
    }
  }
  if (first_dir == argc || repeat < 1) return usage();
  int failures = 0;
  for (int i = first_dir; i < argc; ++i) {
    const std::string dir = argv[i];
    double best_ms = 1e300;
    for (int round = 0; round < repeat; ++round) {
      const auto start = std::chrono::steady_clock::now();
      auto result = wmo_csv ? tarnwel::load_wmo_csv_dir(dir) : tarnwel::load_eccodes_dir(dir);
      const auto stop = std::chrono::steady_clock::now();
      if (!result.ok()) {
        std::printf("%s: %s\n", dir.c_str(), result.error().display().c_str());
        ++failures;
        break;
      }
      const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
      if (ms < best_ms) best_ms = ms;
      if (round + 1 == repeat) {
        std::printf("%s: elements=%zu sequences=%zu code_tables=%zu best=%.3f ms\n", dir.c_str(),
                    result->element_count(), result->sequence_count(),
                    result->code_table_count(), best_ms);
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
