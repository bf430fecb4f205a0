// Range checks of float and float-vector domains with values that compare false with everything.
#include "ovcore/units/unit_domain.h"

#include <gtest/gtest.h>

#include <limits>

TEST(unit_check_floats, a_nan_fails_every_range_in_any_component)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const unit_float_domain_t<1> one = { .minimum = { -1.0f }, .maximum = { 1.0f } };
    const unit_float_domain_t<2> two = { .minimum = { -1.0f, -1.0f }, .maximum = { 1.0f, 1.0f } };
    const unit_float_domain_t<4> four = { .minimum = { -1.0f, -1.0f, -1.0f, -1.0f },
                                          .maximum = { 1.0f, 1.0f, 1.0f, 1.0f } };
    const float single[] = { nan };
    const float second[] = { 0.0f, nan };
    const float last[] = { 0.0f, 0.5f, -0.5f, -nan };
    EXPECT_EQ(unit_check_floats(&one, 1, single), unit_domain_check_t::below_minimum);
    EXPECT_EQ(unit_check_floats(&two, 2, second), unit_domain_check_t::below_minimum);
    EXPECT_EQ(unit_check_floats(&four, 4, last), unit_domain_check_t::below_minimum);
    // The edges still belong to the range; no domain takes every value.
    const float edges[] = { -1.0f, 1.0f };
    EXPECT_EQ(unit_check_floats(&two, 2, edges), unit_domain_check_t::accepted);
    EXPECT_EQ(unit_check_floats(nullptr, 1, single), unit_domain_check_t::accepted);
}
