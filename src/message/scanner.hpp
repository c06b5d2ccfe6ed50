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

// What a scan finds from one position on.
enum class ScanOutcome : uint8_t {
  kMessage,     // a whole message lies in the buffer at `range`
  kEnd,         // no further marker
  kIncomplete,  // a message starts at `range.start` but ends past the buffer
};

struct ScanStep {
  ScanOutcome outcome = ScanOutcome::kEnd;
  MessageRange range;
};

// The next message at or after `from`. With `more_follows` (a stream whose rest is
// not read yet) a message that runs past the buffer is kIncomplete; without it,
// that is the scan's error, as in scan_messages.
Result<ScanStep> next_message(ByteView buffer, uint64_t from, bool more_follows);

// Every message range, found by the "BUFR" marker and the declared total length.
Result<std::vector<MessageRange>> scan_messages(ByteView buffer);

// The first message range; the whole buffer is still scanned so that a broken
// later message is reported.
Result<MessageRange> first_message(ByteView buffer);

// Every message of the buffer, parsed; the first failure ends the whole call.
Result<std::vector<BufrMessage>> parse_all_messages(ByteView buffer);

}  // namespace tarnwel
