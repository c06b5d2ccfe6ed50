// The module functions decode_values, decode_values_with_tables and decode_values_with_definitions.
#include "lib/decode_functions.hpp"

#include <string>

#include "decode/section4_decoder.hpp"
#include "lib/arg_parser.hpp"
#include "lib/decoded_value_type.hpp"
#include "lib/errors.hpp"
#include "lib/table_set_type.hpp"
#include "message/scanner.hpp"
#include "tables/definitions.hpp"
#include "tables/eccodes_loader.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kDirParameters[] = {"data", "table_dir"};
constexpr const char* kTablesParameters[] = {"data", "tables"};
constexpr const char* kRootParameters[] = {"data", "definitions_root"};
constexpr Signature kDecodeValues{"decode_values", kDirParameters};
constexpr Signature kDecodeWithTables{"decode_values_with_tables", kTablesParameters};
constexpr Signature kDecodeWithDefinitions{"decode_values_with_definitions", kRootParameters};

// The first message of the buffer, scanned whole, and its parsed record.
struct FirstMessage {
  BufrMessage record;
  ByteView bytes;
};

Result<FirstMessage> first_parsed_message(ByteView buffer) {
  TARNWEL_ASSIGN(const MessageRange range, first_message(buffer));
  const ByteView bytes = range.in(buffer);
  TARNWEL_ASSIGN(BufrMessage record, parse_message(bytes));
  return FirstMessage{std::move(record), bytes};
}

// Builds the list of a decode; the decoded records are dropped on return.
PyObject* decoded_to_list(PyObject* module, const Result<DecodedResult>& decoded,
                          StringCache& strings) {
  if (!decoded) return raise_bufr_error(decoded.error());
  return new_decoded_value_list(module_state(module)->decoded_value_type, decoded.value(),
                                strings);
}

// Binds (data, <path>) and converts both in order; scans and parses the message,
// and only then loads the tables `load` makes of the path for it.
template <class Loader>
PyObject* decode_with_path(PyObject* module, const Signature& signature, PyObject* const* args,
                           Py_ssize_t nargs, PyObject* kwnames, Loader load) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    ByteView data;
    std::string path;
    if (!bind_arguments(signature, args, nargs, kwnames, bound) ||
        !convert_bytes(bound[0], "data", &data) ||
        !convert_path(bound[1], signature.parameters[1], &path)) {
      return nullptr;
    }
    Result<FirstMessage> message = first_parsed_message(data);
    if (!message) return raise_bufr_error(message.error());
    Result<TableSet> tables = load(path, message->record);
    if (!tables) return raise_bufr_error(tables.error());
    StringCache strings;  // the tables die with the call, and so do their strings
    const BufrMessage& record = message->record;
    return decoded_to_list(
        module, decode_section4(record, tables.value(), record.section4_data(message->bytes)),
        strings);
  });
}

}  // namespace

PyObject* decode_values(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return decode_with_path(module, kDecodeValues, args, nargs, kwnames,
                          [](const std::string& table_dir, const BufrMessage&) {
                            return load_eccodes_dir(table_dir);
                          });
}

PyObject* decode_values_with_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    ByteView data;
    if (!bind_arguments(kDecodeWithTables, args, nargs, kwnames, bound) ||
        !convert_bytes(bound[0], "data", &data) ||
        !check_instance(bound[1], module_state(module)->table_set_type, "tables")) {
      return nullptr;
    }
    Result<FirstMessage> message = first_parsed_message(data);
    if (!message) return raise_bufr_error(message.error());
    const BufrMessage& record = message->record;
    return decoded_to_list(
        module, table_set_decoders(bound[1]).decode(record, record.section4_data(message->bytes)),
        table_set_strings(bound[1]));
  });
}

PyObject* decode_values_with_definitions(PyObject* module, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames) {
  return decode_with_path(module, kDecodeWithDefinitions, args, nargs, kwnames,
                          [](const std::string& root, const BufrMessage& record) {
                            return load_definitions_tables(root, record);
                          });
}

}  // namespace tarnwel::py
