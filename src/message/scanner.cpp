// Multi-message scanning: markers and declared lengths only, no section checks.
#include "message/scanner.hpp"

#include <algorithm>
#include <cstring>

namespace tarnwel {
namespace {

constexpr uint8_t kMarker[4] = {'B', 'U', 'F', 'R'};

// Position of the next marker at or after `from`, or the buffer size when none.
uint64_t find_marker(ByteView buffer, uint64_t from) {
  const auto* begin = buffer.data() + from;
  const auto* end = buffer.data() + buffer.size();
  const auto* hit = std::search(begin, end, std::begin(kMarker), std::end(kMarker));
  return static_cast<uint64_t>(hit - buffer.data());
}

}  // namespace

Result<std::vector<MessageRange>> scan_messages(ByteView buffer) {
  std::vector<MessageRange> ranges;
  const uint64_t n = buffer.size();
  uint64_t position = 0;
  while (n - position >= 4) {
    const uint64_t marker = find_marker(buffer, position);
    if (marker >= n) break;
    if (n - marker < 8) return BufrError::message_too_short();
    const uint64_t length = (uint64_t{buffer[marker + 4]} << 16) |
                            (uint64_t{buffer[marker + 5]} << 8) | buffer[marker + 6];
    if (length > n - marker) return BufrError::section_truncated(marker, 0);
    // A declared length of 0 would leave the scan where it is; no message is
    // shorter than its own section 0, so report it as too short.
    if (length == 0) return BufrError::message_too_short();
    ranges.push_back(MessageRange{marker, length});
    position = marker + length;
  }
  return ranges;
}

Result<MessageRange> first_message(ByteView buffer) {
  TARNWEL_ASSIGN(std::vector<MessageRange> ranges, scan_messages(buffer));
  if (ranges.empty()) return BufrError::missing_marker();
  return ranges.front();
}

Result<std::vector<BufrMessage>> parse_all_messages(ByteView buffer) {
  TARNWEL_ASSIGN(std::vector<MessageRange> ranges, scan_messages(buffer));
  std::vector<BufrMessage> messages;
  messages.reserve(ranges.size());
  for (const MessageRange& range : ranges) {
    TARNWEL_ASSIGN(BufrMessage message, parse_message(range.in(buffer)));
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace tarnwel
