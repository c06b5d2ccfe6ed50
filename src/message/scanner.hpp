// Splitting a buffer into the byte ranges of the messages it holds.
#pragma once

#include <cstdint>
#include <vector>

#include "message/message.hpp"

namespace tarnwel {

struct MessageRange {
  uint64_t start = 0;
  uint64_t length = 0;

  ByteView in(ByteView buffer) const { return buffer.subspan(start, length); }
};

// Every message range, found by the "BUFR" marker and the declared total length.
Result<std::vector<MessageRange>> scan_messages(ByteView buffer);

// The first message range; the whole buffer is still scanned so that a broken
// later message is reported.
Result<MessageRange> first_message(ByteView buffer);

// Every message of the buffer, parsed; the first failure ends the whole call.
Result<std::vector<BufrMessage>> parse_all_messages(ByteView buffer);

}  // namespace tarnwel
