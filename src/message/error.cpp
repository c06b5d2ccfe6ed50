// Display texts of every error kind, written once.
#include "message/error.hpp"

#include <system_error>

#include "message/descriptor_code.hpp"

namespace tarnwel {

std::string format_code(uint64_t code) {
  std::string digits = std::to_string(code);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return digits;
}

std::string BufrError::os_error_text(int error_number) {
  return std::generic_category().message(error_number) + " (os error " +
         std::to_string(error_number) + ")";
}

std::string BufrError::display() const {
  using std::to_string;
  switch (kind_) {
    case ErrorKind::MessageTooShort:
      return "message is too short to be BUFR";
    case ErrorKind::MissingMarker:
      return "missing BUFR marker";
    case ErrorKind::UnsupportedEdition:
      return "unsupported BUFR edition " + to_string(first_) + "; only edition 4 is implemented";
    case ErrorKind::LengthMismatch:
      return "declared length " + to_string(first_) + " does not match buffer length " +
             to_string(second_);
    case ErrorKind::SectionTruncated:
      return "section " + to_string(second_) + " at offset " + to_string(first_) +
             " is truncated";
    case ErrorKind::BadTerminator:
      return "section 5 terminator is not 7777";
    case ErrorKind::OddDescriptorBytes:
      return "section 3 descriptor area has odd byte count";
    case ErrorKind::SequenceNotFound:
      return "descriptor " + format_code(first_) + " was not found in Table D";
    case ErrorKind::DelayedReplicationIncomplete:
      return "delayed replication descriptor " + format_code(first_) +
             " is missing its replication factor or replicated descriptors";
    case ErrorKind::UnsupportedReplication:
      return "unsupported replication descriptor " + format_code(first_);
    case ErrorKind::ElementNotFound:
      return "descriptor " + format_code(first_) + " was not found in Table B";
    case ErrorKind::Parse:
      return "csv/table parse error: " + message_;
    case ErrorKind::Io:
      return "io error: " + message_;
    case ErrorKind::ValueBudgetExceeded:
      return "message needs more than " + to_string(first_) +
             " decoded values, the max_values budget; pass a larger max_values to decode it";
    case ErrorKind::CompressedFactorTooWide:
      return "csv/table parse error: compressed delayed replication factor of descriptor " +
             format_code(first_) + " exceeds its " + to_string(second_) + "-bit width";
  }
  return "unknown error";
}

}  // namespace tarnwel
