// Upper bounds of expansion and decode work, from the descriptors, the tables, the subset count
// and the size of the data.
#include "harness_budget.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "decode/section4_decoder.hpp"
#include "message/descriptor_code.hpp"

namespace tarnwel::fuzz {
namespace {

constexpr uint64_t kUnbounded = UINT64_MAX;

uint64_t add(uint64_t a, uint64_t b) { return a > kUnbounded - b ? kUnbounded : a + b; }
uint64_t mul(uint64_t a, uint64_t b) {
  uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? kUnbounded : product;
}

struct Work {
  uint64_t visits = 0;    // expansion: fixed replications unrolled, delayed ones once
  uint64_t steps = 0;     // one subset's walk (compressed: the whole walk)
  uint64_t values = 0;    // one subset's values (compressed: columns)
  uint64_t min_bits = 0;  // the fewest data bits one pass can read
  bool cut = false;       // met the depth limit, so valid only at the depth it was made for

  void operator+=(const Work& other) {
    visits = add(visits, other.visits);
    steps = add(steps, other.steps);
    values = add(values, other.values);
    min_bits = add(min_bits, other.min_bits);
    cut = cut || other.cut;
  }
};

// Which operators are reachable: those that can shrink what an element reads, and those that
// can make a replication factor larger than its table width allows.
struct Reach {
  bool shrinks_width = false;   // 2 01 below 128, 2 06
  bool new_references = false;  // 2 03: elements read the new reference's width instead
  bool text_widths = false;     // 2 08
  bool grows_factors = false;   // 2 01, 2 02, 2 03, 2 06, 2 07
  bool associates = false;      // 2 04: a field before each element

  void note(uint32_t code) {
    if (descriptor_f(code) != 2) return;
    const uint32_t x = descriptor_x(code);
    const uint32_t y = descriptor_y(code) & 255;
    shrinks_width |= (x == 1 && y != 0 && y < 128) || x == 6;
    new_references |= x == 3 && y != 0 && y != 255;
    text_widths |= x == 8 && y != 0;
    grows_factors |= x == 1 || x == 2 || x == 3 || x == 6 || x == 7;
    associates |= x == 4 && y != 0;
  }
};

class Bounder {
 public:
  Bounder(const TableSet& tables, bool compressed, uint64_t data_bits)
      : tables_(tables), compressed_(compressed), data_bits_(data_bits) {}

  void scan(std::span<const uint32_t> codes) {
    for (const uint32_t code : codes) {
      reach_.note(code);
      if (descriptor_f(code) != 3 || !scanned_.insert(code).second) continue;
      if (const SequenceDefinition* sequence = tables_.get_sequence(code)) scan(sequence->members);
    }
  }

  Work list(std::span<const uint32_t> codes, unsigned depth) {
    Work work;
    // Both walks stop here with an error, after one more step.
    if (depth > 64) return Work{1, 1, 0, 0, true};
    for (std::size_t i = 0; i < codes.size(); ++i) {
      const uint32_t code = codes[i];
      switch (descriptor_f(code)) {
        case 0: work += element(code); break;
        case 1: work += replication(codes, i, depth); break;
        case 2: work += Work{1, 1, 1, 0, false}; break;
        default: work += sequence(code, depth); break;
      }
    }
    return work;
  }

  // Passes that fit in the data; one more may start and fail.
  uint64_t passes_within_data(uint64_t min_bits) const {
    return min_bits == 0 ? kUnbounded : data_bits_ / min_bits + 1;
  }

 private:
  // An element, with an associated field before it when 2 04 is reachable.
  Work element(uint32_t code) const {
    return Work{1, 1, reach_.associates ? 2u : 1u, element_min_bits(code), false};
  }

  uint64_t element_min_bits(uint32_t code) const {
    const ElementDefinition* element = tables_.get_element(code);
    if (element == nullptr) return 0;
    const uint64_t extra = compressed_ ? 6 : 0;  // the increment width
    uint64_t bits = reach_.shrinks_width ? extra : element->width + extra;
    if (reach_.new_references) bits = std::min<uint64_t>(bits, 1);
    if (reach_.text_widths) bits = std::min<uint64_t>(bits, 8);
    return bits;
  }

  // Moves `i` to the last code the replication uses.
  Work replication(std::span<const uint32_t> codes, std::size_t& i, unsigned depth) {
    const uint32_t code = codes[i];
    const std::size_t count = descriptor_x(code);
    const uint64_t fixed = descriptor_y(code) & 255;
    if (count == 0 || i + count >= codes.size()) return Work{1, 1, 0, 0, false};
    const bool delayed = fixed == 0;
    if (delayed && i + count + 1 >= codes.size()) return Work{1, 1, 0, 0, false};
    const std::size_t first = i + (delayed ? 2 : 1);
    const Work body = list(codes.subspan(first, count), depth + 1);
    Work work{1, 1, 0, 0, body.cut};
    if (delayed) work += Work{1, 0, 1, element_min_bits(codes[i + 1]), false};
    const uint64_t times =
        std::min(delayed ? largest_factor(codes[i + 1]) : fixed, passes_within_data(body.min_bits));
    work.visits = add(work.visits, mul(body.visits, delayed ? 1 : fixed));
    work.steps = add(work.steps, mul(body.steps, times));
    work.values = add(work.values, mul(body.values, times));
    if (!delayed) work.min_bits = add(work.min_bits, mul(body.min_bits, fixed));
    i = first + count - 1;
    return work;
  }

  Work sequence(uint32_t code, unsigned depth) {
    auto known = memo_.find(code);
    if (known != memo_.end()) return known->second;
    const SequenceDefinition* definition = tables_.get_sequence(code);
    Work work{1, 1, 0, 0, false};
    if (definition != nullptr) work += list(definition->members, depth + 1);
    if (!work.cut) memo_.emplace(code, work);
    return work;
  }

  // The largest count a factor element can give: (reference + all ones) / 10^scale; the
  // compressed decoder refuses an R0 plus increment that passes the width.
  uint64_t largest_factor(uint32_t code) const {
    const ElementDefinition* element = tables_.get_element(code);
    if (element == nullptr || element->unit == "CCITT IA5") return 0;
    if (reach_.grows_factors || element->width > 63) return kUnbounded;
    const double largest = (std::ldexp(1.0, element->width) - 1.0 +
                            static_cast<double>(element->reference)) /
                           std::pow(10.0, element->scale);
    if (!(largest > 0.0)) return 0;
    return largest >= 1.8e19 ? kUnbounded : static_cast<uint64_t>(largest);
  }

  const TableSet& tables_;
  bool compressed_;
  uint64_t data_bits_;
  Reach reach_;
  std::unordered_set<uint32_t> scanned_;
  std::unordered_map<uint32_t, Work> memo_;
};

}  // namespace

WorkBound bound_work(const TableSet& tables, const BufrMessage& message) {
  Bounder bounder(tables, message.compressed_data, mul(message.section4_data_length, 8));
  bounder.scan(message.unexpanded_descriptors);
  const Work pass = bounder.list(message.unexpanded_descriptors, 0);
  const uint64_t subsets = message.number_of_subsets;
  WorkBound bound;
  bound.expansion_visits = pass.visits;
  if (message.compressed_data) {
    // Once for all subsets; a column weighs at least three values.
    bound.walk_steps = pass.steps;
    bound.values = subsets == 0 ? 0 : mul(pass.values, std::max<uint64_t>(subsets, 3));
  } else {
    const uint64_t passes = std::min(subsets, bounder.passes_within_data(pass.min_bits));
    bound.walk_steps = mul(pass.steps, passes);
    bound.values = mul(pass.values, passes);
  }
  return bound;
}

bool expansion_within_budget(const WorkBound& bound) {
  return bound.expansion_visits <= kMaxExpansionVisits;
}

std::optional<Result<DecodedResult>> decode_within_budget(const BufrMessage& message,
                                                          const TableSet& tables,
                                                          ByteView section4_data) {
  if (bound_work(tables, message).walk_steps > kMaxWalkSteps) return std::nullopt;
  DecodeOptions options;
  options.max_values = kReaderMaxValues;
  options.caller_budget = true;
  options.step_over_unknown_local = true;
  return decode_section4(message, tables, section4_data, options);
}

}  // namespace tarnwel::fuzz
