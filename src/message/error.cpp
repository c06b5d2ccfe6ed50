// Composing the texts of the table of error kinds with their arguments and places.
#include "message/error.hpp"

#include <initializer_list>
#include <iterator>
#include <system_error>

#include "message/descriptor_code.hpp"

namespace tarnwel {

namespace {

enum class ErrorFamily : uint8_t {
#define TARNWEL_ERROR_FAMILY(family, form) family,
#include "message/error_kinds.def"
};

constexpr std::string_view kFamilyForms[] = {
#define TARNWEL_ERROR_FAMILY(family, form) form,
#include "message/error_kinds.def"
};

constexpr ErrorFamily kKindFamilies[] = {
#define TARNWEL_ERROR(kind, family, text) ErrorFamily::family,
#include "message/error_kinds.def"
};

constexpr std::string_view kWordTexts[] = {
#define TARNWEL_ERROR_WORD(word, text) text,
#include "message/error_kinds.def"
};

enum class PlaceForm : uint8_t {
#define TARNWEL_ERROR_FORM(form, text) form,
#include "message/error_kinds.def"
};

constexpr std::string_view kPlaceForms[] = {
#define TARNWEL_ERROR_FORM(form, text) text,
#include "message/error_kinds.def"
};

// `form` with each "{}" replaced by the next of `args`.
template <class Args>
std::string compose(std::string_view form, const Args& args) {
  std::string out;
  auto next = std::begin(args);
  for (std::size_t i = 0; i < form.size(); ++i) {
    if (form[i] == '{' && i + 1 < form.size() && form[i + 1] == '}' && next != std::end(args)) {
      out += *next++;
      ++i;
    } else {
      out += form[i];
    }
  }
  return out;
}

std::string compose(std::string_view form, std::initializer_list<std::string_view> args) {
  return compose<std::initializer_list<std::string_view>>(form, args);
}

// Families whose form shows the place themselves.
bool names_its_place(ErrorFamily family) {
  return family == ErrorFamily::ParseAtLine || family == ErrorFamily::IoAtFile;
}

std::string_view form_of(PlaceForm form) { return kPlaceForms[static_cast<std::size_t>(form)]; }

}  // namespace

std::string format_code(uint64_t code) {
  std::string digits = std::to_string(code);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return digits;
}

ErrorArg::ErrorArg(ErrorWord word) : text_(kWordTexts[static_cast<std::size_t>(word)]) {}

ErrorArg::ErrorArg(const BufrError& error) : text_(error.detail()) {}

ErrorArg ErrorArg::code(uint64_t code) { return ErrorArg(format_code(code)); }

ErrorArg ErrorArg::byte(uint8_t byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char text[] = {'0', 'x', kHex[byte >> 4], kHex[byte & 15]};
  return ErrorArg(std::string(text, sizeof text));
}

BufrError::BufrError(ErrorKind kind, std::vector<std::string> args) : kind_(kind) {
  if (!args.empty()) details().args = std::move(args);
}

BufrError::BufrError(const BufrError& other) : kind_(other.kind_) { *this = other; }

BufrError& BufrError::operator=(const BufrError& other) {
  if (this == &other) return *this;
  kind_ = other.kind_;
  details_.reset();
  if (other.details_) {
    details_ = std::make_unique<Details>(*other.details_);
  }
  return *this;
}

BufrError::Details& BufrError::details() {
  if (!details_) details_ = std::make_unique<Details>();
  return *details_;
}

std::string system_message(int error_number) {
  return std::generic_category().message(error_number);
}

std::string BufrError::os_error_text(int error_number) {
  return os_error<ErrorKind::IoOsError>(error_number).detail();
}

std::string BufrError::detail() const {
  const std::string_view text = detail::kKindTexts[static_cast<std::size_t>(kind_)];
  if (!details_) return std::string(text);
  return compose(text, details_->args);
}

std::string BufrError::display() const {
  const ErrorFamily family = kKindFamilies[static_cast<std::size_t>(kind_)];
  const std::string_view form = kFamilyForms[static_cast<std::size_t>(family)];
  const std::string body = detail();
  if (!names_its_place(family)) return compose(form, {body});
  const ErrorPlace* where = place();
  const std::string path = where ? where->path : std::string();
  if (family == ErrorFamily::IoAtFile) return compose(form, {path, body});
  const std::string line = std::to_string(where ? where->line : 0);
  return compose(form, {path, line, body});
}

const ErrorPlace* BufrError::place() const {
  if (!details_ || (details_->place.path.empty() && details_->place.line == 0)) return nullptr;
  return &details_->place;
}

BufrError& BufrError::in_file(const std::string& path) {
  ErrorPlace& place = details().place;
  if (place.path.empty()) place.path = path;
  return *this;
}

BufrError& BufrError::at_line(uint64_t line) {
  ErrorPlace& place = details().place;
  if (place.line == 0) place.line = line;
  return *this;
}

std::string BufrError::placed_display() const {
  const ErrorPlace* where = place();
  const ErrorFamily family = kKindFamilies[static_cast<std::size_t>(kind_)];
  if (where == nullptr || where->path.empty() || names_its_place(family)) return display();
  if (where->line == 0) return compose(form_of(PlaceForm::File), {where->path, display()});
  return compose(form_of(PlaceForm::FileLine),
                 {where->path, std::to_string(where->line), display()});
}

}  // namespace tarnwel
