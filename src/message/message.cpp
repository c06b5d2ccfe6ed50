// Section parser: checks the framing of one edition 4 message in a fixed order.
#include "message/message.hpp"

#include <cstring>

#include "message/descriptor_code.hpp"

namespace tarnwel {
namespace {

// The last octet the record reads from section 1 (typical second at offset 29).
constexpr uint64_t kSection1Extent = 30;

class Octets {
 public:
  explicit Octets(ByteView bytes) : bytes_(bytes) {}

  uint64_t size() const { return bytes_.size(); }
  uint8_t at(uint64_t offset) const { return bytes_[offset]; }

  Result<uint64_t> read_u24(uint64_t offset, uint8_t section) const {
    if (offset > size() || size() - offset < 3) {
      return BufrError::section_truncated(offset, section);
    }
    return (uint64_t{bytes_[offset]} << 16) | (uint64_t{bytes_[offset + 1]} << 8) |
           bytes_[offset + 2];
  }

  Result<uint16_t> read_u16(uint64_t offset) const {
    if (offset > size() || size() - offset < 2) return BufrError::section_truncated(offset, 0);
    return static_cast<uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
  }

  // True when [offset, offset + length) lies inside the buffer, without overflow.
  bool covers(uint64_t offset, uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }

 private:
  ByteView bytes_;
};

Status check_section0(const Octets& octets, ByteView bytes) {
  if (bytes.size() < 8) return BufrError::message_too_short();
  if (std::memcmp(bytes.data(), "BUFR", 4) != 0) return BufrError::missing_marker();
  if (bytes[7] != 4) return BufrError::unsupported_edition(bytes[7]);
  const uint64_t declared = octets.read_u24(4, 0).value();
  if (declared != bytes.size()) return BufrError::length_mismatch(declared, bytes.size());
  return Status::success();
}

void read_section1_fields(const Octets& o, BufrMessage& m) {
  m.master_table_number = o.at(11);
  m.originating_centre = o.read_u16(12).value();
  m.originating_subcentre = o.read_u16(14).value();
  m.update_sequence_number = o.at(16);
  m.data_category = o.at(18);
  m.international_data_subcategory = o.at(19);
  m.local_data_subcategory = o.at(20);
  m.master_tables_version_number = o.at(21);
  m.local_tables_version_number = o.at(22);
  m.typical_month = o.at(25);
  m.typical_day = o.at(26);
  m.typical_hour = o.at(27);
  m.typical_minute = o.at(28);
  m.typical_second = o.at(29);
}

// Section 3 descriptors: two octets each. Editions 2 and 3 padded the area to an
// even section length and many encoders still do, so an odd area that holds at
// least one whole descriptor ends in a pad octet that is ignored (the caller has
// already rejected an area of a single octet).
void read_descriptors(const Octets& o, uint64_t start, uint64_t area_length,
                      std::vector<uint32_t>& out) {
  area_length -= area_length % 2;
  out.reserve(area_length / 2);
  for (uint64_t offset = start; offset < start + area_length; offset += 2) {
    out.push_back(descriptor_from_octets(o.at(offset), o.at(offset + 1)));
  }
}

}  // namespace

Result<BufrMessage> parse_message(ByteView bytes) {
  const Octets o(bytes);
  TARNWEL_TRY(check_section0(o, bytes));
  if (bytes.size() <= 10) return BufrError::section_truncated(8, 1);

  BufrMessage m;
  m.total_length = bytes.size();
  TARNWEL_ASSIGN(m.section1_length, o.read_u24(8, 1));
  if (!o.covers(8, m.section1_length)) return BufrError::section_truncated(8, 1);
  // Octet 17 lies beyond a short buffer; report it as section 1 running out.
  if (o.size() < 18) return BufrError::section_truncated(8, 1);
  m.local_section_present = o.at(17) != 0;
  TARNWEL_ASSIGN(m.typical_year, o.read_u16(23));

  const uint64_t s2 = 8 + m.section1_length;
  if (m.local_section_present) {
    TARNWEL_ASSIGN(m.section2_length, o.read_u24(s2, 2));
    if (!o.covers(s2, m.section2_length)) return BufrError::section_truncated(s2, 2);
  }

  const uint64_t s3 = s2 + m.section2_length;
  TARNWEL_ASSIGN(m.section3_length, o.read_u24(s3, 3));
  if (!o.covers(s3, m.section3_length) || m.section3_length < 7) {
    return BufrError::section_truncated(s3, 3);
  }
  TARNWEL_ASSIGN(m.number_of_subsets, o.read_u16(s3 + 4));
  const uint64_t area_length = m.section3_length - 7;
  if (area_length % 2 != 0 && area_length < 2) return BufrError::odd_descriptor_bytes();
  const uint8_t flags = o.at(s3 + 6);
  m.observed_data = (flags & 0x80) != 0;
  m.compressed_data = (flags & 0x40) != 0;
  read_descriptors(o, s3 + 7, area_length, m.unexpanded_descriptors);

  const uint64_t s4 = s3 + m.section3_length;
  TARNWEL_ASSIGN(m.section4_length, o.read_u24(s4, 4));
  if (!o.covers(s4, m.section4_length)) return BufrError::section_truncated(s4, 4);
  const uint64_t s5 = s4 + m.section4_length;
  if (!o.covers(s5, 4)) return BufrError::section_truncated(s5, 5);
  if (std::memcmp(bytes.data() + s5, "7777", 4) != 0) return BufrError::bad_terminator();
  // Octets 25 to 29 lie beyond a buffer this short; report section 1 as truncated.
  if (o.size() < kSection1Extent) return BufrError::section_truncated(8, 1);

  read_section1_fields(o, m);
  m.edition = 4;
  m.section4_data_offset = s4 + 4;
  m.section4_data_length = m.section4_length < 4 ? 0 : m.section4_length - 4;
  return m;
}

}  // namespace tarnwel
