// The default resource tie: no resource manager is attached, so every operation fails.
#include "ovcore/units/unit_resource_tie.h"

#include "ovcore/message.h"

unit_resource_tie_t* g_unit_resource_tie = nullptr;

void install_default_resource_tie()
{
    delete g_unit_resource_tie;
    g_unit_resource_tie = new unit_default_resource_tie_t();
}

void destroy_resource_tie()
{
    delete g_unit_resource_tie;
    g_unit_resource_tie = nullptr;
}

bool unit_default_resource_tie_t::get_resource_name(const unit_t*, string_t*)
{
    msg_error("[unit] Can not support querying names of resources.");
    return false;
}

bool unit_default_resource_tie_t::is_resource_unit(const unit_t*)
{
    msg_error("[unit] Can not support resource type checking.");
    return false;
}

bool unit_default_resource_tie_t::destroy_scalar(unit_t*, const unit_attribute_t*)
{
    msg_error("[unit] Resource tie is unable to destroy itself.");
    return false;
}

bool unit_default_resource_tie_t::destroy_array(unit_t*, const unit_attribute_t*)
{
    msg_error("[unit] Resource tie is unable to destroy itself.");
    return false;
}

bool unit_default_resource_tie_t::clone_scalar(const unit_t*, unit_t*, const unit_attribute_t*)
{
    msg_error("[unit] Resource tie is unable to clone itself.");
    return false;
}

bool unit_default_resource_tie_t::clone_array(const unit_t*, unit_t*, const unit_attribute_t*)
{
    msg_error("[unit] Resource tie is unable to clone itself.");
    return false;
}

bool unit_default_resource_tie_t::obtain_resource(const char*, unit_t*, const unit_attribute_t*,
                                                  unit_t**)
{
    msg_error("[unit] Can not load the resource tie.");
    return false;
}

bool unit_default_resource_tie_t::reclaim_resource(unit_t*, unit_t*, const unit_attribute_t*)
{
    msg_error("[unit] Can not unload the resource tie.");
    return false;
}

bool unit_default_resource_tie_t::remove_value(unit_t*, const unit_attribute_t*, size_t)
{
    msg_error("[unit] Can not remove element from array of resource ties.");
    return false;
}

bool unit_default_resource_tie_t::get_size(const unit_t*, const unit_attribute_t*, size_t*)
{
    msg_error("[unit] Can not query the size of array of resource ties.");
    return false;
}

bool unit_default_resource_tie_t::request_capacity(unit_t*, const unit_attribute_t*, size_t)
{
    msg_error("[unit] Can not change capacity of array of resource ties.");
    return false;
}

bool unit_default_resource_tie_t::get_value_scalar(const unit_t*, const unit_attribute_t*,
                                                   unit_t**)
{
    msg_error("[unit] Can not get resource tie attribute value.");
    return false;
}

bool unit_default_resource_tie_t::get_value_element(const unit_t*, const unit_attribute_t*,
                                                    size_t, unit_t**)
{
    msg_error("[unit] Can not get resource tie attribute value.");
    return false;
}

bool unit_default_resource_tie_t::get_value_array(const unit_t*, const unit_attribute_t*,
                                                  array_t<unit_t*>*)
{
    msg_error("[unit] Can not get the resource tie array copy.");
    return false;
}

bool unit_default_resource_tie_t::set_value_scalar(unit_t*, const unit_attribute_t*, unit_t*)
{
    msg_error("[unit] Can not set the resource tie attribute value.");
    return false;
}

bool unit_default_resource_tie_t::set_value_element(unit_t*, const unit_attribute_t*, size_t,
                                                    unit_t*)
{
    msg_error("[unit] Can not set the resource tie attribute value.");
    return false;
}

bool unit_default_resource_tie_t::append_value(unit_t*, const unit_attribute_t*, unit_t*)
{
    msg_error("[unit] Can not append the resource tie attribute value.");
    return false;
}

bool unit_default_resource_tie_t::prepend_value(unit_t*, const unit_attribute_t*, unit_t*)
{
    msg_error("[unit] Can not prepend the resource tie attribute value.");
    return false;
}
