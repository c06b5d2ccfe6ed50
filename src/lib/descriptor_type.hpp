// The Python class Descriptor.
#pragma once

#include "lib/py_ref.hpp"
#include "lib/type_support.hpp"

namespace tarnwel::py {

// Creates the class for `module`; returns a new reference or nullptr.
PyTypeObject* create_descriptor_type(PyObject* module);

}  // namespace tarnwel::py
