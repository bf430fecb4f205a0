// Unit names: token coding, the name format, the sharded name table and nameless names.
//
// Sections: tokens; name format; the table and its shards; naming, lookup and release;
// nameless names.
#include "ovcore/units/unit_name.h"

#include "ovcore/collections/map/map_hashed.h"
#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"
#include "ovcore/thread/locks.h"
#include "ovcore/units/unit.h"

#include <cstdlib>
#include <cstring>
#include <new>

void* (*g_unit_name_allocate)(size_t bytes) = std::malloc;

// ---------------------------------------------------------------------------------------------
// Tokens: character i is the digit i in base 38, so the first character is the lowest digit.

namespace
{
constexpr uint64_t token_base = 38;
// Digit d stands for token_characters[d - 1]; digit 0 ends the token.
constexpr char token_characters[] = "0123456789abcdefghijklmnopqrstuvwxyz_";
static_assert(sizeof(token_characters) == token_base);

// 38^12: every token is below it.
constexpr uint64_t token_limit()
{
    uint64_t limit = 1;
    for (uint32_t i = 0; i < token_max_characters; ++i)
        limit *= token_base;
    return limit;
}

// The digit of a character, or 0 for a character outside the alphabet.
uint32_t token_digit(char c)
{
    if (c >= '0' && c <= '9')
        return uint32_t(c - '0') + 1;
    if (c >= 'a' && c <= 'z')
        return uint32_t(c - 'a') + 11;
    if (c >= 'A' && c <= 'Z')
        return uint32_t(c - 'A') + 11;
    if (c == '_')
        return 37;
    return 0;
}

// A token that decodes: below 38^12 and without an end digit before a character.
bool is_token(token_t token)
{
    if (token >= token_limit())
        return false;
    for (; token != 0; token /= token_base)
        if (token % token_base == 0)
            return false;
    return true;
}

// Appends the token's characters; the token must be valid.
bool append_token(token_t token, string_t* text)
{
    for (; token != 0; token /= token_base)
        if (!text->append_char(token_characters[token % token_base - 1]))
            return false;
    return true;
}
}  // namespace

bool token_from_text(const char* text, size_t length, token_t* token)
{
    if (length > token_max_characters)
        return false;
    uint64_t value = 0;
    uint64_t weight = 1;
    for (size_t i = 0; i < length; ++i, weight *= token_base)
    {
        const uint32_t digit = token_digit(text[i]);
        if (digit == 0)
            return false;
        value += digit * weight;
    }
    *token = value;
    return true;
}

bool token_to_text(token_t token, string_t* text)
{
    text->clear();
    if (!is_token(token))
    {
        msg_error("[unit] Unable to convert token to string");
        return false;
    }
    return append_token(token, text);
}

// ---------------------------------------------------------------------------------------------
// Name format

bool unit_name_parse(const char* text, array_t<token_t>* tokens)
{
    tokens->clear();
    const char* component = text;
    for (;;)
    {
        const char* end = std::strchr(component, '.');
        const size_t length = end != nullptr ? size_t(end - component) : std::strlen(component);
        token_t token = 0;
        if (length == 0 || tokens->size() == unit_name_max_components ||
            !token_from_text(component, length, &token) || !tokens->append(token))
            return false;
        if (end == nullptr)
            return true;
        component = end + 1;
    }
}

bool unit_name_is_valid(const char* text)
{
    array_fixed_t<token_t, unit_name_max_components> tokens;
    return unit_name_parse(text, &tokens);
}

// ---------------------------------------------------------------------------------------------
// The table: per component count 204 shard places, filled in order. A shard keeps its names'
// tokens in one block (slot s holds tokens s * components onwards), the unit of every slot, a
// stack of freed slots, and a hashed map from a token sequence to its slot.

namespace
{
struct name_key_t
{
    const token_t* tokens;
    uint32_t count;
};

struct name_key_traits_t
{
    static uint32_t hash(const name_key_t& key)
    {
        uint64_t h = 0xCBF29CE484222325u;
        for (uint32_t i = 0; i < key.count; ++i)
            h = (h ^ key.tokens[i]) * 0x100000001B3u;
        return uint32_t(h ^ (h >> 32));
    }
    static bool equal(const name_key_t& a, const name_key_t& b)
    {
        return a.count == b.count &&
               std::memcmp(a.tokens, b.tokens, a.count * sizeof(token_t)) == 0;
    }
};

struct name_shard_t
{
    uint32_t components = 0;
    uint32_t capacity = 0;
    token_t* tokens = nullptr;
    unit_t** units = nullptr;
    uint16_t* free_slots = nullptr;
    uint32_t free_count = 0;
    uint32_t next_unused = 0;
    map_hashed_t<name_key_t, uint16_t, name_key_traits_t> slots;

    name_shard_t() = default;
    name_shard_t(const name_shard_t&) = delete;
    name_shard_t& operator=(const name_shard_t&) = delete;
    ~name_shard_t()
    {
        std::free(tokens);
        std::free(units);
        std::free(free_slots);
    }

    bool has_free_slot() const { return free_count > 0 || next_unused < capacity; }
    uint32_t take_slot() { return free_count > 0 ? free_slots[--free_count] : next_unused++; }
    void return_slot(uint32_t slot)
    {
        units[slot] = nullptr;
        free_slots[free_count++] = uint16_t(slot);
    }
    bool is_used(uint32_t slot) const { return slot < next_unused && units[slot] != nullptr; }
    name_key_t key(uint32_t slot) const { return { tokens + slot * components, components }; }
};

struct name_table_t
{
    rw_lock_t lock;
    name_shard_t* shards[unit_name_shard_count] = {};
    uint32_t names = 0;
    uint32_t shards_created = 0;
};

name_table_t* g_unit_name_table = nullptr;

constexpr uint32_t id_slot_mask = 0xFFFFu;
constexpr uint32_t id_components_shift = 16;
constexpr uint32_t id_components_mask = 0xFu;
constexpr uint32_t id_shard_shift = 20;
constexpr uint32_t id_shard_mask = 0x7FFu;

// The first place of a count holds 1080 names, the second 8602 and every other 45864: the
// largest element counts of the hashed table's size classes 7, 10 and 13.
uint32_t shard_capacity(uint32_t place)
{
    return place == 0 ? 1080u : place == 1 ? 8602u : 45864u;
}

uint32_t first_shard_of(uint32_t components)
{
    return (components - 1) * unit_name_places_per_count;
}

// A new empty shard, or null after a message when its storage cannot be allocated.
name_shard_t* create_shard(uint32_t components, uint32_t place)
{
    const uint32_t capacity = shard_capacity(place);
    name_shard_t* shard = new (std::nothrow) name_shard_t();
    if (shard != nullptr)
    {
        shard->components = components;
        shard->capacity = capacity;
        shard->tokens = static_cast<token_t*>(
            g_unit_name_allocate(size_t(capacity) * components * sizeof(token_t)));
        shard->units = static_cast<unit_t**>(g_unit_name_allocate(capacity * sizeof(unit_t*)));
        shard->free_slots =
            static_cast<uint16_t*>(g_unit_name_allocate(capacity * sizeof(uint16_t)));
        if (shard->tokens != nullptr && shard->units != nullptr && shard->free_slots != nullptr)
            return shard;
        delete shard;
    }
    msg_error("[unit] Failed to allocate array to store unit names in (%Iu names of "
              "%Iucomponents).",
              size_t(capacity), size_t(components));
    return nullptr;
}

// The slot holding the name in a shard of its component count, or null. Needs the lock.
unit_t* find_locked(const name_table_t& table, const name_key_t& key)
{
    const uint32_t first = first_shard_of(key.count);
    for (uint32_t place = 0; place < unit_name_places_per_count; ++place)
    {
        const name_shard_t* shard = table.shards[first + place];
        if (shard == nullptr)
            continue;
        if (const uint16_t* slot = shard->slots.find(key))
            return shard->units[*slot];
    }
    return nullptr;
}

// The shard and slot an identifier names, or null when it names nothing. Needs the lock.
name_shard_t* shard_of(const name_table_t& table, unit_name_id_t id, uint32_t* slot)
{
    const uint32_t components = (id >> id_components_shift) & id_components_mask;
    const uint32_t shard_number = (id >> id_shard_shift) & id_shard_mask;
    *slot = id & id_slot_mask;
    if ((id & unit_name_released_bit) != 0 || shard_number >= unit_name_shard_count)
        return nullptr;
    name_shard_t* shard = table.shards[shard_number];
    if (shard == nullptr || shard->components != components || !shard->is_used(*slot))
        return nullptr;
    return shard;
}
}  // namespace

void unit_name_table_create()
{
    if (g_unit_name_table == nullptr)
        g_unit_name_table = new (std::nothrow) name_table_t();
    if (g_unit_name_table == nullptr)
        out_of_memory_exit("[unit] Not enough memory to start the unit system.");
}

void unit_name_table_destroy()
{
    if (g_unit_name_table == nullptr)
        return;
    for (name_shard_t* shard : g_unit_name_table->shards)
        delete shard;
    delete g_unit_name_table;
    g_unit_name_table = nullptr;
}

uint32_t unit_name_count()
{
    if (g_unit_name_table == nullptr)
        return 0;
    read_lock_scope_t hold(&g_unit_name_table->lock);
    return g_unit_name_table->names;
}

uint32_t unit_name_shard_created_count()
{
    if (g_unit_name_table == nullptr)
        return 0;
    read_lock_scope_t hold(&g_unit_name_table->lock);
    return g_unit_name_table->shards_created;
}

// ---------------------------------------------------------------------------------------------
// Naming, lookup and release

unit_name_id_t unit_name_create_name(const array_t<token_t>& tokens, unit_t* unit)
{
    const uint32_t components = tokens.size();
    if (components == 0 || components > unit_name_max_components)
        OV_FATAL("[unit] A unit name needs 1 to 10 components.");
    for (token_t token : tokens)
        if (token == 0 || !is_token(token))
            OV_FATAL("[unit] A unit name component is not a token.");
    if (g_unit_name_table == nullptr)
        OV_FATAL("[unit] Unit naming system used without a unit system.");
    name_table_t& table = *g_unit_name_table;
    const name_key_t wanted = { tokens.data(), components };
    unit_name_id_t id = 0;
    {
        write_lock_scope_t hold(&table.lock);
        if (find_locked(table, wanted) != nullptr)
            return 0;

        const uint32_t first = first_shard_of(components);
        uint32_t place = 0;
        uint32_t empty_place = unit_name_places_per_count;
        for (; place < unit_name_places_per_count; ++place)
        {
            const name_shard_t* shard = table.shards[first + place];
            if (shard == nullptr && empty_place == unit_name_places_per_count)
                empty_place = place;
            if (shard != nullptr && shard->has_free_slot())
                break;
        }
        if (place == unit_name_places_per_count)
        {
            place = empty_place;
            if (place == unit_name_places_per_count)
                OV_FATAL("[unit] Unit naming system is full.");
            table.shards[first + place] = create_shard(components, place);
            if (table.shards[first + place] == nullptr)
                out_of_memory_exit("[unit] Not enough memory to name the unit.");
            ++table.shards_created;
        }

        name_shard_t& shard = *table.shards[first + place];
        const uint32_t slot = shard.take_slot();
        std::memcpy(shard.tokens + slot * components, tokens.data(),
                    components * sizeof(token_t));
        shard.units[slot] = unit;
        if (shard.slots.insert(shard.key(slot), uint16_t(slot)) == nullptr)
        {
            msg_error("[unit] Not enough memory for the unit names.");
            msg_error("[unit] Failed map insertion into unit name shard, ignoring the naming "
                      "request.");
            shard.return_slot(slot);
            return 0;
        }
        ++table.names;
        id = slot | (components << id_components_shift) | ((first + place) << id_shard_shift);
    }
    if (unit->name_id() != 0)
        (void)unit_name_release(unit->name_id());
    unit->set_name_id(id);
    return id;
}

unit_t* unit_name_find_unit(const array_t<token_t>& tokens)
{
    if (g_unit_name_table == nullptr || tokens.empty() ||
        tokens.size() > unit_name_max_components)
        return nullptr;
    read_lock_scope_t hold(&g_unit_name_table->lock);
    return find_locked(*g_unit_name_table, { tokens.data(), tokens.size() });
}

unit_t* unit_name_find_unit(const char* text)
{
    array_fixed_t<token_t, unit_name_max_components> tokens;
    if (!unit_name_parse(text, &tokens))
        return nullptr;
    return unit_name_find_unit(tokens);
}

bool unit_name_to_text(unit_name_id_t id, string_t* text)
{
    text->clear();
    if (g_unit_name_table == nullptr)
        return false;
    read_lock_scope_t hold(&g_unit_name_table->lock);
    uint32_t slot = 0;
    const name_shard_t* shard = shard_of(*g_unit_name_table, id, &slot);
    if (shard == nullptr)
        return false;
    const name_key_t name = shard->key(slot);
    for (uint32_t i = 0; i < name.count; ++i)
    {
        if (!is_token(name.tokens[i]))
        {
            msg_error("[unit] Unable to convert token to string");
            return false;
        }
        if ((i != 0 && !text->append_char('.')) || !append_token(name.tokens[i], text))
            return false;
    }
    return true;
}

unit_name_id_t unit_name_release(unit_name_id_t id)
{
    if (id == 0)
        return 0;
    if (g_unit_name_table != nullptr)
    {
        write_lock_scope_t hold(&g_unit_name_table->lock);
        uint32_t slot = 0;
        name_shard_t* shard = shard_of(*g_unit_name_table, id, &slot);
        if (shard == nullptr)
            OV_FATAL("[unit] Attempt to release a unit name that does not exist.");
        (void)shard->slots.remove(shard->key(slot));
        shard->return_slot(slot);
        --g_unit_name_table->names;
    }
    return id | unit_name_released_bit;
}

// ---------------------------------------------------------------------------------------------
// Nameless names

void unit_nameless_name(const unit_t* unit, string_t* text)
{
    char digits[2 * sizeof(uintptr_t)];
    uint32_t count = 0;
    uintptr_t address = reinterpret_cast<uintptr_t>(unit);
    do
    {
        digits[count++] = "0123456789abcdef"[address & 0xF];
        address >>= 4;
    } while (address != 0);

    (void)text->assign("_nameless.");
    for (uint32_t i = count; i > 0; --i)
    {
        (void)text->append_char(digits[i - 1]);
        if (i != 1 && (i - 1) % 4 == 0)
            (void)text->append_char('.');
    }
}

void unit_display_name(const unit_t* unit, string_t* text)
{
    if (unit->name_id() == 0 || !unit_name_to_text(unit->name_id(), text))
        unit_nameless_name(unit, text);
}
