// How messages name a set.
#include "tools/font_generator/model/font_glyph.h"

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
