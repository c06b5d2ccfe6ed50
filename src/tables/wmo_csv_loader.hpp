// Reading the WMO BUFR4 CSV files of Table B and Table D into a TableSet.
#pragma once

#include <string>

#include "message/error.hpp"
#include "tables/table_set.hpp"

namespace tarnwel {

// Every "BUFRCREX_TableB_en_*.csv" file, then every "BUFR_TableD_en_*.csv" file
// of `dir`, each set in file name order. No code tables are read.
Result<TableSet> load_wmo_csv_dir(const std::string& dir);

}  // namespace tarnwel
