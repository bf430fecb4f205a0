// What a set's pictures hold: decided once, where the configuration becomes the run's settings,
// and read by every stage and writer that treats kinds apart.
#pragma once

#include "tools/font_generator/model/distance_field_type.h"

#include <cstdint>

enum class picture_kind_t : uint8_t
{
    coverage_alpha,   // font_style 0: one byte a pixel, the glyph's alpha
    coverage_colour,  // other styles: colour by coverage and alpha, four bytes a pixel
    distance_field,   // signed distances of the outlines, the value in alpha (either style)
    // Three channels whose median is the outline, four bytes a pixel whatever the style: alpha
    // 255 ("msdf"), or the single-channel field in alpha ("mtsdf").
    multi_channel_field,
    multi_channel_and_true_field,
};

// The distance range in pixels: the span of distances from value 0 to value 255.
constexpr float default_distance_range = 4.0f;
constexpr float min_distance_range = 1.0f;
constexpr float max_distance_range = 64.0f;

// The value of a signed distance `distance` (pixels, positive inside) at the range:
// round(255 × clamp(0.5 + distance / range, 0, 1)); 128 on the outline. Inline, so that a
// field's values are made by this one formula four at a time.
inline uint8_t distance_value(float distance, float range)
{
    float level = 0.5f + distance / range;
    level = level > 0.0f ? level : 0.0f;
    level = level < 1.0f ? level : 1.0f;
    return uint8_t(level * 255.0f + 0.5f);
}

// The distance a value stands for, the middle of what rounds to it: the formula above read
// backwards, for whoever draws a field as text.
inline float distance_of_value(uint8_t value, float range)
{
    return (float(value) / 255.0f - 0.5f) * range;
}

// A set's pictures: their kind and, for a field, its range.
struct set_pictures_t
{
    picture_kind_t kind = picture_kind_t::coverage_alpha;
    float distance_range = default_distance_range;  // a field's; unused by coverage

    // Any of the three fields.
    bool is_distance_field() const
    {
        return kind == picture_kind_t::distance_field || has_channels();
    }
    // Three channels whose median is the shape.
    bool has_channels() const
    {
        return kind == picture_kind_t::multi_channel_field ||
               kind == picture_kind_t::multi_channel_and_true_field;
    }
    distance_field_type_t field_type() const
    {
        return kind == picture_kind_t::multi_channel_field            ? distance_field_type_t::msdf
               : kind == picture_kind_t::multi_channel_and_true_field ? distance_field_type_t::mtsdf
                                                                      : distance_field_type_t::sdf;
    }
};
