// Every scalar attribute type code, for test unit types with one member per code and its array.
#pragma once

#define OV_EVERY_SCALAR_TYPE(X)                                                                \
    X(string) X(token) X(float1) X(float2) X(float3) X(float4) X(fixed1) X(fixed2) X(fixed3)   \
    X(fixed4) X(float4x4) X(quaternion) X(placement) X(placement_scale) X(placement_scale3)     \
    X(plane) X(sphere) X(aabox) X(s32) X(u32) X(s16) X(u16) X(s32_second) X(u32_second) X(s64) \
    X(u64) X(int2) X(boolean) X(enumeration) X(owner_ptr) X(link_ptr) X(tolerant_link_ptr)     \
    X(resource_tie)
