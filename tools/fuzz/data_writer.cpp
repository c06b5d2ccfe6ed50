// Writes section 4 bits by walking the descriptors roughly as a decoder reads them.
#include "data_writer.hpp"

#include <span>

#include "message/descriptor_code.hpp"

namespace tarnwel::fuzz {
namespace {

class BitWriter {
 public:
  explicit BitWriter(std::size_t max_bits) : max_bits_(max_bits) {}

  bool full() const { return bits_ >= max_bits_; }
  // The low `width` bits of `value`, most significant first; widths past 64 add zeros in front.
  void write(uint64_t value, uint32_t width) {
    for (uint32_t i = width; i > 0 && !full(); --i) {
      const bool bit = i <= 64 && ((value >> (i - 1)) & 1) != 0;
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
      ++bits_;
    }
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  std::size_t bits_ = 0;
  std::size_t max_bits_;
};

// What the width, text and local operators have set.
struct Widths {
  int32_t change = 0;
  bool local_pending = false;
  uint32_t local = 0;
  uint32_t text = 0;  // 0: the table's
  uint32_t associated = 0;
  uint32_t new_reference = 0;
};

class DataWriter {
 public:
  DataWriter(const TableSet& tables, Rng& rng, std::size_t max_bytes, uint32_t subsets,
             bool compressed)
      : tables_(tables), rng_(rng), out_(max_bytes * 8), subsets_(subsets),
        compressed_(compressed) {}

  void write(std::span<const uint32_t> codes) {
    if (compressed_) {
      walk(codes, 0);
      return;
    }
    for (uint32_t s = 0; s < subsets_ && !done(); ++s) {
      widths_ = Widths();
      walk(codes, 0);
    }
  }
  std::vector<uint8_t> take() { return out_.take(); }

 private:
  // Descriptors that read nothing (markers, unknown codes) fill no bits, so steps end a walk too.
  bool done() const { return out_.full() || steps_ > kMaxSteps; }

  void walk(std::span<const uint32_t> codes, unsigned depth) {
    if (depth > 64) return;
    for (std::size_t i = 0; i < codes.size() && !done(); ++i) {
      ++steps_;
      const uint32_t code = codes[i];
      switch (descriptor_f(code)) {
        case 0: element(code); break;
        case 1: replication(codes, i, depth); break;
        case 2: operation(code); break;
        default: {
          const SequenceDefinition* sequence = tables_.get_sequence(code);
          if (sequence != nullptr) walk(sequence->members, depth + 1);
        }
      }
    }
  }

  uint64_t value_of(uint32_t width) {
    const uint64_t ones = width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
    if (rng_.one_in(8)) return ones;
    if (rng_.one_in(7)) return 0;
    return rng_.next() & ones;
  }

  // One number: the value, or in compressed data R0, the increment width and the increments.
  void number(uint32_t width) {
    out_.write(value_of(width), width);
    if (!compressed_) return;
    const uint32_t increment = rng_.one_in(2) ? 0 : static_cast<uint32_t>(rng_.below(width + 1));
    out_.write(increment, 6);
    for (uint32_t s = 0; s < subsets_ && increment != 0 && !out_.full(); ++s) {
      out_.write(value_of(increment), increment);
    }
  }

  void text(uint32_t width) {
    for (uint32_t bit = 0; bit < width && !out_.full(); bit += 8) {
      out_.write(rng_.one_in(4) ? 0x20 : 0x41 + rng_.below(26), width - bit < 8 ? width - bit : 8);
    }
    if (!compressed_) return;
    const uint32_t characters = rng_.one_in(2) ? 0 : width / 8;
    out_.write(characters, 6);
    for (uint32_t s = 0; s < subsets_ && characters != 0 && !out_.full(); ++s) {
      text_bytes(characters);
    }
  }
  void text_bytes(uint32_t count) {
    for (uint32_t c = 0; c < count; ++c) out_.write(0x41 + rng_.below(26), 8);
  }

  void element(uint32_t code) {
    const ElementDefinition* element = tables_.get_element(code);
    if (element == nullptr) return;
    if (widths_.new_reference != 0) {
      out_.write(rng_.next(), widths_.new_reference);
      return;
    }
    if (widths_.associated != 0 && descriptor_x(code) != 31) number(widths_.associated);
    if (element->unit == "CCITT IA5") {
      text(widths_.text != 0 ? widths_.text : element->width);
      return;
    }
    const int64_t changed = int64_t{element->width} + widths_.change;
    const uint32_t width = changed < 1 ? 0 : static_cast<uint32_t>(changed);
    number(widths_.local_pending ? widths_.local : width);
    widths_.local_pending = false;
  }

  // A small count, written as the factor element holds it.
  uint64_t factor(uint32_t code) {
    const uint64_t count = rng_.small(4);
    const ElementDefinition* element = tables_.get_element(code);
    if (element == nullptr) return 0;
    const uint32_t width = widths_.local_pending ? widths_.local : element->width;
    out_.write(count, width);
    if (!compressed_) return count;
    // Now and then factors that differ between subsets, which compressed data cannot lay out.
    const bool varying = rng_.one_in(16);
    out_.write(varying ? 1 : 0, 6);
    for (uint32_t s = 0; varying && s < subsets_; ++s) out_.write(rng_.below(2), 1);
    return count;
  }

  void replication(std::span<const uint32_t> codes, std::size_t& i, unsigned depth) {
    const uint32_t code = codes[i];
    const std::size_t count = descriptor_x(code);
    const uint32_t fixed = descriptor_y(code) & 255;
    if (count == 0 || i + count >= codes.size()) return;
    const bool delayed = fixed == 0;
    if (delayed && i + count + 1 >= codes.size()) return;
    const uint64_t times = delayed ? factor(codes[i + 1]) : fixed;
    const auto body = codes.subspan(i + (delayed ? 2 : 1), count);
    for (uint64_t k = 0; k < times && !done(); ++k) walk(body, depth + 1);
    i += count + (delayed ? 1 : 0);
  }

  void operation(uint32_t code) {
    const uint32_t y = descriptor_y(code) & 255;
    switch (descriptor_x(code)) {
      case 1: widths_.change = y == 0 ? 0 : static_cast<int32_t>(y) - 128; break;
      case 3: widths_.new_reference = y == 255 ? 0 : y; break;
      case 4: widths_.associated = y; break;
      case 5: text(y * 8); break;
      case 6: widths_.local_pending = true; widths_.local = y; break;
      case 7: widths_.change = y == 0 ? 0 : static_cast<int32_t>((10 * y + 2) / 3); break;
      case 8: widths_.text = 8 * y; break;
      default:
        // 2 23 255 and its kin read an element the bitmap names; a guess of its width.
        if (y == 255) number(static_cast<uint32_t>(1 + rng_.below(16)));
    }
  }

  static constexpr uint64_t kMaxSteps = 200'000;

  const TableSet& tables_;
  Rng& rng_;
  BitWriter out_;
  uint64_t steps_ = 0;
  uint32_t subsets_;
  bool compressed_;
  Widths widths_;
};

}  // namespace

std::vector<uint8_t> write_section4(const MessageModel& model, const TableSet& tables, Rng& rng,
                                    std::size_t max_bytes) {
  DataWriter writer(tables, rng, max_bytes, model.subsets, (model.flags & 0x40) != 0);
  writer.write(model.descriptors);
  return writer.take();
}

}  // namespace tarnwel::fuzz
