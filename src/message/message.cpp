// Section parser: checks the framing of one message of edition 4 (or 2 to 4) in a fixed order.
#include "message/message.hpp"

#include <cstring>

#include "message/descriptor_code.hpp"

namespace tarnwel {
namespace {

// The last octet the record reads from section 1 (typical second at offset 29).
constexpr uint64_t kSection1Extent = 30;

// Section 1 of editions 2 and 3 ends its fields with the minute at its octet 17.
constexpr uint64_t kOldSection1Length = 17;
constexpr uint64_t kSection1Start = 8;

class Octets {
 public:
  explicit Octets(ByteView bytes) : bytes_(bytes) {}

  uint64_t size() const { return bytes_.size(); }
  uint8_t at(uint64_t offset) const { return bytes_[offset]; }

  Result<uint64_t> read_u24(uint64_t offset, uint8_t section) const {
    if (offset > size() || size() - offset < 3) {
      return make_error<ErrorKind::SectionTruncated>(section, offset);
    }
    return (uint64_t{bytes_[offset]} << 16) | (uint64_t{bytes_[offset + 1]} << 8) |
           bytes_[offset + 2];
  }

  Result<uint16_t> read_u16(uint64_t offset) const {
    if (offset > size() || size() - offset < 2) {
      return make_error<ErrorKind::SectionTruncated>(0, offset);
    }
    return static_cast<uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
  }

  // True when [offset, offset + length) lies inside the buffer, without overflow.
  bool covers(uint64_t offset, uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }

 private:
  ByteView bytes_;
};

Status check_section0(const Octets& octets, ByteView bytes, bool editions_2_to_4) {
  if (bytes.size() < 8) return make_error<ErrorKind::MessageTooShort>();
  if (std::memcmp(bytes.data(), "BUFR", 4) != 0) return make_error<ErrorKind::MissingMarker>();
  const bool known = bytes[7] == 4 || (editions_2_to_4 && (bytes[7] == 2 || bytes[7] == 3));
  if (!known) return make_error<ErrorKind::UnsupportedEdition>(bytes[7]);
  const uint64_t declared = octets.read_u24(4, 0).value();
  if (declared != bytes.size()) {
    return make_error<ErrorKind::LengthMismatch>(declared, bytes.size());
  }
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

// Octets 4 to 17 of an edition 2 or 3 section 1 (its length is already checked).
void read_old_section1_fields(const Octets& o, uint8_t edition, BufrMessage& m) {
  const auto octet = [&](uint64_t number) { return o.at(kSection1Start + number - 1); };
  m.master_table_number = octet(4);
  if (edition == 2) {
    m.originating_centre = static_cast<uint16_t>((octet(5) << 8) | octet(6));
    m.absent_fields |= kOriginatingSubcentre;
  } else {
    m.originating_subcentre = octet(5);
    m.originating_centre = octet(6);
  }
  m.update_sequence_number = octet(7);
  // Any nonzero flag octet, as in edition 4.
  m.local_section_present = octet(8) != 0;
  m.data_category = octet(9);
  m.local_data_subcategory = octet(10);
  m.master_tables_version_number = octet(11);
  m.local_tables_version_number = octet(12);
  m.typical_year = year_of_century_to_year(octet(13));
  m.typical_month = octet(14);
  m.typical_day = octet(15);
  m.typical_hour = octet(16);
  m.typical_minute = octet(17);
  m.absent_fields |= kInternationalDataSubcategory | kTypicalSecond;
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

// Sections 2 to 5, laid out alike in editions 2 to 4, after `m` has its section 1
// length and optional section flag.
Status read_sections_2_to_5(const Octets& o, ByteView bytes, BufrMessage& m) {
  const uint64_t s2 = kSection1Start + m.section1_length;
  if (m.local_section_present) {
    TARNWEL_ASSIGN(m.section2_length, o.read_u24(s2, 2));
    if (!o.covers(s2, m.section2_length)) return make_error<ErrorKind::SectionTruncated>(2, s2);
  }

  const uint64_t s3 = s2 + m.section2_length;
  TARNWEL_ASSIGN(m.section3_length, o.read_u24(s3, 3));
  if (!o.covers(s3, m.section3_length) || m.section3_length < 7) {
    return make_error<ErrorKind::SectionTruncated>(3, s3);
  }
  TARNWEL_ASSIGN(m.number_of_subsets, o.read_u16(s3 + 4));
  const uint64_t area_length = m.section3_length - 7;
  if (area_length % 2 != 0 && area_length < 2) return make_error<ErrorKind::OddDescriptorBytes>();
  const uint8_t flags = o.at(s3 + 6);
  m.observed_data = (flags & 0x80) != 0;
  m.compressed_data = (flags & 0x40) != 0;
  read_descriptors(o, s3 + 7, area_length, m.unexpanded_descriptors);

  const uint64_t s4 = s3 + m.section3_length;
  TARNWEL_ASSIGN(m.section4_length, o.read_u24(s4, 4));
  if (!o.covers(s4, m.section4_length)) return make_error<ErrorKind::SectionTruncated>(4, s4);
  const uint64_t s5 = s4 + m.section4_length;
  if (!o.covers(s5, 4)) return make_error<ErrorKind::SectionTruncated>(5, s5);
  if (std::memcmp(bytes.data() + s5, "7777", 4) != 0) return make_error<ErrorKind::BadTerminator>();
  m.section4_data_offset = s4 + 4;
  m.section4_data_length = m.section4_length < 4 ? 0 : m.section4_length - 4;
  return Status::success();
}

}  // namespace

Result<BufrMessage> parse_message(ByteView bytes) {
  const Octets o(bytes);
  TARNWEL_TRY(check_section0(o, bytes, false));
  if (bytes.size() <= 10) return make_error<ErrorKind::SectionTruncated>(1, 8);

  BufrMessage m;
  m.total_length = bytes.size();
  TARNWEL_ASSIGN(m.section1_length, o.read_u24(8, 1));
  if (!o.covers(8, m.section1_length)) return make_error<ErrorKind::SectionTruncated>(1, 8);
  // Octet 17 lies beyond a short buffer; report it as section 1 running out.
  if (o.size() < 18) return make_error<ErrorKind::SectionTruncated>(1, 8);
  m.local_section_present = o.at(17) != 0;
  TARNWEL_ASSIGN(m.typical_year, o.read_u16(23));
  TARNWEL_TRY(read_sections_2_to_5(o, bytes, m));
  // Octets 25 to 29 lie beyond a buffer this short; report section 1 as truncated.
  if (o.size() < kSection1Extent) return make_error<ErrorKind::SectionTruncated>(1, 8);

  read_section1_fields(o, m);
  m.edition = 4;
  return m;
}

Result<BufrMessage> parse_message_any_edition(ByteView bytes) {
  const Octets o(bytes);
  TARNWEL_TRY(check_section0(o, bytes, true));
  if (bytes[7] == 4) return parse_message(bytes);

  BufrMessage m;
  m.total_length = bytes.size();
  m.edition = bytes[7];
  TARNWEL_ASSIGN(m.section1_length, o.read_u24(kSection1Start, 1));
  // Unlike edition 4, every field read must lie inside section 1 itself.
  if (!o.covers(kSection1Start, m.section1_length) || m.section1_length < kOldSection1Length) {
    return make_error<ErrorKind::SectionTruncated>(1, kSection1Start);
  }
  read_old_section1_fields(o, m.edition, m);
  TARNWEL_TRY(read_sections_2_to_5(o, bytes, m));
  return m;
}

// Editions 2 and 3 date from the 1990s, so 90 to 99 are 1990 to 1999 and 0 to 89
// are 2000 to 2089. The year 2000 is also written 100 (it closes the century that
// began in 1901), and some encoders count the years from 1900 (108 for 2008), so
// 100 and above are 1900 plus the value.
uint16_t year_of_century_to_year(uint8_t year_of_century) {
  if (year_of_century >= 90) return static_cast<uint16_t>(1900 + year_of_century);
  return static_cast<uint16_t>(2000 + year_of_century);
}

}  // namespace tarnwel
