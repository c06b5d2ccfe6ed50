// A message as the mutator edits it: section contents apart, framing written afresh on output.
#pragma once

#include <cstdint>
#include <vector>

#include "message/message.hpp"

namespace tarnwel::fuzz {

struct MessageModel {
  std::vector<uint8_t> section1;  // whole section 1, its length octets included
  std::vector<uint8_t> section2;  // the local section's content after its 4 octets; none if empty
  bool has_section2 = false;
  uint16_t subsets = 1;
  uint8_t flags = 0x80;           // section 3 octet 7: observed, compressed
  std::vector<uint32_t> descriptors;
  bool pad_octet = false;         // one octet after the descriptors, as older encoders write
  std::vector<uint8_t> data;      // section 4 after its 4 octets
};

// The model of a message that parses; false (and `out` untouched) otherwise.
bool model_from_bytes(ByteView bytes, MessageModel& out);

// A plain SYNOP-like start: section 1 of 22 octets naming master tables `version`.
MessageModel initial_model(uint8_t master_version);

// Section 0 to 5 with every length and the 7777 consistent with the content.
std::vector<uint8_t> model_to_bytes(const MessageModel& model);

// The two section 3 octets of a descriptor code (F, X and Y each taken modulo their range).
void append_descriptor(std::vector<uint8_t>& out, uint32_t code);

}  // namespace tarnwel::fuzz
