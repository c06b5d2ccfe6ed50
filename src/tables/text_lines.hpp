// Line and word iteration shared by the free-text table files.
#pragma once

#include <cstdint>
#include <string_view>

#include "message/error.hpp"
#include "tables/utf8.hpp"

namespace tarnwel {

// Calls `visit(line, number)` for every line of `text` (split at LF, trimmed of
// white space) that is neither empty nor a "#" comment, with its number from 1;
// stops at the first failure.
template <class Visit>
Status for_each_kept_line(std::string_view text, Visit&& visit) {
  for (uint64_t number = 1; !text.empty(); ++number) {
    const std::size_t newline = text.find('\n');
    const std::string_view raw = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    // Trimming also drops the CR of a CR LF line end.
    const std::string_view line = trim_white_space(raw);
    if (line.empty() || line.front() == '#') continue;
    TARNWEL_TRY(visit(line, number));
  }
  return Status::success();
}

// Splits a line into words at runs of white space.
class WordCursor {
 public:
  explicit WordCursor(std::string_view line) : rest_(line) {}

  // The next word, or an empty view when there is none left.
  std::string_view next() {
    skip(true);
    const std::string_view start = rest_;
    skip(false);
    return start.substr(0, start.size() - rest_.size());
  }

 private:
  // Drops leading white space (or, with `space` false, leading non-space).
  void skip(bool space) {
    while (!rest_.empty()) {
      const std::size_t length = white_space_length_at(rest_, 0);
      if ((length != 0) != space) return;
      std::size_t step = length;
      if (step == 0 && static_cast<unsigned char>(rest_[0]) >= 0x80) {
        decode_utf8_at(rest_, 0, step);
      } else if (step == 0) {
        step = 1;
      }
      rest_.remove_prefix(step);
    }
  }

  std::string_view rest_;
};

}  // namespace tarnwel
