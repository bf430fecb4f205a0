// Every scalar attribute type code, for test unit types with one member per code and its array:
// X(name, ...) once per row of the table of attribute types, the other columns following.
#pragma once

#include "ovcore/units/unit_attr_types.h"

#define OV_EVERY_SCALAR_TYPE(X) OV_UNIT_ATTR_TYPES(X)
