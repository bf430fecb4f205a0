// The binary unit format: its attribute type codes, the class table a file defines, and the
// reader of its primitive encodings over a read-only memory stream.
//
// Sections: binary attribute types; class metadata; the stream reader; loading.
//
// A binary file is "BQSD", a 32-bit version (1 or 2), then blocks until the end record. Block id
// 0 is a service record (0 end, 1 class definition); any other id is a unit record of that
// class. Everything is little-endian without padding. Every read that runs past the end of the
// data reports "[unit] Error while reading stream". A reader serves one load on one thread.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/map/map_hashed.h"
#include "ovcore/collections/string.h"
#include "ovcore/ufs/fs_types.h"
#include "ovcore/units/unit_structs.h"

#include <cstdint>

class file_t;
class unit_reader_load_t;

// ---------------------------------------------------------------------------------------------
// Binary attribute types: the codes of binary_unit_attr_type_t come from the table in
// unit_attr_types.h. Codes 1 to 51 are those of unit_attr_type_t; the rest are numbered
// differently. Enumerations are 32-bit signed numbers named by the class's enum table, owner and
// link pointers unit names, resource ties strings.

// True for codes 1 to 66.
[[nodiscard]] bool binary_attribute_type_is_valid(uint32_t code);
// True for the even codes 2 to 66; anything else but the odd codes 1 to 65 is fatal.
[[nodiscard]] bool binary_attribute_type_is_array(binary_unit_attr_type_t type);
// The binary code of the element of the code's row (itself for a scalar, 59 for 59 to 62). Any
// other value is fatal: "binary_attribute_type_element_type(): Unknown type.".
[[nodiscard]] binary_unit_attr_type_t binary_attribute_type_element_type(
    binary_unit_attr_type_t type);
// The unit_attr_type_t of the same row, array or scalar; fatal outside 1 to 66.
[[nodiscard]] unit_attr_type_t binary_attribute_type_to_unit_type(binary_unit_attr_type_t type);

// ---------------------------------------------------------------------------------------------
// Class metadata: what a file says about one class, kept by class id for one load.

struct binary_enum_entry_t
{
    int32_t value = 0;
    string_dyn_t name;
};

struct binary_attribute_definition_t
{
    string_dyn_t name;
    binary_unit_attr_type_t type = binary_unit_attr_type_t::none;
    array_dyn_t<binary_enum_entry_t> enum_table;  // enum types only

    // The entry with that value, or null.
    [[nodiscard]] const binary_enum_entry_t* find_enum_value(int32_t value) const;
};

struct class_metadata_t
{
    string_dyn_t class_name;  // the registered unit type name
    array_dyn_t<binary_attribute_definition_t> attributes;  // in definition order

    // The unit type's attribute for each definition (null where the type has none), looked up
    // once for the type the class's units are created as.
    const unit_descriptor_t* resolved_type = nullptr;
    array_dyn_t<const unit_attribute_t*> resolved;
};

// Class ids are not 0.
using class_metadata_map_t = map_hashed_t<uint32_t, class_metadata_t>;

// ---------------------------------------------------------------------------------------------
// The stream reader: the primitive encodings of the format, read from an open file at its
// position. Each read reports its own failure and returns false; what was read into an out
// parameter before the failure is unspecified.

class unit_binary_stream_t
{
public:
    // `stream` is not owned and must outlive the reader.
    explicit unit_binary_stream_t(file_t* stream);

    // The magic and the version: "[unit] Unsupported version %u of binary format" for 0 and
    // anything above 2. The magic itself is the caller's to recognise.
    [[nodiscard]] bool read_header();
    uint32_t version() const { return m_version; }

    // A class definition after its service byte, added to `classes`.
    [[nodiscard]] bool read_class_definition(class_metadata_map_t* classes);

    [[nodiscard]] bool read_bytes(void* out, uint32_t size);
    [[nodiscard]] bool read_u8(uint8_t* out);
    [[nodiscard]] bool read_u16(uint16_t* out);
    [[nodiscard]] bool read_u32(uint32_t* out);
    [[nodiscard]] bool read_u64(uint64_t* out);
    [[nodiscard]] bool read_s16(int16_t* out);
    [[nodiscard]] bool read_s32(int32_t* out);
    [[nodiscard]] bool read_s64(int64_t* out);
    [[nodiscard]] bool read_bool(bool* out);  // any non-zero byte is true
    [[nodiscard]] bool read_float(float* out);
    // A 32-bit count, then that many bytes; zero bytes inside are dropped.
    [[nodiscard]] bool read_string(string_dyn_t* out);
    [[nodiscard]] bool read_token(token_t* out);
    // A count byte: 0 gives the empty name; 1 to 254 tokens joined with "."; 255 a 64-bit value
    // written as the file-local name ".%02X.%02X.%04X.%08X".
    [[nodiscard]] bool read_unit_name(string_dyn_t* out);

    // Components in sequence, as the format stores them.
    [[nodiscard]] bool read_float2(float2_t* out);
    [[nodiscard]] bool read_float3(float3_t* out);
    [[nodiscard]] bool read_float4(float4_t* out);
    [[nodiscard]] bool read_fixed(fixed_t* out);
    [[nodiscard]] bool read_fixed2(fixed2_t* out);
    [[nodiscard]] bool read_fixed3(fixed3_t* out);
    [[nodiscard]] bool read_fixed4(fixed4_t* out);
    [[nodiscard]] bool read_float4x4(float4x4_t* out);
    [[nodiscard]] bool read_quaternion(quaternion_t* out);  // w, x, y, z
    // Version 1: x, y, z. Version 2: x, y, z and w, whose integer part s moves sector_x by
    // (s AND 0xFFF) - 2048 and sector_y by (s >> 12) - 2048; a w that is no number, or moves
    // either out of its 16 bits, fails with "[unit] The sector offset %g of a position is out
    // of range".
    [[nodiscard]] bool read_position(position_t* out);
    [[nodiscard]] bool read_placement(placement_t* out);
    [[nodiscard]] bool read_placement_scale(placement_scale_t* out);    // position, rotation, scale
    [[nodiscard]] bool read_placement_scale3(placement_scale3_t* out);  // position, rotation, scale
    [[nodiscard]] bool read_plane(plane_t* out);
    [[nodiscard]] bool read_sphere(sphere_t* out);
    [[nodiscard]] bool read_aabox(aabox_t* out);
    [[nodiscard]] bool read_int2(int2_t* out);

    // Bytes left after the position; what a count read from the file can at most describe.
    uint64_t remaining() const;

private:
    [[nodiscard]] bool read_enum_table(binary_attribute_definition_t* definition);

    file_t* m_stream;
    uint64_t m_size;
    uint32_t m_version = 0;
};

// ---------------------------------------------------------------------------------------------
// Loading: the reader behind the loader's dispatch of "BQSD" files.

// Reads the binary form (`size` bytes of `data`, the whole file, magic included) into `load`
// through a read-only memory stream over it, named `location` on the device type `realm`: class
// definitions into a class table, unit records into units created and named as text unit
// headers do, values through the load's value loaders. Stops at the end record; the load then
// runs its post-load passes. False after a message.
[[nodiscard]] bool unit_binary_load_units(unit_reader_load_t* load, const char* data,
                                          uint32_t size, const char* location,
                                          fs_device_type_t realm);
