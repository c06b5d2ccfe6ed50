// parse_bytes, parse_file, parse_all_bytes and parse_all_file.
#include "lib/message_functions.hpp"

#include <vector>

#include "lib/arg_parser.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "message/file_reader.hpp"
#include "message/scanner.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kDataParameter[] = {"data"};
constexpr const char* kPathParameter[] = {"path"};
constexpr Signature kParseBytes{"parse_bytes", kDataParameter};
constexpr Signature kParseFile{"parse_file", kPathParameter};
constexpr Signature kParseAllBytes{"parse_all_bytes", kDataParameter};
constexpr Signature kParseAllFile{"parse_all_file", kPathParameter};

PyObject* message_from_bytes(PyObject* module, ByteView bytes) {
  Result<BufrMessage> parsed = parse_message(bytes);
  if (!parsed) return raise_bufr_error(parsed.error());
  return new_message_object(module_state(module)->bufr_message_type, std::move(parsed).value());
}

PyObject* messages_from_bytes(PyObject* module, ByteView bytes) {
  Result<std::vector<BufrMessage>> parsed = parse_all_messages(bytes);
  if (!parsed) return raise_bufr_error(parsed.error());
  std::vector<BufrMessage>& records = parsed.value();
  PyTypeObject* type = module_state(module)->bufr_message_type;
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < records.size(); ++i) {
    PyObject* message = new_message_object(type, std::move(records[i]));
    if (message == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), message);
  }
  return list.release();
}

// Reads the file named by the single `path` argument, or raises OSError.
bool read_path_argument(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, std::vector<uint8_t>* contents) {
  PyObject* bound[1];
  std::string path;
  if (!bind_arguments(signature, args, nargs, kwnames, bound) ||
      !convert_path(bound[0], "path", &path)) {
    return false;
  }
  const int error_number = read_whole_file(path, contents);
  if (error_number != 0) {
    raise_os_error(error_number);
    return false;
  }
  return true;
}

using Builder = PyObject* (*)(PyObject* module, ByteView bytes);

PyObject* from_data_argument(const Signature& signature, Builder build, PyObject* module,
                             PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    ByteView data;
    if (!bind_arguments(signature, args, nargs, kwnames, bound) ||
        !convert_bytes(bound[0], "data", &data)) {
      return nullptr;
    }
    return build(module, data);
  });
}

PyObject* from_path_argument(const Signature& signature, Builder build, PyObject* module,
                             PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::vector<uint8_t> contents;
    if (!read_path_argument(signature, args, nargs, kwnames, &contents)) return nullptr;
    return build(module, contents);
  });
}

}  // namespace

PyObject* parse_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  return from_data_argument(kParseBytes, message_from_bytes, module, args, nargs, kwnames);
}

PyObject* parse_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  return from_path_argument(kParseFile, message_from_bytes, module, args, nargs, kwnames);
}

PyObject* parse_all_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return from_data_argument(kParseAllBytes, messages_from_bytes, module, args, nargs, kwnames);
}

PyObject* parse_all_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return from_path_argument(kParseAllFile, messages_from_bytes, module, args, nargs, kwnames);
}

}  // namespace tarnwel::py
