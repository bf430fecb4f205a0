// How messages name a set.
#include "tools/font_generator/model/font_glyph.h"

#include "ovcore/collections/text_encoding.h"

#include <cstdio>

set_words_t describe_set(const set_label_t& label)
{
    set_words_t words;
    if (label.name[0] == '\0')
        std::snprintf(words.text, sizeof words.text, "the element %u of char_config",
                      label.element);
    else
        std::snprintf(words.text, sizeof words.text, "the set '%s' (the element %u of char_config)",
                      label.name, label.element);
    return words;
}

character_words_t quote_character(uint32_t code)
{
    character_words_t words = {};
    char bytes[4];
    const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
    const uint32_t length = control ? 0 : encode_utf8(code, bytes);
    if (length > 0)
        std::snprintf(words.text, sizeof words.text, " '%.*s'", int(length), bytes);
    return words;
}
