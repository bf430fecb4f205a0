// Loading binary unit files through the unit loader: records, array and type mismatches,
// widening, enums, references, unknown attributes, the scrambled container and truncation; and
// the binary reader on its own, against any load.
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_loader.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_reader_load.h"
#include "ovcore/units/unit_system.h"
#include "ovcore/units/unit_value_loader.h"
#include "tests/support/message_capture.h"
#include "tests/support/unit_binary_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace
{
using lines_t = std::vector<std::string>;

// Refuses unknown attributes; one attribute for each case the tests need.
class bin_node_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit bin_node_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    bool accepts_unknown_attributes() const override { return false; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) bin_node_u(system); }

    string_dyn_t label;
    uint32_t count = 0;
    int32_t offset = 0;
    uint64_t big = 0;
    bool flag = false;
    int32_t kind = 0;
    owner_ptr_t<unit_t> child;
    array_dyn_t<owner_ptr_t<unit_t>> children;
    link_ptr_t<unit_t> link;
    array_dyn_t<uint32_t> widths;
    placement_t place;
    unit_t* tie = nullptr;
    array_dyn_t<unit_t*> ties;
};

// Takes unknown attributes: the base handler warns about each.
class bin_open_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit bin_open_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) bin_open_u(system); }

    uint32_t count = 0;
};

const unit_enum_value_t kind_values[] = { { 0, "plain" }, { 2, "bold" }, { 5, "italic" } };
const unit_enum_domain_t kind_domain = { unit_domain_kind_t::enumeration, 3, kind_values };

}  // namespace

const unit_attribute_t bin_node_attributes[] = {
    OV_UNIT_ATTRIBUTE(bin_node_u, label, string, nullptr, "label"),
    OV_UNIT_ATTRIBUTE(bin_node_u, count, u32, nullptr, "count"),
    OV_UNIT_ATTRIBUTE(bin_node_u, offset, s32, nullptr, "offset"),
    OV_UNIT_ATTRIBUTE(bin_node_u, big, u64, nullptr, "big"),
    OV_UNIT_ATTRIBUTE(bin_node_u, flag, boolean, nullptr, "flag"),
    OV_UNIT_ATTRIBUTE(bin_node_u, kind, enumeration, &kind_domain, "kind"),
    OV_UNIT_ATTRIBUTE(bin_node_u, child, owner_ptr, nullptr, "child"),
    OV_UNIT_ATTRIBUTE(bin_node_u, children, owner_ptr_array, nullptr, "children"),
    OV_UNIT_ATTRIBUTE(bin_node_u, link, link_ptr, nullptr, "link"),
    OV_UNIT_ATTRIBUTE(bin_node_u, widths, u32_array, nullptr, "widths"),
    OV_UNIT_ATTRIBUTE(bin_node_u, place, placement, nullptr, "place"),
    OV_UNIT_ATTRIBUTE(bin_node_u, tie, resource_tie, nullptr, "tie"),
    OV_UNIT_ATTRIBUTE(bin_node_u, ties, resource_tie_array, nullptr, "ties"),
    { &bin_node_u::descriptor, unit_attribute_obsolete_offset, unit_attr_type_t::u32_array,
      nullptr, "old_widths" },
    OV_UNIT_ATTRIBUTES_END,
};
const unit_descriptor_t bin_node_u::descriptor = {
    "bin_node", bin_node_u::create, unit_destroy, &unit_t::descriptor, bin_node_attributes,
    compute_type_name_hash("bin_node_u"), 0xFFFFFFFFu,
};

const unit_attribute_t bin_open_attributes[] = {
    OV_UNIT_ATTRIBUTE(bin_open_u, count, u32, nullptr, "count"),
    OV_UNIT_ATTRIBUTES_END,
};
const unit_descriptor_t bin_open_u::descriptor = {
    "bin_open", bin_open_u::create, unit_destroy, &unit_t::descriptor, bin_open_attributes,
    compute_type_name_hash("bin_open_u"), 0xFFFFFFFFu,
};

namespace
{
namespace bv = binary_value;

// Class 1: bin_node with every attribute in table order; class 2: bin_open.
binary_class_layout_t node_class(std::vector<binary_attribute_layout_t> attributes)
{
    return { 1, "bin_node", std::move(attributes) };
}

binary_unit_layout_t node(const char* name, std::vector<binary_value_t> values)
{
    return { 1, binary_name_t::global_name(name), std::move(values) };
}

class binary_load_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bank.register_type(&bin_node_u::descriptor));
        ASSERT_TRUE(bank.register_type(&bin_open_u::descriptor));
        system = new unit_system_t(&bank);
    }
    void TearDown() override
    {
        roots.clear();
        unit_flush_pending_releases();
        EXPECT_EQ(system->live_unit_count(), 0u);  // nothing leaked by a failed load
        delete system;
    }

    // Loads the bytes; the roots stay in `roots`.
    bool load(const binary_bytes_t& bytes)
    {
        roots.clear();
        unit_load_t loader(system, nullptr, "test.bqsd");
        const bool ok = loader.load_units_from_memory(reinterpret_cast<const char*>(bytes.data()),
                                                      uint32_t(bytes.size()), "test.bqsd",
                                                      UNKNOWNFS, "test.bqsd");
        for (uint32_t i = 0; i < loader.roots().size(); ++i)
            roots.emplace_back(loader.roots()[i].get());
        return ok;
    }

    // The single root as a bin_node, or null.
    bin_node_u* root_node() const
    {
        if (roots.size() != 1 || roots[0]->get_descriptor() != &bin_node_u::descriptor)
            return nullptr;
        return static_cast<bin_node_u*>(roots[0].get());
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
    std::vector<owner_ptr_t<unit_t>> roots;
};

}  // namespace

namespace
{
const binary_attribute_layout_t label_u32 = { 39, "label", {} };

// A file with class 1 of the given attributes and one unit "a" with the given values.
binary_bytes_t one_node(std::vector<binary_attribute_layout_t> attributes,
                        std::vector<binary_value_t> values, uint32_t version = 2)
{
    binary_file_layout_t file;
    file.version = version;
    file.add(node_class(std::move(attributes))).add(node("a", std::move(values)));
    return file.encode();
}

binary_bytes_t raw_file(uint32_t version, const binary_bytes_t& body)
{
    binary_bytes_t out = { 'B', 'Q', 'S', 'D' };
    put_u32(&out, version);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace

TEST_F(binary_load_fixture, header_and_end_record_only_load_no_units)
{
    for (uint32_t version : { 1u, 2u })
    {
        binary_file_layout_t file;
        file.version = version;
        message_capture_t capture;
        EXPECT_TRUE(load(file.encode()));
        EXPECT_TRUE(roots.empty());
        EXPECT_TRUE(capture.lines.empty());
    }
}

TEST_F(binary_load_fixture, loads_a_tree_of_units)
{
    const std::vector<binary_enum_item_t> kinds = { { 0, "plain" }, { 5, "italic" } };
    binary_file_layout_t file;
    file.add(node_class({ { 1, "label", {} },
                          { 39, "count", {} },
                          { 37, "offset", {} },
                          { 53, "flag", {} },
                          { 55, "kind", kinds },
                          { 40, "widths", {} },
                          { 25, "place", {} },
                          { 57, "child", {} },
                          { 58, "children", {} } }))
        .add({ 2, "bin_open", { { 39, "count", {} } } })
        .add(node("font.root",
                  { bv::string("base_name"), bv::u32(4000000000u), bv::s32(-7), bv::boolean(true),
                    bv::enumeration(5),
                    bv::array({ bv::u32(16), bv::u32(32) }),
                    bv::join({ bv::position(2, 1.0f, 2.0f, 3.0f, 4, -4),
                               bv::floats({ 0.0f, 1.0f, 0.0f, 0.0f }) }),
                    bv::name(binary_name_t::local_name(5)),
                    bv::array({ bv::name(binary_name_t::global_name("Font.Second")),
                                bv::name(binary_name_t::no_name()) }) }))
        .add({ 2, binary_name_t::local_name(5), { bv::u32(11) } })
        .add({ 2, binary_name_t::global_name("font.second"), { bv::u32(12) } });
    message_capture_t capture;
    ASSERT_TRUE(load(file.encode()));
    EXPECT_TRUE(capture.lines.empty());
    bin_node_u* root = root_node();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->label.c_str(), "base_name");
    EXPECT_EQ(root->count, 4000000000u);
    EXPECT_EQ(root->offset, -7);
    EXPECT_TRUE(root->flag);
    EXPECT_EQ(root->kind, 5);
    ASSERT_EQ(root->widths.size(), 2u);
    EXPECT_EQ(root->widths[1], 32u);
    EXPECT_EQ(root->place.position, (position_t{ 1.0f, 2.0f, 3.0f, 4, -4 }));
    EXPECT_EQ(root->place.rotation, (quaternion_t{ 0.0f, 1.0f, 0.0f, 0.0f }));
    ASSERT_NE(root->child.get(), nullptr);
    EXPECT_EQ(static_cast<bin_open_u*>(root->child.get())->count, 11u);
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(static_cast<bin_open_u*>(root->children[0].get())->count, 12u);
    EXPECT_EQ(root->children[1].get(), nullptr);
    // Global names move onto their units; file-local ones stay with the load.
    string_dyn_t name;
    EXPECT_TRUE(unit_name_to_text(root->children[0]->name_id(), &name));
    EXPECT_STREQ(name.c_str(), "font.second");
    EXPECT_EQ(root->child->name_id(), 0u);
}

TEST_F(binary_load_fixture, rejects_bad_files)
{
    struct row_t
    {
        const char* what;
        binary_bytes_t file;
        lines_t lines;
    };
    binary_bytes_t unknown_service = raw_file(2, {});
    put_u32(&unknown_service, 0);
    put_u8(&unknown_service, 7);
    binary_bytes_t unknown_class = raw_file(2, {});
    put_u32(&unknown_class, 9);
    binary_file_layout_t two_classes;
    two_classes.add(node_class({})).add(node_class({}));
    binary_file_layout_t taken;
    taken.add(node_class({})).add(node("a", {})).add(node("A", {}));
    binary_file_layout_t bad_type;
    bad_type.add({ 1, "no_such", {} }).add(node("a", {}));
    binary_file_layout_t no_end;
    no_end.add(node_class({})).add(node("a", {}));
    no_end.end_record = false;
    binary_file_layout_t unnamed;
    unnamed.add(node_class({})).add({ 1, binary_name_t::no_name(), {} });
    binary_file_layout_t long_name;
    long_name.add(node_class({})).add(node("a.b.c.d.e.f.g.h.i.j.k", {}));
    binary_file_layout_t dangling;
    dangling.add(node_class({ { 59, "link", {} } }))
        .add(node("a", { bv::name(binary_name_t::global_name("nowhere")) }));

    const row_t rows[] = {
        { "version 3", one_node({}, {}, 3), { "[unit] Unsupported version 3 of binary format" } },
        { "version 0", one_node({}, {}, 0), { "[unit] Unsupported version 0 of binary format" } },
        { "unknown service record", unknown_service, { "[unit] Unknown service record type 7" } },
        { "unknown class id", unknown_class, { "[unit] Unknown unit class id 9" } },
        { "class id twice", two_classes.encode(), { "[unit] Duplicate class id 1" } },
        { "no end record", no_end.encode(), { "[unit] Error while reading stream" } },
        { "empty unit name", unnamed.encode(), { "[unit] NULL is not valid name of unit" } },
        { "eleven components", long_name.encode(),
          { "[unit] The unit name 'a.b.c.d.e.f.g.h.i.j.k' is in wrong format." } },
        { "name taken", taken.encode(),
          { "[unit] The unit name 'a' is already taken by an existing unit (of type 'bin_node')." } },
        { "no such type", bad_type.encode(), { "[unit] The 'no_such' is not a unit type name." } },
        { "attribute the type no longer has", one_node({ { 39, "gone", {} } }, { bv::u32(1) }),
          { "[unit] The unit 'a' of type 'bin_node' has no attribute named 'gone'." } },
        { "u64 above the u32 range", one_node({ { 51, "count", {} } }, { bv::u64(4294967296u) }),
          { "[unit] The requested value 4294967296 of the attribute 'count' of unit 'a' (of type "
            "'bin_node') is out of the attribute domain." } },
        { "two elements into a scalar",
          one_node({ { 40, "count", {} } }, { bv::array({ bv::u32(1), bv::u32(2) }) }),
          { "[unit] Attempting to load array which contains more than one entry into non-array "
            "attribute 'count' of unit 'a' of type 'bin_node'" } },
        { "float into unsigned", one_node({ { 5, "count", {} } }, { bv::f32(1.0f) }),
          { "[unit] Incompatible attribute type 5 while loading unsigned integer attribute "
            "'count' of unit 'a' (of type 'bin_node')." } },
        { "unsigned into signed", one_node({ { 39, "offset", {} } }, { bv::u32(1) }),
          { "[unit] Incompatible attribute type 39 while loading signed integer attribute "
            "'offset' of unit 'a' (of type 'bin_node')." } },
        { "signed into unsigned array", one_node({ { 38, "widths", {} } }, { bv::array({ bv::s32(1) }) }),
          { "[unit] Incompatible attribute type 38 while loading unsigned integer attribute "
            "'widths' of unit 'a' (of type 'bin_node')." } },
        { "number into string", one_node({ { 37, "label", {} } }, { bv::s32(1) }),
          { "[unit] Incompatible attribute type 37 while loading attribute 'label' of unit 'a' "
            "(of type 'bin_node')." } },
        { "string into bool", one_node({ { 1, "flag", {} } }, { bv::string("true") }),
          { "[unit] Incompatible attribute type 1 while loading attribute 'flag' of unit 'a' "
            "(of type 'bin_node')." } },
        { "s32 into enum", one_node({ { 37, "kind", {} } }, { bv::s32(2) }),
          { "[unit] Incompatible attribute type 37 while loading attribute 'kind' of unit 'a' "
            "(of type 'bin_node')." } },
        { "link into owner", one_node({ { 59, "child", {} } }, { bv::name(binary_name_t::no_name()) }),
          { "[unit] Incompatible attribute type 59 while loading attribute 'child' of unit 'a' "
            "(of type 'bin_node')." } },
        { "number into tie", one_node({ { 39, "tie", {} } }, { bv::u32(1) }),
          { "[unit] Incompatible attribute type 39 while loading tie attribute 'tie' of unit 'a' "
            "(of type 'bin_node')." } },
        { "tie through the default tie", one_node({ { 63, "tie", {} } }, { bv::tie("texture") }),
          { "[unit] Can not load the resource tie." } },
        { "no room in an array", one_node({ { 64, "ties", {} } }, { bv::array({ bv::tie("t") }) }),
          { "[unit] Can not change capacity of array of resource ties.",
            "[unit] Failed to set the requested length of the array attribute 'ties' of unit 'a' "
            "(of type 'bin_node')." } },
        { "enum number outside the table", one_node({ { 55, "kind", {} } }, { bv::enumeration(3) }),
          { "[unit] The requested value '3' is outside the domain of the attribute 'kind' of unit "
            "'a' (of type 'bin_node')." } },
        { "enum name outside the table",
          one_node({ { 55, "kind", { { 2, "bolder" } } } }, { bv::enumeration(2) }),
          { "[unit] The requested value 'bolder' is outside the domain of the attribute 'kind' of "
            "unit 'a' (of type 'bin_node')." } },
        { "sector offset out of range",
          one_node({ { 25, "place", {} } },
                   { bv::floats({ 0.0f, 0.0f, 0.0f, -1.0e30f, 1.0f, 0.0f, 0.0f, 0.0f }) }),
          { "[unit] The sector offset -1e+30 of a position is out of range" } },
        { "dangling link", dangling.encode(),
          { "[unit] The unit 'a' of type 'bin_node' has dangling pointer (to 'nowhere') in the "
            "attribute named 'link'.",
            "[unit] The file 'test.bqsd' defines no unit 'nowhere'; the units it names are 'a'.",
            "[unit] The pointer to 'nowhere' looks like dangling pointer." } },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.what);
        message_capture_t capture;
        EXPECT_FALSE(load(row.file));
        EXPECT_EQ(capture.lines, row.lines);
        EXPECT_TRUE(roots.empty());
        unit_flush_pending_releases();
        EXPECT_EQ(system->live_unit_count(), 0u);
    }
}

TEST_F(binary_load_fixture, tolerates_mismatches_with_warnings)
{
    struct row_t
    {
        const char* what;
        binary_bytes_t file;
        lines_t lines;
        uint32_t count;
        std::vector<uint32_t> widths;
        int32_t offset;
    };
    const row_t rows[] = {
        { "empty array into a scalar", one_node({ { 40, "count", {} } }, { bv::array({}) }),
          { "[unit] Empty array interpreted as missing attribute 'count' of unit 'a' of type "
            "'bin_node'" },
          0, {}, 0 },
        { "one element into a scalar", one_node({ { 40, "count", {} } }, { bv::array({ bv::u32(7) }) }),
          { "[unit] Array value loaded into scalar attribute 'count' of unit 'a' of type "
            "'bin_node'" },
          7, {}, 0 },
        { "scalar into an array", one_node({ { 39, "widths", {} } }, { bv::u32(7) }),
          { "[unit] Scalar value loaded into array attribute 'widths' of unit 'a' of type "
            "'bin_node'" },
          0, { 7 }, 0 },
        { "obsolete array", one_node({ { 40, "old_widths", {} } }, { bv::array({ bv::u32(1), bv::u32(2) }) }),
          { "Ignoring obsolete attribute 'old_widths' of unit 'a' (of type 'bin_node').",
            "Ignoring obsolete attribute 'old_widths' of unit 'a' (of type 'bin_node').",
            "Ignoring obsolete attribute 'old_widths' of unit 'a' (of type 'bin_node')." },
          0, {}, 0 },
        { "s16 into s32", one_node({ { 41, "offset", {} } }, { bv::s16(-300) }), {}, 0, {}, -300 },
        { "s64 into s32", one_node({ { 49, "offset", {} } }, { bv::s64(-70000) }), {}, 0, {}, -70000 },
        { "enum into s32", one_node({ { 55, "offset", { { 9, "nine" } } } }, { bv::enumeration(9) }),
          {}, 0, {}, 9 },
        { "u16 into u32", one_node({ { 43, "count", {} } }, { bv::u16(65535) }), {}, 65535, {}, 0 },
        { "bool into u32", one_node({ { 53, "count", {} } }, { bv::boolean(true) }), {}, 1, {}, 0 },
        { "u64 array into u32 array",
          one_node({ { 52, "widths", {} } }, { bv::array({ bv::u64(1), bv::u64(4294967295u) }) }),
          {}, 0, { 1, 4294967295u }, 0 },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.what);
        message_capture_t capture;
        ASSERT_TRUE(load(row.file));
        EXPECT_EQ(capture.lines, row.lines);
        bin_node_u* root = root_node();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->count, row.count);
        EXPECT_EQ(root->offset, row.offset);
        EXPECT_EQ(std::vector<uint32_t>(root->widths.begin(), root->widths.end()), row.widths);
        roots.clear();
        unit_flush_pending_releases();
    }
}

TEST_F(binary_load_fixture, maps_enum_values_through_the_class_table)
{
    struct row_t
    {
        std::vector<binary_enum_item_t> table;
        int32_t stored;
        int32_t loaded;
    };
    const row_t rows[] = {
        { { { 1, "bold" }, { 2, "italic" } }, 1, 2 },  // by name: "bold" is 2 in the type
        { { { 1, "bold" }, { 2, "italic" } }, 2, 5 },
        { { { 1, "bold" } }, 5, 5 },                   // not in the file's table: by number
        { {}, 0, 0 },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.stored);
        message_capture_t capture;
        ASSERT_TRUE(load(one_node({ { 55, "kind", row.table } }, { bv::enumeration(row.stored) })));
        EXPECT_TRUE(capture.lines.empty());
        ASSERT_NE(root_node(), nullptr);
        EXPECT_EQ(root_node()->kind, row.loaded);
        roots.clear();
        unit_flush_pending_releases();
    }
}

TEST_F(binary_load_fixture, loads_an_owner_value_into_a_link_with_a_warning)
{
    binary_file_layout_t file;
    file.add(node_class({ { 57, "link", {} } }))
        .add(node("a", { bv::name(binary_name_t::global_name("b")) }))
        .add(node("b", { bv::name(binary_name_t::no_name()) }));
    message_capture_t capture;
    ASSERT_TRUE(load(file.encode()));
    EXPECT_EQ(capture.lines,
              (lines_t{ "[unit] Loading owner ptr value into non-owner attribute 'link' of unit "
                        "'a' (of type 'bin_node').",
                        "[unit] Loading owner ptr value into non-owner attribute 'link' of unit "
                        "'b' (of type 'bin_node')." }));
    ASSERT_EQ(roots.size(), 2u);  // a link does not own
    bin_node_u* a = static_cast<bin_node_u*>(roots[0].get());
    EXPECT_EQ(a->link.get(), roots[1].get());
}

TEST_F(binary_load_fixture, names_file_local_units_nameless)
{
    binary_file_layout_t file;
    file.add(node_class({ { 39, "count", {} }, { 9, "place", {} } }))
        .add({ 1, binary_name_t::local_name(0x0102030405060708u),
               { bv::u32(1), bv::floats({ 1.0f, 2.0f, 3.0f }) } });
    message_capture_t capture;
    EXPECT_FALSE(load(file.encode()));
    EXPECT_EQ(capture.lines,
              lines_t{ "[unit] Incompatible attribute type 9 while loading attribute 'place' of "
                       "unit '_nameless.08.07.0506.01020304' (of type 'bin_node')." });
}

TEST_F(binary_load_fixture, hands_unknown_attributes_over_as_text)
{
    binary_file_layout_t file;
    file.add({ 2,
               "bin_open",
               { { 39, "count", {} },
                 { 1, "note", {} },
                 { 9, "offset", {} },
                 { 27, "spot", {} },
                 { 58, "parts", {} },
                 { 55, "mode", { { 4, "wide" } } },
                 { 56, "modes", {} },
                 { 4, "tags", {} },
                 { 66, "cells", {} },
                 { 49, "huge", {} },
                 { 53, "on", {} } } })
        .add({ 2,
               binary_name_t::global_name("open"),
               { bv::u32(3), bv::string("say \"hi\"\\\n\x01"), bv::floats({ 0.5f, -2.0f, 1e10f }),
                 bv::join({ bv::position(2, 1.0f, 2.0f, 3.0f), bv::floats({ 1.0f, 0.0f, 0.0f, 0.0f }),
                            bv::f32(2.0f) }),
                 bv::array({ bv::name(binary_name_t::global_name("x.y")),
                             bv::name(binary_name_t::no_name()),
                             bv::name(binary_name_t::local_name(1)) }),
                 bv::enumeration(4), bv::array({ bv::enumeration(-1) }),
                 bv::array({ bv::token("Latin_1") }), bv::array({ bv::int2(-1, 2) }),
                 bv::s64(-9000000000), bv::boolean(false) } });
    message_capture_t capture;
    ASSERT_TRUE(load(file.encode()));
    EXPECT_EQ(capture.lines,
              (lines_t{
                  "[unit] Ignored unknown attribute note = \"say \\\"hi\\\"\\\\\\n\\x01\"",
                  "[unit] Ignored unknown attribute offset = (0.5, -2, 1e+10)",
                  "[unit] Ignored unknown attribute spot = (1, 2, 3) 2 (1; 0, 0, 0)",
                  "[unit] Ignored unknown attribute parts[0] = x.y",
                  "[unit] Ignored unknown attribute parts[1] = null",
                  "[unit] Ignored unknown attribute parts[2] = .01.00.0000.00000000",
                  "[unit] Ignored unknown attribute mode = wide",
                  "[unit] Ignored unknown attribute modes[0] = -1",
                  "[unit] Ignored unknown attribute tags[0] = latin_1",
                  "[unit] Ignored unknown attribute cells[0] = (-1, 2)",
                  "[unit] Ignored unknown attribute huge = -9000000000",
                  "[unit] Ignored unknown attribute on = false",
              }));
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(static_cast<bin_open_u*>(roots[0].get())->count, 3u);
}

namespace
{

// Two classes, a tree of three units with arrays, strings, enums and references.
binary_bytes_t sample_file(uint32_t version)
{
    binary_file_layout_t file;
    file.version = version;
    file.add(node_class({ { 1, "label", {} },
                          { 39, "count", {} },
                          { 55, "kind", { { 1, "bold" } } },
                          { 40, "widths", {} },
                          { 25, "place", {} },
                          { 58, "children", {} },
                          { 59, "link", {} } }))
        .add({ 2, "bin_open", { { 39, "count", {} } } })
        .add(node("root",
                  { bv::string("label"), bv::u32(3), bv::enumeration(1),
                    bv::array({ bv::u32(1), bv::u32(2), bv::u32(3) }),
                    bv::join({ bv::position(version, 1.0f, 2.0f, 3.0f),
                               bv::floats({ 1.0f, 0.0f, 0.0f, 0.0f }) }),
                    bv::array({ bv::name(binary_name_t::local_name(7)),
                                bv::name(binary_name_t::global_name("root.second")) }),
                    bv::name(binary_name_t::global_name("root.second")) }))
        .add({ 2, binary_name_t::local_name(7), { bv::u32(5) } })
        .add({ 2, binary_name_t::global_name("root.second"), { bv::u32(6) } });
    return file.encode();
}

}  // namespace

TEST_F(binary_load_fixture, loads_the_scrambled_container_like_the_plain_form)
{
    for (uint8_t seed : { 0, 77, 250, 255 })
    {
        SCOPED_TRACE(int(seed));
        message_capture_t capture;
        ASSERT_TRUE(load(scramble_unit_file(sample_file(2), seed)));
        EXPECT_TRUE(capture.lines.empty());
        bin_node_u* root = root_node();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->count, 3u);
        EXPECT_EQ(root->kind, 2);
        ASSERT_EQ(root->children.size(), 2u);
        EXPECT_EQ(root->link.get(), root->children[1].get());
        roots.clear();
        unit_flush_pending_releases();
    }
}

TEST_F(binary_load_fixture, fails_cleanly_when_truncated_at_any_offset)
{
    for (uint32_t version : { 1u, 2u })
    {
        const binary_bytes_t plain = sample_file(version);
        ASSERT_TRUE(load(plain));
        roots.clear();
        for (size_t size = 8; size < plain.size(); ++size)
        {
            SCOPED_TRACE(size);
            const binary_bytes_t cut(plain.begin(), plain.begin() + ptrdiff_t(size));
            for (const binary_bytes_t& file : { cut, scramble_unit_file(cut, 3) })
            {
                message_capture_t capture;
                EXPECT_FALSE(load(file));
                EXPECT_EQ(capture.lines, lines_t{ "[unit] Error while reading stream" });
                unit_flush_pending_releases();
                EXPECT_EQ(system->live_unit_count(), 0u);
            }
        }
    }
}

namespace
{
// A load that only records what the binary reader asks of it; values are read through the
// reader handed over with each one.
class recording_load_t final : public unit_reader_load_t
{
public:
    explicit recording_load_t(unit_system_t* system) : m_system(system) {}

    unit_t* begin_unit(const char* type_name, const char* name) override
    {
        char text[96];
        std::snprintf(text, sizeof(text), "unit %s %s", type_name, name);
        calls.push_back(text);
        units.push_back(m_system->create_unit_by_type_name(type_name));
        return units.back().get();
    }
    bool load_attribute_value(unit_value_reader_t* reader, unit_t*,
                              const unit_attribute_t* attribute, size_t index) override
    {
        unit_read_value_t value;
        if (!reader->read_value(unit_attr_type_element_type(attribute->type), &value))
            return false;
        char element[32] = "";
        if (index != unit_index_absent)
            std::snprintf(element, sizeof(element), "[%zu]", index);
        char text[96];
        std::snprintf(text, sizeof(text), "value %s%s %llu", attribute->name, element,
                      static_cast<unsigned long long>(value.unsigned_value));
        calls.push_back(text);
        return true;
    }
    void report_location() const override {}
    void get_unit_display_name(const unit_t*, string_t* name) const override
    {
        (void)name->assign("recorded");
    }

    lines_t calls;
    std::vector<owner_ptr_t<unit_t>> units;

private:
    unit_system_t* m_system;
};
}  // namespace

TEST_F(binary_load_fixture, the_binary_reader_fills_any_load_through_the_reader_it_hands_over)
{
    const binary_bytes_t file =
        one_node({ { 39, "count", {} }, { 40, "widths", {} } },
                 { bv::u32(7), bv::array({ bv::u32(3), bv::u32(4) }) });
    recording_load_t load(system);
    message_capture_t capture;
    ASSERT_TRUE(unit_binary_load_units(&load, reinterpret_cast<const char*>(file.data()),
                                       uint32_t(file.size()), "test.bqsd", UNKNOWNFS));
    EXPECT_EQ(load.calls, (lines_t{ "unit bin_node a", "value count 7", "value widths[0] 3",
                                    "value widths[1] 4" }));
    EXPECT_TRUE(capture.lines.empty());
}
