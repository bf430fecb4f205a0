// Compiled by CTest once per case: case 0 must build, every other case must not.
#include "ovcore/units/unit_attr_storage.h"

class checked_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit checked_u(unit_system_t* system) : unit_t(system) {}

    uint32_t width = 0;
    int32_t offset = 0;
    string_dyn_t label;
    array_dyn_t<owner_ptr_t<unit_t>> children;
    array_dyn_t<owner_ptr_t<checked_u>> typed_children;
};

const unit_attribute_t checked_attributes[] = {
#if OV_CASE == 0
    OV_UNIT_ATTRIBUTE(checked_u, width, u32, nullptr, "width"),
    OV_UNIT_ATTRIBUTE(checked_u, offset, s32, nullptr, "offset"),
    OV_UNIT_ATTRIBUTE(checked_u, label, string, nullptr, "label"),
    OV_UNIT_ATTRIBUTE(checked_u, children, owner_ptr_array, nullptr, "children"),
#elif OV_CASE == 1
    OV_UNIT_ATTRIBUTE(checked_u, offset, u32, nullptr, "offset"),  // signed member, unsigned code
#elif OV_CASE == 2
    OV_UNIT_ATTRIBUTE(checked_u, label, token, nullptr, "label"),  // a string is no token
#elif OV_CASE == 3
    // Owner pointers are stored untyped: a file may put any unit type there.
    OV_UNIT_ATTRIBUTE(checked_u, typed_children, owner_ptr_array, nullptr, "typed_children"),
#endif
    OV_UNIT_ATTRIBUTES_END,
};
