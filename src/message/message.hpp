// The framing and identification record of one edition 4 message, and its parser.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "message/error.hpp"

namespace tarnwel {

using ByteView = std::span<const uint8_t>;

struct BufrMessage {
  std::vector<uint32_t> unexpanded_descriptors;
  uint64_t total_length = 0;
  uint64_t section1_length = 0;
  uint64_t section2_length = 0;
  uint64_t section3_length = 0;
  uint64_t section4_length = 0;
  uint64_t section4_data_offset = 0;
  uint64_t section4_data_length = 0;
  uint16_t originating_centre = 0;
  uint16_t originating_subcentre = 0;
  uint16_t typical_year = 0;
  uint16_t number_of_subsets = 0;
  bool local_section_present = false;
  bool observed_data = false;
  bool compressed_data = false;
  uint8_t edition = 4;
  uint8_t master_table_number = 0;
  uint8_t update_sequence_number = 0;
  uint8_t data_category = 0;
  uint8_t international_data_subcategory = 0;
  uint8_t local_data_subcategory = 0;
  uint8_t master_tables_version_number = 0;
  uint8_t local_tables_version_number = 0;
  uint8_t typical_month = 0;
  uint8_t typical_day = 0;
  uint8_t typical_hour = 0;
  uint8_t typical_minute = 0;
  uint8_t typical_second = 0;

  // The section 4 data octets of this message within `message_bytes`.
  ByteView section4_data(ByteView message_bytes) const {
    return message_bytes.subspan(section4_data_offset, section4_data_length);
  }
};

// Checks the framing of exactly one message and reads its record.
Result<BufrMessage> parse_message(ByteView bytes);

}  // namespace tarnwel
