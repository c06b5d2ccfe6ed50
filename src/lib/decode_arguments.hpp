// The arguments every decode entry point of tarnwel._core starts with, checked in one place.
#pragma once

#include <cstdint>

#include "decode/decode_limits.hpp"
#include "lib/buffer_view.hpp"
#include "lib/py_ref.hpp"
#include "lib/reader_state.hpp"
#include "message/message.hpp"

namespace tarnwel::py {

// (buffer, start, message, tables, max_values), converted.
struct DecodeArguments {
  uint64_t start = 0;
  const BufrMessage* record = nullptr;
  DecodeOptions options{0, true, true};
};

// Converts bound[0..4], holding the buffer in `buffer`; false with the exception set.
bool read_decode_arguments(ReaderState* state, PyObject* const* bound, HeldBuffer& buffer,
                           DecodeArguments& out);

// The message's section 4 within the held buffer; false with ValueError set when
// the message does not lie within it.
bool section4_in(const HeldBuffer& buffer, const DecodeArguments& arguments, ByteView* data);

}  // namespace tarnwel::py
