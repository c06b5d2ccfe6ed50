// The one error type of the core: a kind from the table of error kinds, its arguments, its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace tarnwel {

// One kind per text of the table; the table is the only place texts are written.
enum class ErrorKind : uint8_t {
#define TARNWEL_ERROR(kind, family, text) kind,
#include "message/error_kinds.def"
};

// Words an argument names, so that a call site writes no text of its own.
enum class ErrorWord : uint8_t {
#define TARNWEL_ERROR_WORD(word, text) word,
#include "message/error_kinds.def"
};

namespace detail {

// The number of "{}" in a kind's text, so make_error can check its arguments.
constexpr std::size_t placeholder_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '{' && text[i + 1] == '}') ++count;
  }
  return count;
}

inline constexpr std::string_view kKindTexts[] = {
#define TARNWEL_ERROR(kind, family, text) text,
#include "message/error_kinds.def"
};

}  // namespace detail

class BufrError;

// One argument of an error text, already written out.
class ErrorArg {
 public:
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
  ErrorArg(T number) : text_(std::to_string(number)) {}
  ErrorArg(std::string text) : text_(std::move(text)) {}
  ErrorArg(std::string_view text) : text_(text) {}
  ErrorArg(const char*) = delete;  // a literal belongs in the table, as a word
  ErrorArg(ErrorWord word);
  // The text of another error, without its family's prefix.
  ErrorArg(const BufrError& error);

  // A descriptor code as its six digits FXXYYY.
  static ErrorArg code(uint64_t code);
  // A byte as 0xHH.
  static ErrorArg byte(uint8_t byte);

  std::string&& take() && { return std::move(text_); }

 private:
  std::string text_;
};

// Where a table error happened: the file, and the line when a line is at fault (0: none).
struct ErrorPlace {
  std::string path;
  uint64_t line = 0;
};

class BufrError {
 public:
  BufrError(ErrorKind kind, std::vector<std::string> args);
  BufrError(const BufrError& other);
  BufrError& operator=(const BufrError& other);
  BufrError(BufrError&&) noexcept = default;
  BufrError& operator=(BufrError&&) noexcept = default;
  ~BufrError() = default;

  // The system's text for an errno value, as "<description> (os error <n>)".
  static std::string os_error_text(int error_number);

  ErrorKind kind() const { return kind_; }
  // The whole user-visible text, as the module shows it.
  std::string display() const;
  // The kind's text with its arguments, without its family's prefix or place.
  std::string detail() const;

  // The place, once one is known; the first one given is kept, as it is the innermost.
  const ErrorPlace* place() const;
  BufrError& in_file(const std::string& path);
  BufrError& at_line(uint64_t line);
  // display() preceded by the place, in the reading API's form; a text that
  // already names its place is shown as it is.
  std::string placed_display() const;

 private:
  explicit BufrError(ErrorKind kind) : kind_(kind) {}
  friend BufrError placeholder_error();

  struct Details {
    std::vector<std::string> args;
    ErrorPlace place;
  };
  Details& details();

  ErrorKind kind_;
  // Only a failure allocates; a kind without arguments or place allocates nothing.
  std::unique_ptr<Details> details_;
};

// The stand-in a successful Status holds, never shown.
inline BufrError placeholder_error() { return BufrError(ErrorKind::MissingMarker); }

// The error of `Kind` with `args` for its text's "{}", in order.
template <ErrorKind Kind, class... Args>
BufrError make_error(Args&&... args) {
  static_assert(detail::placeholder_count(detail::kKindTexts[static_cast<std::size_t>(Kind)]) ==
                    sizeof...(Args),
                "the arguments must fill the kind's text");
  std::vector<std::string> texts;
  if constexpr (sizeof...(Args) != 0) {
    texts.reserve(sizeof...(Args));
    (texts.push_back(ErrorArg(std::forward<Args>(args)).take()), ...);
  }
  return BufrError(Kind, std::move(texts));
}

// The system's description of an errno value.
std::string system_message(int error_number);

// The error of a kind whose text is "{} (os error {})", for an errno value.
template <ErrorKind Kind>
BufrError os_error(int error_number) {
  return make_error<Kind>(system_message(error_number), error_number);
}

// A failed Status or Result given the file it read, unless it has a place already.
template <class R>
R in_file(R&& result, const std::string& path) {
  if (!result.ok()) result.error().in_file(path);
  return std::forward<R>(result);
}

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
  BufrError error_ = placeholder_error();  // never read on success
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
