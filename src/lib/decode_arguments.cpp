// The arguments every decode entry point of tarnwel._core starts with, checked in one place.
#include "lib/decode_arguments.hpp"

#include "lib/arg_parser.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_scan_functions.hpp"

namespace tarnwel::py {

bool read_decode_arguments(ReaderState* state, PyObject* const* bound, HeldBuffer& buffer,
                           DecodeArguments& out) {
  if (!buffer.acquire(bound[0], "buffer") || !convert_u64(bound[1], "start", &out.start) ||
      !check_instance(bound[2], state->bufr_message_type, "message") ||
      !check_instance(bound[3], state->table_set_type, "tables") ||
      !convert_u64(bound[4], "max_values", &out.options.max_values)) {
    return false;
  }
  out.record = &message_record(bound[2]);
  return true;
}

bool section4_in(const HeldBuffer& buffer, const DecodeArguments& arguments, ByteView* data) {
  ByteView bytes;
  if (!checked_range(buffer.bytes(), arguments.start, arguments.record->total_length, &bytes)) {
    return false;
  }
  *data = arguments.record->section4_data(bytes);
  return true;
}

}  // namespace tarnwel::py
