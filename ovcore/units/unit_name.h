// Unit names: tokens, the name format, the process-wide name table and nameless names.
//
// A name is 1 to 10 dot-separated components, each a token of 1 to 12 characters from
// [0-9a-z_] (upper case folds to lower case). Every distinct name is stored once, in one of
// 2040 shards (204 places per component count, each created when first needed), and belongs to
// one unit. The table is created with the first unit system and freed with the last. Lookups
// take the table's lock for reading, naming and releasing take it for writing, so any thread
// may use these functions.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t token_max_characters = 12;
constexpr uint32_t unit_name_max_components = 10;
constexpr uint32_t unit_name_places_per_count = 204;
constexpr uint32_t unit_name_shard_count = unit_name_max_components * unit_name_places_per_count;
// Set in the identifier that unit_name_release returns.
constexpr unit_name_id_t unit_name_released_bit = 0x80000000u;

// Encodes `length` characters; false for more than 12 or a character outside the alphabet.
// The empty text gives the token 0.
[[nodiscard]] bool token_from_text(const char* text, size_t length, token_t* token);
// Replaces `text` with the token's characters in lower case. False after "[unit] Unable to
// convert token to string" when the number is not a token, or when `text` ran out of room.
[[nodiscard]] bool token_to_text(token_t token, string_t* text);

// The format check: 1 to 10 non-empty components of valid tokens.
[[nodiscard]] bool unit_name_is_valid(const char* text);
// The format check, giving the components' tokens; `tokens` is emptied first.
[[nodiscard]] bool unit_name_parse(const char* text, array_t<token_t>* tokens);

// Names `unit` with the token sequence (1 to 10 tokens) and stores the identifier in the unit,
// releasing any name it had. Returns 0 when the name belongs to another unit already, or after
// a message when the table cannot take it; the unit then keeps its old name. Fatal when all 204
// places for this component count are full; a new place that finds no memory ends the run with
// status 1 (out_of_memory_exit).
[[nodiscard]] unit_name_id_t unit_name_create_name(const array_t<token_t>& tokens,
                                                 unit_t* unit);
// The unit that carries the name, or null (also for a text in wrong format).
[[nodiscard]] unit_t* unit_name_find_unit(const char* text);
[[nodiscard]] unit_t* unit_name_find_unit(const array_t<token_t>& tokens);
// Replaces `text` with the name ("font.latin"); false for an identifier no name has.
[[nodiscard]] bool unit_name_to_text(unit_name_id_t id, string_t* text);
// Frees the name; returns the identifier with bit 31 set (0 for 0). Releasing an identifier
// that names nothing is fatal; without a table (no unit system left) nothing happens.
unit_name_id_t unit_name_release(unit_name_id_t id);

// "_nameless." followed by the unit's address in lower-case hexadecimal, a dot before every
// group of four digits counted from the right: _nameless.7f3a.0012.3450.
void unit_nameless_name(const unit_t* unit, string_t* text);
// The unit's name, or its nameless name when it has none: how messages show a unit.
void unit_display_name(const unit_t* unit, string_t* text);

// Names held in the table; for diagnostics and tests.
uint32_t unit_name_count();
// Shards created so far.
uint32_t unit_name_shard_created_count();

// Called by unit systems only: the first creates the table (a table without memory ends the run
// with status 1), the last destroys it.
void unit_name_table_create();
void unit_name_table_destroy();

// Allocates a shard's storage; tests swap it to make allocation fail.
extern void* (*g_unit_name_allocate)(size_t bytes);
