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

Result<ScanStep> next_message(ByteView buffer, uint64_t from, bool more_follows) {
  const uint64_t n = buffer.size();
  if (from > n || n - from < 4) {
    // A marker may still begin in the last octets of a buffer that goes on.
    if (more_follows) return ScanStep{ScanOutcome::kIncomplete, {from < n ? from : n, 0}};
    return ScanStep{};
  }
  const uint64_t marker = find_marker(buffer, from);
  if (marker >= n) {
    if (more_follows) return ScanStep{ScanOutcome::kIncomplete, {n - 3, 0}};
    return ScanStep{};
  }
  const ScanStep incomplete{ScanOutcome::kIncomplete, {marker, 0}};
  if (n - marker < 8) {
    if (more_follows) return incomplete;
    return make_error<ErrorKind::MessageTooShort>();
  }
  const uint64_t length = (uint64_t{buffer[marker + 4]} << 16) |
                          (uint64_t{buffer[marker + 5]} << 8) | buffer[marker + 6];
  // A declared length of 0 would leave the scan where it is; no message is
  // shorter than its own section 0, so report it as too short.
  if (length == 0) return make_error<ErrorKind::MessageTooShort>();
  if (length > n - marker) {
    if (more_follows) return ScanStep{ScanOutcome::kIncomplete, {marker, length}};
    return make_error<ErrorKind::SectionTruncated>(0, marker);
  }
  return ScanStep{ScanOutcome::kMessage, {marker, length}};
}

Result<std::vector<MessageRange>> scan_messages(ByteView buffer) {
  std::vector<MessageRange> ranges;
  uint64_t position = 0;
  while (true) {
    TARNWEL_ASSIGN(const ScanStep step, next_message(buffer, position, false));
    if (step.outcome != ScanOutcome::kMessage) break;
    ranges.push_back(step.range);
    position = step.range.start + step.range.length;
  }
  return ranges;
}

Result<MessageRange> first_message(ByteView buffer) {
  TARNWEL_ASSIGN(std::vector<MessageRange> ranges, scan_messages(buffer));
  if (ranges.empty()) return make_error<ErrorKind::MissingMarker>();
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
