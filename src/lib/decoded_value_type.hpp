// The Python class DecodedValue: one decoded item, small and without GC tracking.
#pragma once

#include "decode/decoded_result.hpp"
#include "lib/module_state.hpp"
#include "lib/string_cache.hpp"

namespace tarnwel::py {

PyTypeObject* create_decoded_value_type(PyObject* module);

// A new list with one DecodedValue per value of the flat list, in order. Names, meanings and
// shared texts become one str each, referenced by every value that uses them;
// names and meanings come from `strings`, which must outlive nothing but the call.
PyObject* new_decoded_value_list(PyTypeObject* type, const DecodedResult& decoded,
                                 StringCache& strings);

}  // namespace tarnwel::py
