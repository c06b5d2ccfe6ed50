// A small test harness and builders for hand-made tables and section 4 bit strings.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoded_value.hpp"
#include "message/error.hpp"
#include "tables/table_set.hpp"

namespace tarnwel::test {

void register_test(const char* name, std::function<void()> body);
void report_failure(const char* file, int line, const std::string& what);

struct Registrar {
  Registrar(const char* name, std::function<void()> body) { register_test(name, std::move(body)); }
};

#define DECODE_TEST(name)                                                        \
  static void name();                                                            \
  static const ::tarnwel::test::Registrar name##_registrar(#name, &name);       \
  static void name()

#define CHECK(cond)                                                              \
  do {                                                                           \
    if (!(cond)) ::tarnwel::test::report_failure(__FILE__, __LINE__, #cond);     \
  } while (0)

#define CHECK_EQ(a, b)                                                           \
  do {                                                                           \
    const auto check_a_ = (a);                                                   \
    const auto check_b_ = (b);                                                   \
    if (!(check_a_ == check_b_)) {                                               \
      ::tarnwel::test::report_failure(__FILE__, __LINE__,                        \
                                      std::string(#a " == " #b ": ") +           \
                                          ::tarnwel::test::show(check_a_) +      \
                                          " vs " + ::tarnwel::test::show(check_b_)); \
    }                                                                            \
  } while (0)

// The whole display text of a failed result.
#define CHECK_ERROR(result, text)                                                \
  do {                                                                           \
    const auto& check_r_ = (result);                                             \
    if (check_r_.ok()) {                                                         \
      ::tarnwel::test::report_failure(__FILE__, __LINE__, "expected error: " text); \
    } else {                                                                     \
      CHECK_EQ(check_r_.error().display(), std::string(text));                   \
    }                                                                            \
  } while (0)

template <class T>
std::string show(const T& value) {
  if constexpr (std::is_convertible_v<T, std::string>) {
    return '"' + std::string(value) + '"';
  } else if constexpr (std::is_arithmetic_v<T>) {
    std::ostringstream out;
    out.precision(17);
    out << +value;
    return out.str();
  } else {
    return "<value>";
  }
}

// Appends fields most significant bit first, as section 4 holds them.
class BitWriter {
 public:
  BitWriter& put(uint64_t value, unsigned width);
  BitWriter& text(const std::string& characters);
  std::vector<uint8_t> bytes() const;
  uint64_t size() const { return bits_.size(); }

 private:
  std::vector<bool> bits_;
};

// Elements used by the tests (codes given in the comments of test_support.cpp).
TableSet sample_tables();

struct Decoded {
  Result<DecodedValues> result;
  const DecodedValues& values() const { return result.value(); }
  std::size_t size() const { return result.ok() ? result.value().values.size() : 0; }
  const DecodedValue& at(std::size_t i) const { return result.value().values.at(i); }
  std::optional<double> number(std::size_t i) const;
  std::optional<std::string> text(std::size_t i) const;
  std::optional<std::string> meaning(std::size_t i) const;
  std::string name(std::size_t i) const { return *at(i).name; }
};

Decoded decode(const TableSet& tables, std::vector<uint32_t> descriptors,
               const std::vector<uint8_t>& data, uint16_t subsets = 1, bool compressed = false);

}  // namespace tarnwel::test
