// The Python class BufrMessage: a read-only view of one parsed message record.
#pragma once

#include "lib/module_state.hpp"
#include "message/message.hpp"

namespace tarnwel::py {

PyTypeObject* create_message_type(PyObject* module);

// A new BufrMessage object owning `record`.
PyObject* new_message_object(PyTypeObject* type, BufrMessage&& record);

// The record behind a BufrMessage instance (checked by the caller).
const BufrMessage& message_record(PyObject* object);

}  // namespace tarnwel::py
