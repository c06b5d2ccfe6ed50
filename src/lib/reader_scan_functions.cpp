// tarnwel._core.next_message and parse_message: finding and parsing messages in any buffer.
#include "lib/reader_scan_functions.hpp"

#include "lib/arg_parser.hpp"
#include "lib/buffer_view.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_state.hpp"
#include "message/scanner.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kNextParameters[] = {"buffer", "position", "more_follows"};
constexpr const char* kParseParameters[] = {"buffer", "start", "length"};
constexpr Signature kNextMessage{"next_message", kNextParameters};
constexpr Signature kParseMessage{"parse_message", kParseParameters};

}  // namespace

bool checked_range(ByteView buffer, uint64_t start, uint64_t length, ByteView* out) {
  if (start > buffer.size() || length > buffer.size() - start) {
    PyErr_SetString(PyExc_ValueError, "message range lies outside the buffer");
    return false;
  }
  *out = buffer.subspan(start, length);
  return true;
}

// (start, length) of the next whole message; (start, 0) or (start, declared
// length) when more bytes are needed from a stream; None when there is none.
PyObject* reader_next_message(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[3];
    HeldBuffer buffer;
    uint64_t position = 0;
    if (!bind_arguments(kNextMessage, args, nargs, kwnames, bound) ||
        !buffer.acquire(bound[0], "buffer") || !convert_u64(bound[1], "position", &position)) {
      return nullptr;
    }
    const int more_follows = PyObject_IsTrue(bound[2]);
    if (more_follows < 0) return nullptr;
    Result<ScanStep> step = next_message(buffer.bytes(), position, more_follows != 0);
    if (!step) return raise_bufr_error(step.error());
    switch (step->outcome) {
      case ScanOutcome::kEnd:
        Py_RETURN_NONE;
      case ScanOutcome::kMessage:
        return Py_BuildValue("(KKO)", static_cast<unsigned long long>(step->range.start),
                             static_cast<unsigned long long>(step->range.length), Py_True);
      case ScanOutcome::kIncomplete:
        break;
    }
    return Py_BuildValue("(KKO)", static_cast<unsigned long long>(step->range.start),
                         static_cast<unsigned long long>(step->range.length), Py_False);
  });
}

PyObject* reader_parse_message(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[3];
    HeldBuffer buffer;
    uint64_t start = 0;
    uint64_t length = 0;
    ByteView bytes;
    if (!bind_arguments(kParseMessage, args, nargs, kwnames, bound) ||
        !buffer.acquire(bound[0], "buffer") || !convert_u64(bound[1], "start", &start) ||
        !convert_u64(bound[2], "length", &length) ||
        !checked_range(buffer.bytes(), start, length, &bytes)) {
      return nullptr;
    }
    Result<BufrMessage> parsed = parse_message_any_edition(bytes);
    if (!parsed) return raise_bufr_error(parsed.error());
    return new_message_object(reader_state(module)->bufr_message_type, std::move(parsed).value());
  });
}

}  // namespace tarnwel::py
