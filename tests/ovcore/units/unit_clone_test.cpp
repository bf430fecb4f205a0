// Cloning and destroying attribute values of every attribute type, and resource-tie attributes.
#include "ovcore/units/unit_system.h"

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_resource_tie.h"
#include "tests/support/message_capture.h"
#include "tests/ovcore/units/unit_every_scalar_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace
{
using lines_t = std::vector<std::string>;

class every_type_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit every_type_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system)
    {
        return new (std::nothrow) every_type_u(system);
    }

#define OV_MEMBERS(code, ...)                                                                  \
    unit_attr_storage_t<unit_attr_type_t::code> scalar_##code{};                               \
    unit_attr_storage_t<unit_attr_type_t::code##_array> array_##code;
    OV_EVERY_SCALAR_TYPE(OV_MEMBERS)
#undef OV_MEMBERS
};
}  // namespace

const unit_attribute_t every_type_attributes[] = {
#define OV_ROWS(code, ...)                                                                     \
    OV_UNIT_ATTRIBUTE(every_type_u, scalar_##code, code, nullptr, "scalar_" #code),            \
        OV_UNIT_ATTRIBUTE(every_type_u, array_##code, code##_array, nullptr, "array_" #code),
    OV_EVERY_SCALAR_TYPE(OV_ROWS)
#undef OV_ROWS
        OV_UNIT_ATTRIBUTES_END,
};
static_assert(std::size(every_type_attributes) == unit_attr_type_last + 1);

const unit_descriptor_t every_type_u::descriptor = {
    "every_type", every_type_u::create, unit_destroy, &unit_t::descriptor, every_type_attributes,
    compute_type_name_hash("every_type_u"), 0xFFFFFFFFu,
};

namespace
{
// Its clone always fails, so copying an owner of it fails.
class uncloneable_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit uncloneable_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    owner_ptr_t<unit_t> clone() const override { return owner_ptr_t<unit_t>(); }
    static unit_t* create(unit_system_t* system)
    {
        return new (std::nothrow) uncloneable_u(system);
    }
};

const unit_attribute_t uncloneable_attributes[] = { OV_UNIT_ATTRIBUTES_END };
}  // namespace

const unit_descriptor_t uncloneable_u::descriptor = {
    "uncloneable", uncloneable_u::create, unit_destroy, &unit_t::descriptor,
    uncloneable_attributes, compute_type_name_hash("uncloneable_u"), 0xFFFFFFFFu,
};

namespace
{
class unit_clone_fixture : public testing::Test
{
protected:
    void SetUp() override { system = new unit_system_t(&bank); }
    void TearDown() override { delete system; }

    owner_ptr_t<every_type_u> create()
    {
        return owner_ptr_cast<every_type_u>(system->create_unit(&every_type_u::descriptor));
    }

    // A value that differs from the default and from other seeds. Owned units are fresh
    // every_type units with the seed in their s32; links point at `link_target`.
    template <typename T> void make_sample(T* value, uint32_t seed)
    {
        if constexpr (std::is_same_v<T, string_dyn_t>)
            (void)value->format("value %u", seed);
        else if constexpr (std::is_same_v<T, bool>)
            *value = seed % 2 == 0;
        else if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>>)
        {
            owner_ptr_t<every_type_u> child = create();
            child->scalar_s32 = int32_t(seed);
            *value = std::move(child);
        }
        else if constexpr (std::is_same_v<T, link_ptr_t<unit_t>>)
            value->reset(link_target.get());
        else if constexpr (std::is_same_v<T, unit_t*>)
            *value = nullptr;  // the default tie holds nothing
        else
        {
            // Small bytes: no float pattern is a NaN, so memcmp and == agree.
            unsigned char* bytes = reinterpret_cast<unsigned char*>(value);
            for (size_t i = 0; i < sizeof(T); ++i)
                bytes[i] = static_cast<unsigned char>(((seed * 13 + i) & 0x3F) | 1);
        }
    }

    template <typename T> void expect_clone_of(const T& original, const T& copy)
    {
        if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>>)
        {
            ASSERT_TRUE(copy);
            EXPECT_NE(copy.get(), original.get());  // one owner per unit: the owned unit is cloned
            EXPECT_EQ(unit_cast<every_type_u>(copy.get())->scalar_s32,
                      unit_cast<every_type_u>(original.get())->scalar_s32);
        }
        else if constexpr (std::is_trivially_copyable_v<T>)
            EXPECT_EQ(std::memcmp(&original, &copy, sizeof(T)), 0);
        else
            EXPECT_TRUE(original == copy);
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
    owner_ptr_t<unit_t> link_target;
};
}  // namespace

TEST_F(unit_clone_fixture, clone_of_every_attribute_type_gives_equal_values)
{
    link_target = system->create_unit(&every_type_u::descriptor);
    owner_ptr_t<every_type_u> original = create();
    uint32_t seed = 1;
    for (const unit_attribute_t* attribute = every_type_attributes;
         attribute->type != unit_attr_type_t::none; ++attribute)
    {
        if (attribute->type == unit_attr_type_t::resource_tie_array)
            continue;  // stays empty: the default tie cannot hold values
        void* storage = unit_attribute_value(original.get(), attribute);
        unit_visit_element_type(
            attribute->type,
            [&]<typename T>(unit_type_tag_t<T>) {
                if (!unit_attr_type_is_array(attribute->type))
                {
                    make_sample(static_cast<T*>(storage), seed++);
                    return;
                }
                for (int i = 0; i < 3; ++i)
                {
                    T element{};
                    make_sample(&element, seed++);
                    ASSERT_TRUE(unit_array_append(original.get(), attribute, &element));
                }
            },
            [] {});
    }

    message_capture_t capture;
    owner_ptr_t<unit_t> copy_unit = original->clone();
    ASSERT_TRUE(copy_unit);
    EXPECT_TRUE(capture.lines.empty());
    every_type_u* copy = unit_cast<every_type_u>(copy_unit.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original.get());
    EXPECT_EQ(copy->name_id(), 0u);

#define OV_COMPARE(code, ...)                                                                  \
    {                                                                                          \
        SCOPED_TRACE(#code);                                                                   \
        expect_clone_of(original->scalar_##code, copy->scalar_##code);                         \
        ASSERT_EQ(original->array_##code.size(), copy->array_##code.size());                  \
        for (uint32_t i = 0; i < copy->array_##code.size(); ++i)                               \
            expect_clone_of(original->array_##code[i], copy->array_##code[i]);                 \
    }
    OV_EVERY_SCALAR_TYPE(OV_COMPARE)
#undef OV_COMPARE
    EXPECT_EQ(original->array_string.size(), 3u);
    EXPECT_EQ(copy->scalar_link_ptr.get(), link_target.get());  // links are not followed
}

TEST_F(unit_clone_fixture, destroying_attributes_empties_them_and_releases_owned_units)
{
    owner_ptr_t<every_type_u> unit = create();
    (void)unit->scalar_string.assign("text");
    ASSERT_TRUE(unit->array_string.append(string_dyn_t("a")));
    unit->scalar_owner_ptr = create();
    ASSERT_TRUE(unit->array_owner_ptr.append(create()));
    unit->scalar_link_ptr.reset(unit.get());
    unit->scalar_u32 = 7;
    const uint32_t pending = unit_pending_release_count();

    system->destroy_attributes(unit.get());
    EXPECT_TRUE(unit->scalar_string.empty());
    EXPECT_EQ(unit->scalar_string.capacity(), 0u);
    EXPECT_TRUE(unit->array_string.empty());
    EXPECT_FALSE(unit->scalar_owner_ptr);
    EXPECT_TRUE(unit->array_owner_ptr.empty());
    EXPECT_FALSE(unit->scalar_link_ptr);
    EXPECT_EQ(unit->scalar_u32, 7u);  // plain values hold nothing to release
    EXPECT_EQ(unit_pending_release_count(), pending + 2);

    system->destroy_attributes(unit.get());  // twice is harmless
    EXPECT_EQ(unit_pending_release_count(), pending + 2);
}

TEST_F(unit_clone_fixture, a_failed_copy_names_the_attribute_and_gives_no_clone)
{
    owner_ptr_t<every_type_u> unit = create();
    array_dyn_t<token_t> tokens;
    ASSERT_TRUE(unit_name_parse("font.latin", &tokens));
    ASSERT_NE(unit_name_create_name(tokens, unit.get()), 0u);

    ASSERT_TRUE(unit->array_owner_ptr.append(system->create_unit(&uncloneable_u::descriptor)));

    message_capture_t capture;
    EXPECT_FALSE(unit->clone());
    EXPECT_EQ(capture.lines, lines_t{ "[unit] Failed to clone the the attribute 'array_owner_ptr' "
                                      "of unit 'font.latin' (type 'every_type')." });
}

// ---------------------------------------------------------------------------------------------
// Resource ties

namespace
{
// Records the operations that destroying and cloning ask of the tie.
class recording_tie_t final : public unit_resource_tie_t
{
public:
    std::vector<std::string> calls;

    bool get_resource_name(const unit_t*, string_t*) override { return false; }
    bool is_resource_unit(const unit_t*) override { return false; }
    bool destroy_scalar(unit_t* unit, const unit_attribute_t* attribute) override
    {
        calls.push_back(std::string("destroy_scalar ") + attribute->name);
        *static_cast<unit_t**>(unit_attribute_value(unit, attribute)) = nullptr;
        return true;
    }
    bool destroy_array(unit_t* unit, const unit_attribute_t* attribute) override
    {
        calls.push_back(std::string("destroy_array ") + attribute->name);
        static_cast<array_dyn_t<unit_t*>*>(unit_attribute_value(unit, attribute))
            ->release_storage();
        return true;
    }
    bool clone_scalar(const unit_t*, unit_t*, const unit_attribute_t* attribute) override
    {
        calls.push_back(std::string("clone_scalar ") + attribute->name);
        return true;
    }
    bool clone_array(const unit_t*, unit_t*, const unit_attribute_t* attribute) override
    {
        calls.push_back(std::string("clone_array ") + attribute->name);
        return true;
    }
    bool obtain_resource(const char*, unit_t*, const unit_attribute_t*, unit_t**) override
    {
        return false;
    }
    bool reclaim_resource(unit_t*, unit_t*, const unit_attribute_t*) override { return false; }
    bool remove_value(unit_t*, const unit_attribute_t*, size_t) override { return false; }
    bool get_size(const unit_t*, const unit_attribute_t*, size_t*) override { return false; }
    bool request_capacity(unit_t*, const unit_attribute_t*, size_t) override { return false; }
    bool get_value_scalar(const unit_t*, const unit_attribute_t*, unit_t**) override
    {
        return false;
    }
    bool get_value_element(const unit_t*, const unit_attribute_t*, size_t, unit_t**) override
    {
        return false;
    }
    bool get_value_array(const unit_t*, const unit_attribute_t*, array_t<unit_t*>*) override
    {
        return false;
    }
    bool set_value_scalar(unit_t*, const unit_attribute_t*, unit_t*) override { return false; }
    bool set_value_element(unit_t*, const unit_attribute_t*, size_t, unit_t*) override
    {
        return false;
    }
    bool append_value(unit_t*, const unit_attribute_t*, unit_t*) override { return false; }
    bool prepend_value(unit_t*, const unit_attribute_t*, unit_t*) override { return false; }
};

// Swaps the installed tie for the scope.
class tie_swap_t
{
public:
    explicit tie_swap_t(unit_resource_tie_t* tie) : m_saved(g_unit_resource_tie)
    {
        g_unit_resource_tie = tie;
    }
    ~tie_swap_t() { g_unit_resource_tie = m_saved; }

private:
    unit_resource_tie_t* m_saved;
};
}  // namespace

TEST_F(unit_clone_fixture, tie_values_are_destroyed_and_cloned_through_the_tie)
{
    recording_tie_t tie;
    tie_swap_t swap(&tie);
    owner_ptr_t<every_type_u> unit = create();
    unit->scalar_resource_tie = unit.get();  // any unit: the tie alone knows what it means
    ASSERT_TRUE(unit->array_resource_tie.append(unit.get()));

    owner_ptr_t<unit_t> copy = unit->clone();
    ASSERT_TRUE(copy);
    unit.reset();
    copy.reset();
    EXPECT_EQ(tie.calls, lines_t({ "clone_scalar scalar_resource_tie",
                                   "clone_array array_resource_tie",
                                   "destroy_scalar scalar_resource_tie",
                                   "destroy_array array_resource_tie" }));
}

TEST_F(unit_clone_fixture, empty_tie_values_need_no_tie)
{
    message_capture_t capture;
    owner_ptr_t<every_type_u> unit = create();
    owner_ptr_t<unit_t> copy = unit->clone();
    EXPECT_TRUE(copy);
    unit.reset();
    copy.reset();
    unit_flush_pending_releases();
    EXPECT_TRUE(capture.lines.empty());
}

TEST_F(unit_clone_fixture, default_tie_refuses_every_operation)
{
    owner_ptr_t<every_type_u> target = create();
    every_type_u* unit = target.get();
    const unit_attribute_t* scalar = unit_find_attribute(unit->get_descriptor(),
                                                         "scalar_resource_tie");
    const unit_attribute_t* array = unit_find_attribute(unit->get_descriptor(),
                                                        "array_resource_tie");
    unit_resource_tie_t* tie = g_unit_resource_tie;
    ASSERT_NE(tie, nullptr);
    unit_t* value = nullptr;
    size_t size = 0;
    string_dyn_t name;
    array_dyn_t<unit_t*> values;

    struct row_t
    {
        std::function<bool()> call;
        const char* message;
    };
    const row_t rows[] = {
        { [&] { return tie->get_resource_name(unit, &name); },
          "[unit] Can not support querying names of resources." },
        { [&] { return tie->is_resource_unit(unit); },
          "[unit] Can not support resource type checking." },
        { [&] { return tie->destroy_scalar(unit, scalar); },
          "[unit] Resource tie is unable to destroy itself." },
        { [&] { return tie->destroy_array(unit, array); },
          "[unit] Resource tie is unable to destroy itself." },
        { [&] { return tie->clone_scalar(unit, unit, scalar); },
          "[unit] Resource tie is unable to clone itself." },
        { [&] { return tie->clone_array(unit, unit, array); },
          "[unit] Resource tie is unable to clone itself." },
        { [&] { return tie->obtain_resource("tex", unit, scalar, &value); },
          "[unit] Can not load the resource tie." },
        { [&] { return tie->reclaim_resource(unit, unit, scalar); },
          "[unit] Can not unload the resource tie." },
        { [&] { return tie->remove_value(unit, array, 0); },
          "[unit] Can not remove element from array of resource ties." },
        { [&] { return unit_array_get_size(unit, array, &size); },
          "[unit] Can not query the size of array of resource ties." },
        { [&] { return unit_array_request_capacity(unit, array, 4); },
          "[unit] Can not change capacity of array of resource ties." },
        { [&] { return tie->get_value_scalar(unit, scalar, &value); },
          "[unit] Can not get resource tie attribute value." },
        { [&] { return tie->get_value_element(unit, array, 0, &value); },
          "[unit] Can not get resource tie attribute value." },
        { [&] { return tie->get_value_array(unit, array, &values); },
          "[unit] Can not get the resource tie array copy." },
        { [&] { return unit_set_scalar(unit, scalar, &value); },
          "[unit] Can not set the resource tie attribute value." },
        { [&] { return unit_array_set_element(unit, array, 0, &value); },
          "[unit] Can not set the resource tie attribute value." },
        { [&] { return unit_array_append(unit, array, &value); },
          "[unit] Can not append the resource tie attribute value." },
        { [&] { return tie->prepend_value(unit, array, value); },
          "[unit] Can not prepend the resource tie attribute value." },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.message);
        message_capture_t capture;
        EXPECT_FALSE(row.call());
        EXPECT_EQ(capture.lines, lines_t{ row.message });
        EXPECT_EQ(capture.levels, std::vector<message_level_t>{ message_level_t::error });
    }
}

// ---------------------------------------------------------------------------------------------
// Owner chains as long as memory allows

TEST_F(unit_clone_fixture, a_chain_of_200000_owners_clones_and_releases_without_recursion)
{
    constexpr uint32_t length = 200000;
    owner_ptr_t<every_type_u> root = create();
    every_type_u* last = root.get();
    for (uint32_t i = 1; i < length; ++i)
    {
        owner_ptr_t<every_type_u> next = create();
        next->scalar_s32 = int32_t(i);
        every_type_u* raw = next.get();
        last->scalar_owner_ptr = std::move(next);
        last = raw;
    }
    owner_ptr_t<unit_t> copy = root->clone();
    ASSERT_TRUE(copy);
    uint32_t count = 0;
    for (const unit_t* unit = copy.get(); unit != nullptr;
         unit = unit_cast<every_type_u>(unit)->scalar_owner_ptr.get())
    {
        EXPECT_EQ(unit_cast<every_type_u>(unit)->scalar_s32, int32_t(count));
        ++count;
    }
    EXPECT_EQ(count, length);
    root.reset();
    copy.reset();
    EXPECT_EQ(unit_pending_release_count(), 2 * length);
    unit_flush_pending_releases();
    EXPECT_EQ(system->live_unit_count(), 0u);
}

TEST_F(unit_clone_fixture, a_failed_copy_deep_in_a_tree_names_every_owner_innermost_first)
{
    // root.array_owner_ptr = [ a, b ], a.scalar_owner_ptr = uncloneable; b is never reached.
    owner_ptr_t<every_type_u> root = create();
    owner_ptr_t<every_type_u> a = create();
    array_dyn_t<token_t> tokens;
    ASSERT_TRUE(unit_name_parse("root", &tokens));
    ASSERT_NE(unit_name_create_name(tokens, root.get()), 0u);
    ASSERT_TRUE(unit_name_parse("root.a", &tokens));
    ASSERT_NE(unit_name_create_name(tokens, a.get()), 0u);
    a->scalar_owner_ptr = system->create_unit(&uncloneable_u::descriptor);
    ASSERT_TRUE(root->array_owner_ptr.append(owner_ptr_t<unit_t>(std::move(a))));
    ASSERT_TRUE(root->array_owner_ptr.append(system->create_unit(&uncloneable_u::descriptor)));

    message_capture_t capture;
    EXPECT_FALSE(root->clone());
    EXPECT_EQ(capture.lines,
              lines_t({ "[unit] Failed to clone the the attribute 'scalar_owner_ptr' of unit "
                        "'root.a' (type 'every_type').",
                        "[unit] Failed to clone the the attribute 'array_owner_ptr' of unit "
                        "'root' (type 'every_type')." }));
}
