// The structure-aware mutations and the choice between them and plain byte mutation.
#include "mutator.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "data_writer.hpp"
#include "fuzz_rng.hpp"
#include "message/descriptor_code.hpp"
#include "message/scanner.hpp"
#include "message_model.hpp"

namespace tarnwel::fuzz {
namespace {

// Keeps a mutated list small enough that its data still fits the input.
constexpr std::size_t kMaxDescriptors = 600;
constexpr std::size_t kMaxData = 1 << 14;

uint32_t operator_code(uint32_t x, uint32_t y) { return 200000 + x * 1000 + (y & 255); }

// 2 01-2 08 change widths, scales, references and texts; 2 22-2 37 mark and select with bitmaps.
uint32_t random_operator(Rng& rng) {
  static const uint32_t kCommon[] = {1, 2, 3, 4, 5, 6, 7, 8, 22, 23, 24, 25, 32, 35, 36, 37};
  const uint32_t x = rng.one_in(6) ? 22 + static_cast<uint32_t>(rng.below(16))
                                   : kCommon[rng.below(std::size(kCommon))];
  if (rng.one_in(10)) return operator_code(x, static_cast<uint32_t>(rng.below(256)));
  switch (x) {
    case 1: case 2: case 7:
      return operator_code(x, rng.one_in(4) ? 0 : 120 + static_cast<uint32_t>(rng.below(17)));
    case 3:
      return operator_code(x, rng.one_in(3) ? 0 : rng.one_in(2) ? 255 : 1 + rng.below(31));
    case 4: return operator_code(x, rng.one_in(3) ? 0 : 1 + rng.below(32));
    case 5: case 8: return operator_code(x, static_cast<uint32_t>(rng.below(40)));
    case 6: return operator_code(x, static_cast<uint32_t>(rng.below(65)));
    default: return operator_code(x, rng.one_in(2) ? 0 : 255);
  }
}

class DescriptorEditor {
 public:
  DescriptorEditor(std::vector<uint32_t>& codes, const FuzzTables& tables, Rng& rng)
      : codes_(codes), tables_(tables), rng_(rng) {}

  void edit() {
    switch (rng_.below(11)) {
      case 0: insert({element()}); break;
      case 1: insert({sequence()}); break;
      case 2: insert({random_operator(rng_)}); break;
      case 3: wrap_in_replication(false); break;
      case 4: wrap_in_replication(true); break;
      case 5: erase_range(); break;
      case 6: duplicate_range(); break;
      case 7: if (!codes_.empty()) codes_[position()] = raw_code(); break;
      case 8: swap_two(); break;
      case 9: inline_sequence(); break;
      default: insert_bitmap_block(); break;
    }
    if (codes_.size() > kMaxDescriptors) codes_.resize(kMaxDescriptors);
  }

 private:
  uint32_t element() { return tables_.elements.empty() ? 1001 : rng_.pick(tables_.elements); }
  uint32_t sequence() {
    return tables_.sequences.empty() ? element() : rng_.pick(tables_.sequences);
  }
  uint32_t factor() { return rng_.pick(tables_.factors); }
  uint32_t raw_code() {
    const uint64_t bits = rng_.next();
    return descriptor_from_octets(static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits));
  }
  std::size_t position() { return rng_.below(codes_.size()); }
  std::size_t insertion_point() { return rng_.below(codes_.size() + 1); }

  void insert(std::initializer_list<uint32_t> items) {
    codes_.insert(codes_.begin() + static_cast<std::ptrdiff_t>(insertion_point()), items);
  }

  // The replication covers the `count` codes after it, so its X is the length of the range.
  void wrap_in_replication(bool delayed) {
    if (codes_.empty()) codes_.push_back(element());
    const std::size_t at = position();
    const std::size_t count = 1 + rng_.small(std::min<std::size_t>(63, codes_.size() - at));
    const uint32_t times = rng_.one_in(16) ? 255 : 1 + static_cast<uint32_t>(rng_.small(8));
    const uint32_t code = 100000 + static_cast<uint32_t>(count) * 1000 + (delayed ? 0 : times);
    auto where = codes_.begin() + static_cast<std::ptrdiff_t>(at);
    if (delayed) {
      codes_.insert(where, {code, factor()});
    } else {
      codes_.insert(where, code);
    }
  }

  void erase_range() {
    if (codes_.empty()) return;
    const std::size_t at = position();
    const std::size_t count = 1 + rng_.small(codes_.size() - at);
    codes_.erase(codes_.begin() + static_cast<std::ptrdiff_t>(at),
                 codes_.begin() + static_cast<std::ptrdiff_t>(at + count));
  }

  void duplicate_range() {
    if (codes_.empty()) return;
    const std::size_t at = position();
    const std::size_t count = 1 + rng_.small(codes_.size() - at);
    const std::vector<uint32_t> copy(codes_.begin() + static_cast<std::ptrdiff_t>(at),
                                     codes_.begin() + static_cast<std::ptrdiff_t>(at + count));
    codes_.insert(codes_.begin() + static_cast<std::ptrdiff_t>(insertion_point()), copy.begin(),
                  copy.end());
  }

  void swap_two() {
    if (codes_.size() < 2) return;
    std::swap(codes_[position()], codes_[position()]);
  }

  // Replaces a sequence by its members, so that later edits reach inside it.
  void inline_sequence() {
    for (std::size_t tries = 0; tries < 4 && !codes_.empty(); ++tries) {
      const std::size_t at = position();
      const SequenceDefinition* definition = tables_.tables.get_sequence(codes_[at]);
      if (definition == nullptr) continue;
      const std::vector<uint32_t> members = definition->members;
      codes_.erase(codes_.begin() + static_cast<std::ptrdiff_t>(at));
      codes_.insert(codes_.begin() + static_cast<std::ptrdiff_t>(at), members.begin(),
                    members.end());
      return;
    }
    insert({sequence()});
  }

  // Quality information, substituted, retained and difference values after a bitmap.
  void insert_bitmap_block() {
    const uint32_t n = 1 + static_cast<uint32_t>(rng_.small(6));
    const uint32_t bitmap = 101000 + n;
    const uint32_t kind = static_cast<uint32_t>(rng_.below(5));
    const uint32_t marker = kind == 0 ? 222000 : kind == 1 ? 223000 : kind == 2 ? 224000
                            : kind == 3 ? 225000 : 232000;
    std::vector<uint32_t> block;
    block.reserve(7);
    block.push_back(marker);
    if (rng_.one_in(2)) block.push_back(236000);
    block.push_back(bitmap);
    block.push_back(31031);
    block.push_back(100000 + 1000 + n);
    block.push_back(kind == 0 ? 33007 : marker + 255);  // confidences, or the values themselves
    if (rng_.one_in(2)) block.push_back(rng_.one_in(2) ? 237000 : 235000);
    codes_.insert(codes_.begin() + static_cast<std::ptrdiff_t>(insertion_point()), block.begin(),
                  block.end());
  }

  std::vector<uint32_t>& codes_;
  const FuzzTables& tables_;
  Rng& rng_;
};

uint16_t new_subset_count(Rng& rng, uint16_t old) {
  switch (rng.below(6)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return static_cast<uint16_t>(2 + rng.small(8));
    case 3: return 65535;
    case 4: return static_cast<uint16_t>(old + 1);
    default: return static_cast<uint16_t>(rng.next());
  }
}

// Section 1 and 2 and the section 4 bytes, as bytes.
void edit_surroundings(MessageModel& model, Rng& rng, RawMutator raw) {
  switch (rng.below(5)) {
    case 0:
      model.has_section2 = !model.has_section2;
      model.section2.assign(rng.small(12), static_cast<uint8_t>(rng.next()));
      break;
    case 1:
      model.section1.resize(18 + rng.small(16), 0);
      if (model.section1.size() > 13) model.section1[13] = static_cast<uint8_t>(rng.below(45));
      break;
    case 2:
      model.pad_octet = !model.pad_octet;
      break;
    default: {
      const std::size_t size = model.data.size();
      model.data.resize(size + 64 + size / 4);
      model.data.resize(raw(model.data.data(), size, model.data.size()));
    }
  }
}

// Applies one to four edits; true when the section 4 layout no longer matches the data.
bool edit_model(MessageModel& model, const FuzzTables& tables, Rng& rng, RawMutator raw) {
  bool layout_changed = false;
  const uint64_t edits = 1 + rng.small(4);
  for (uint64_t e = 0; e < edits; ++e) {
    switch (rng.below(8)) {
      case 0: model.subsets = new_subset_count(rng, model.subsets); layout_changed = true; break;
      case 1: model.flags ^= rng.one_in(4) ? 0x80 : 0x40; layout_changed = true; break;
      case 2: edit_surroundings(model, rng, raw); break;
      case 3: model.data.resize(rng.below(model.data.size() + 1)); break;
      default: DescriptorEditor(model.descriptors, tables, rng).edit(); layout_changed = true;
    }
  }
  return layout_changed;
}

// Now and then a message cut short, a declared length that lies, or two messages in a row.
void damage_framing(std::vector<uint8_t>& bytes, const std::vector<uint8_t>& other, Rng& rng) {
  switch (rng.below(16)) {
    case 0: bytes.resize(rng.below(bytes.size())); break;
    case 1: {
      bytes.resize(8 + rng.below(bytes.size() - 8));
      const std::size_t size = bytes.size();
      bytes[4] = static_cast<uint8_t>(size >> 16);
      bytes[5] = static_cast<uint8_t>(size >> 8);
      bytes[6] = static_cast<uint8_t>(size);
      break;
    }
    case 2: bytes[8 + rng.below(bytes.size() - 8)] = static_cast<uint8_t>(rng.next()); break;
    case 3: bytes.insert(bytes.end(), other.begin(), other.end()); break;
    case 4: bytes.insert(bytes.begin(), {'J', 'U', 'N', 'K', '\n'}); break;
    default: break;
  }
}

// A model of one message of the input, picked at random, or a fresh one.
MessageModel model_of(ByteView input, Rng& rng) {
  Result<std::vector<MessageRange>> ranges = scan_messages(input);
  MessageModel model;
  if (ranges && !ranges->empty() && model_from_bytes(rng.pick(ranges.value()).in(input), model)) {
    return model;
  }
  return initial_model(static_cast<uint8_t>(13 + rng.below(27)));
}

}  // namespace

std::size_t mutate_input(uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed,
                         const FuzzTables& tables, RawMutator raw) {
  Rng rng(seed);
  if (rng.one_in(5)) return raw(data, size, max_size);
  MessageModel model = model_of(ByteView(data, size), rng);
  const std::vector<uint8_t> before = model_to_bytes(model);
  if (edit_model(model, tables, rng, raw) && !rng.one_in(4)) {
    const std::size_t room = max_size > before.size() ? max_size - before.size() : 0;
    model.data = write_section4(model, tables.tables, rng,
                                std::min(kMaxData, room + model.data.size()));
  }
  std::vector<uint8_t> bytes = model_to_bytes(model);
  // Too long for the fuzzer's limit: give up data first, then descriptors.
  while (bytes.size() > max_size && (!model.data.empty() || !model.descriptors.empty())) {
    if (!model.data.empty()) {
      model.data.resize(model.data.size() - std::min(model.data.size(), bytes.size() - max_size));
    } else {
      model.descriptors.resize(model.descriptors.size() / 2);
    }
    bytes = model_to_bytes(model);
  }
  damage_framing(bytes, before, rng);
  const std::size_t out = std::min(bytes.size(), max_size);
  std::memcpy(data, bytes.data(), out);
  return out;
}

}  // namespace tarnwel::fuzz
