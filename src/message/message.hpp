// The framing and identification record of one message, and its parsers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "message/error.hpp"

namespace tarnwel {

using ByteView = std::span<const uint8_t>;

// Section 1 fields that editions 2 and 3 do not carry; the record holds 0 for them.
enum HeaderField : uint8_t {
  kOriginatingSubcentre = 1 << 0,          // edition 2 has a 16-bit centre and no subcentre
  kInternationalDataSubcategory = 1 << 1,  // editions 2 and 3
  kTypicalSecond = 1 << 2,                 // editions 2 and 3
};

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
  // HeaderField bits of the fields this message's edition lacks; none in edition 4.
  uint8_t absent_fields = 0;

  bool has_field(HeaderField field) const { return (absent_fields & field) == 0; }

  // The section 4 data octets of this message within `message_bytes`.
  ByteView section4_data(ByteView message_bytes) const {
    return message_bytes.subspan(section4_data_offset, section4_data_length);
  }
};

// Checks the framing of exactly one edition 4 message and reads its record.
Result<BufrMessage> parse_message(ByteView bytes);

// The same for a message of edition 2, 3 or 4. Sections 0 and 2 to 5 are laid out
// alike in all three; section 1 of editions 2 and 3 is shorter, and its fields are
// mapped onto the same record (see absent_fields). Edition 4 is parse_message.
Result<BufrMessage> parse_message_any_edition(ByteView bytes);

// The full year of the "year of century" octet of editions 2 and 3.
uint16_t year_of_century_to_year(uint8_t year_of_century);

}  // namespace tarnwel
