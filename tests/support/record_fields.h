// Asking for a new value in a settings record: the value and the field's "Set" flag together.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace hx_test {

// Gives a field of a settings record a value and marks it "Set" (its section is marked apart).
template <class Field, class Value>
void setField(Field& field, uint32_t& flags, Value value)
{
    field = static_cast<Field>(value);
    flags = HX_FLAG_SET;
}

} // namespace hx_test
