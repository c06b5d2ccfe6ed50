// tarnwel._core.absent_header_fields: the section 1 fields a message's edition lacks.
#include "lib/reader_header_functions.hpp"

#include "lib/arg_parser.hpp"
#include "lib/errors.hpp"
#include "lib/message_type.hpp"
#include "lib/reader_state.hpp"

namespace tarnwel::py {
namespace {

constexpr const char* kMessageParameter[] = {"message"};
constexpr Signature kAbsentHeaderFields{"absent_header_fields", kMessageParameter};

// Each HeaderField bit and the BufrMessage attribute that holds 0 in its place.
struct FieldName {
  HeaderField field;
  const char* attribute;
};
constexpr FieldName kFieldNames[] = {
    {kOriginatingSubcentre, "originating_subcentre"},
    {kInternationalDataSubcategory, "international_data_subcategory"},
    {kTypicalSecond, "typical_second"},
};

}  // namespace

// The names of the BufrMessage attributes that the message's edition does not
// carry, as a tuple in attribute order; empty for edition 4.
PyObject* reader_absent_header_fields(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kAbsentHeaderFields, args, nargs, kwnames, bound) ||
        !check_instance(bound[0], reader_state(module)->bufr_message_type, "message")) {
      return nullptr;
    }
    const BufrMessage& record = message_record(bound[0]);
    PyRef names = PyRef::steal(PyList_New(0));
    if (!names) return nullptr;
    for (const FieldName& entry : kFieldNames) {
      if (record.has_field(entry.field)) continue;
      PyRef name = PyRef::steal(PyUnicode_InternFromString(entry.attribute));
      if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
    }
    return PyList_AsTuple(names.get());
  });
}

}  // namespace tarnwel::py
