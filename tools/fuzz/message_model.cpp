// Reading a parsed message into a model and writing a model back as consistent octets.
#include "message_model.hpp"

#include "message/descriptor_code.hpp"

namespace tarnwel::fuzz {
namespace {

void append_u24(std::vector<uint8_t>& out, uint64_t value) {
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void put_u24(std::vector<uint8_t>& out, std::size_t at, uint64_t value) {
  out[at] = static_cast<uint8_t>(value >> 16);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
  out[at + 2] = static_cast<uint8_t>(value);
}

// Section 1 octet 8 says whether section 2 follows.
constexpr std::size_t kOptionalFlagOctet = 9;

}  // namespace

void append_descriptor(std::vector<uint8_t>& out, uint32_t code) {
  const uint32_t f = descriptor_f(code) & 3;
  const uint32_t x = descriptor_x(code) & 63;
  const uint32_t y = descriptor_y(code) & 255;
  const uint32_t packed = (f << 14) | (x << 8) | y;
  out.push_back(static_cast<uint8_t>(packed >> 8));
  out.push_back(static_cast<uint8_t>(packed));
}

bool model_from_bytes(ByteView bytes, MessageModel& out) {
  Result<BufrMessage> parsed = parse_message(bytes);
  if (!parsed) return false;
  const BufrMessage& m = parsed.value();
  MessageModel model;
  const ByteView s1 = bytes.subspan(8, m.section1_length);
  model.section1.assign(s1.begin(), s1.end());
  model.has_section2 = m.local_section_present;
  if (m.local_section_present && m.section2_length > 4) {
    const ByteView s2 = bytes.subspan(8 + m.section1_length + 4, m.section2_length - 4);
    model.section2.assign(s2.begin(), s2.end());
  }
  const uint64_t s3 = 8 + m.section1_length + m.section2_length;
  model.subsets = m.number_of_subsets;
  model.flags = bytes[s3 + 6];
  model.descriptors = m.unexpanded_descriptors;
  model.pad_octet = (m.section3_length - 7) % 2 != 0;
  const ByteView data = m.section4_data(bytes);
  model.data.assign(data.begin(), data.end());
  out = std::move(model);
  return true;
}

MessageModel initial_model(uint8_t master_version) {
  MessageModel model;
  // length 22, master table 0, centre 98, subcentre 0, update 0, no section 2, category 0,
  // subcategories 0 and 0, master version, local version 0, 2026-12-08 12:00:00.
  model.section1 = {0, 0, 22, 0, 0, 98, 0, 0, 0, 0, 0, 0, 0, master_version, 0,
                    0x07, 0xEA, 12, 8, 12, 0, 0};
  model.descriptors = {301011, 1001, 12101};
  model.data = std::vector<uint8_t>(8, 0x5A);
  return model;
}

std::vector<uint8_t> model_to_bytes(const MessageModel& model) {
  std::vector<uint8_t> out = {'B', 'U', 'F', 'R', 0, 0, 0, 4};
  std::vector<uint8_t> section1 = model.section1;
  if (section1.size() < 18) section1.resize(18, 0);
  put_u24(section1, 0, section1.size());
  section1[kOptionalFlagOctet] = model.has_section2 ? 0x80 : 0;
  out.insert(out.end(), section1.begin(), section1.end());
  if (model.has_section2) {
    append_u24(out, 4 + model.section2.size());
    out.push_back(0);
    out.insert(out.end(), model.section2.begin(), model.section2.end());
  }
  const std::size_t area = model.descriptors.size() * 2 + (model.pad_octet ? 1 : 0);
  append_u24(out, 7 + area);
  out.push_back(0);
  out.push_back(static_cast<uint8_t>(model.subsets >> 8));
  out.push_back(static_cast<uint8_t>(model.subsets));
  out.push_back(model.flags);
  for (const uint32_t code : model.descriptors) append_descriptor(out, code);
  if (model.pad_octet) out.push_back(0);
  append_u24(out, 4 + model.data.size());
  out.push_back(0);
  out.insert(out.end(), model.data.begin(), model.data.end());
  out.insert(out.end(), {'7', '7', '7', '7'});
  put_u24(out, 4, out.size());
  return out;
}

}  // namespace tarnwel::fuzz
