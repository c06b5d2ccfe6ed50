// The one error type of the core: a kind, a small payload, and its display text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tarnwel {

enum class ErrorKind : uint8_t {
  MessageTooShort,
  MissingMarker,
  UnsupportedEdition,
  LengthMismatch,
  SectionTruncated,
  BadTerminator,
  OddDescriptorBytes,
  SequenceNotFound,
  DelayedReplicationIncomplete,
  UnsupportedReplication,
  ElementNotFound,
  Parse,
  Io,
  ValueBudgetExceeded,
  CompressedFactorTooWide,
};

class BufrError {
 public:
  static BufrError message_too_short() { return BufrError(ErrorKind::MessageTooShort); }
  static BufrError missing_marker() { return BufrError(ErrorKind::MissingMarker); }
  static BufrError unsupported_edition(uint8_t edition) {
    return BufrError(ErrorKind::UnsupportedEdition, edition);
  }
  static BufrError length_mismatch(uint64_t declared, uint64_t actual) {
    return BufrError(ErrorKind::LengthMismatch, declared, actual);
  }
  static BufrError section_truncated(uint64_t offset, uint8_t section) {
    return BufrError(ErrorKind::SectionTruncated, offset, section);
  }
  static BufrError bad_terminator() { return BufrError(ErrorKind::BadTerminator); }
  static BufrError odd_descriptor_bytes() { return BufrError(ErrorKind::OddDescriptorBytes); }
  static BufrError sequence_not_found(uint32_t code) {
    return BufrError(ErrorKind::SequenceNotFound, code);
  }
  static BufrError delayed_replication_incomplete(uint32_t code) {
    return BufrError(ErrorKind::DelayedReplicationIncomplete, code);
  }
  static BufrError unsupported_replication(uint32_t code) {
    return BufrError(ErrorKind::UnsupportedReplication, code);
  }
  static BufrError element_not_found(uint32_t code) {
    return BufrError(ErrorKind::ElementNotFound, code);
  }
  static BufrError parse(std::string message) {
    return BufrError(ErrorKind::Parse, std::move(message));
  }
  static BufrError io(std::string message) { return BufrError(ErrorKind::Io, std::move(message)); }
  static BufrError value_budget_exceeded(uint64_t limit) {
    return BufrError(ErrorKind::ValueBudgetExceeded, limit);
  }
  static BufrError compressed_factor_too_wide(uint32_t code, uint32_t width) {
    return BufrError(ErrorKind::CompressedFactorTooWide, code, width);
  }
  // The system's text for an errno value, as "<description> (os error <n>)".
  static std::string os_error_text(int error_number);
  static BufrError io_from_errno(int error_number) { return io(os_error_text(error_number)); }
  static BufrError parse_from_errno(int error_number) { return parse(os_error_text(error_number)); }
  static BufrError invalid_utf8_stream() { return io("stream did not contain valid UTF-8"); }

  ErrorKind kind() const { return kind_; }
  uint64_t first() const { return first_; }
  uint64_t second() const { return second_; }
  // The composed message of a Parse or Io error (without its prefix).
  const std::string& message() const { return message_; }
  // The whole user-visible text.
  std::string display() const;

 private:
  explicit BufrError(ErrorKind kind, uint64_t first = 0, uint64_t second = 0)
      : kind_(kind), first_(first), second_(second) {}
  BufrError(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  ErrorKind kind_;
  uint64_t first_ = 0;
  uint64_t second_ = 0;
  std::string message_;
};

// A value or a BufrError; the core's only way to report failure.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(BufrError error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  BufrError& error() & { return std::get<1>(state_); }
  const BufrError& error() const& { return std::get<1>(state_); }
  BufrError&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, BufrError> state_;
};

// Success carries nothing; the error is kept only when there is one.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(BufrError error) : error_(std::move(error)), failed_(true) {}
  static Status success() { return Status(); }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  BufrError& error() & { return error_; }
  const BufrError& error() const& { return error_; }
  BufrError&& error() && { return std::move(error_); }

 private:
  BufrError error_ = BufrError::missing_marker();  // placeholder, never read on success
  bool failed_ = false;
};

}  // namespace tarnwel

#define TARNWEL_CONCAT_INNER(a, b) a##b
#define TARNWEL_CONCAT(a, b) TARNWEL_CONCAT_INNER(a, b)

// Returns the error of a failed Status or Result from the enclosing function.
#define TARNWEL_TRY(expr)                                            \
  do {                                                               \
    auto&& tarnwel_try_result_ = (expr);                             \
    if (!tarnwel_try_result_.ok()) {                                 \
      return std::move(tarnwel_try_result_).error();                 \
    }                                                                \
  } while (0)

#define TARNWEL_ASSIGN_IMPL(tmp, decl, expr) \
  auto tmp = (expr);                         \
  if (!tmp.ok()) return std::move(tmp).error(); \
  decl = std::move(tmp).value()

// Declares `decl` from the value of a Result, or returns its error.
#define TARNWEL_ASSIGN(decl, expr) \
  TARNWEL_ASSIGN_IMPL(TARNWEL_CONCAT(tarnwel_assign_, __LINE__), decl, expr)
