// The shared argument parser: binds call arguments to parameters and converts
// them, raising the module's exact TypeError / OverflowError texts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lib/py_ref.hpp"
#include "message/message.hpp"

namespace tarnwel::py {

// A function's display name ("parse_file", "TableSet.get_element") and its
// parameters, all required and accepted positionally or by keyword.
struct Signature {
  const char* name;
  std::span<const char* const> parameters;
};

// Fills `bound` (one borrowed slot per parameter, in signature order) from a
// vectorcall argument array. Returns false with TypeError set on a bad call shape.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** bound);

// The same for a tp_new/tp_init style call (argument tuple and keyword dict).
bool bind_tuple_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                          PyObject** bound);

// Converters: each returns false with the exception set, prefixed with the
// parameter name as "argument '<name>': ".
bool convert_bytes(PyObject* object, const char* parameter, ByteView* out);
bool convert_path(PyObject* object, const char* parameter, std::string* out);
bool convert_u8(PyObject* object, const char* parameter, uint8_t* out);
bool convert_u32(PyObject* object, const char* parameter, uint32_t* out);
bool convert_u64(PyObject* object, const char* parameter, uint64_t* out);
bool convert_code_list(PyObject* object, const char* parameter, std::vector<uint32_t>* out);
// Checks that `object` is an instance of `type` (or a subclass).
bool check_instance(PyObject* object, PyTypeObject* type, const char* parameter);

}  // namespace tarnwel::py
