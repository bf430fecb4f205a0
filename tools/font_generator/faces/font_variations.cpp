// Variable fonts: design coordinates from named instances and axis settings, through FreeType.
//
// Sections: axis settings, the font's axes and names, the main font, fallback fonts.
#include "tools/font_generator/faces/font_variations.h"

#include "ovcore/message.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MULTIPLE_MASTERS_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <cmath>
#include <cstddef>
#include <cstdlib>

// ---- axis settings -----------------------------------------------------------------------------

namespace
{

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

bool variation_request_t::is_empty() const
{
    const char* p = instance;
    while (is_blank(*p))
        ++p;
    return *p == 0 && (settings == nullptr || settings->empty());
}

// ---- the font's axes and names -----------------------------------------------------------------

namespace
{

// The face's axes and named instances, as FreeType reads them from 'fvar'; none for a face that
// is not variable.
class font_axes_t
{
public:
    explicit font_axes_t(FT_Face face) : m_library(face->glyph->library)
    {
        if (!FT_HAS_MULTIPLE_MASTERS(face) || FT_Get_MM_Var(face, &m_var) != 0)
            m_var = nullptr;
    }
    font_axes_t(const font_axes_t&) = delete;
    font_axes_t& operator=(const font_axes_t&) = delete;
    ~font_axes_t()
    {
        if (m_var != nullptr)
            (void)FT_Done_MM_Var(m_library, m_var);
    }

    uint32_t count() const { return m_var == nullptr ? 0 : m_var->num_axis; }
    const FT_Var_Axis& axis(uint32_t a) const { return m_var->axis[a]; }
    uint32_t instance_count() const { return m_var == nullptr ? 0 : m_var->num_namedstyles; }
    const FT_Var_Named_Style& instance(uint32_t i) const { return m_var->namedstyle[i]; }
    // The axis of the tag; -1 when the face has none.
    int32_t find(uint32_t tag) const
    {
        for (uint32_t a = 0; a < count(); ++a)
            if (axis(a).tag == tag)
                return int32_t(a);
        return -1;
    }

private:
    FT_Library m_library;
    FT_MM_Var* m_var = nullptr;
};

// 'fvar' stores signed 16.16 values; some FreeType releases hand negative instance coordinates
// back as unsigned 32-bit numbers. The low 32 bits are the value either way.
int32_t signed_fixed(FT_Fixed value)
{
    return int32_t(uint32_t(uint64_t(value)));
}

double design_value(int32_t fixed)
{
    return double(fixed) / 65536.0;
}

// The name of the id as FreeType names a face from it: an English Windows name first, else a
// Macintosh English or Roman one, else a Unicode one; characters outside printable ASCII as
// '?'. Empty when the font has none. False when memory is short.
bool read_font_name(FT_Face face, FT_UInt name_id, string_dyn_t* text)
{
    int32_t unicode = -1;
    int32_t apple_roman = -1;
    int32_t apple_english = -1;
    int32_t windows = -1;
    bool windows_english = false;
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt n = 0; n < count; ++n)
    {
        FT_SfntName name;
        if (FT_Get_Sfnt_Name(face, n, &name) != 0 || name.name_id != name_id ||
            name.string_len == 0)
            continue;
        switch (name.platform_id)
        {
        case TT_PLATFORM_APPLE_UNICODE:
        case TT_PLATFORM_ISO:
            unicode = int32_t(n);
            break;
        case TT_PLATFORM_MACINTOSH:
            if (name.language_id == TT_MAC_LANGID_ENGLISH)
                apple_english = int32_t(n);
            else if (name.encoding_id == TT_MAC_ID_ROMAN)
                apple_roman = int32_t(n);
            break;
        case TT_PLATFORM_MICROSOFT:
            if ((windows == -1 || (name.language_id & 0x3FF) == 0x009) &&
                (name.encoding_id == TT_MS_ID_SYMBOL_CS ||
                 name.encoding_id == TT_MS_ID_UNICODE_CS || name.encoding_id == TT_MS_ID_UCS_4))
            {
                windows_english = (name.language_id & 0x3FF) == 0x009;
                windows = int32_t(n);
            }
            break;
        default:
            break;
        }
    }
    const int32_t apple = apple_english >= 0 ? apple_english : apple_roman;
    int32_t chosen = -1;
    bool wide = true;
    if (windows >= 0 && !(apple >= 0 && !windows_english))
        chosen = windows;
    else if (apple >= 0)
    {
        chosen = apple;
        wide = false;
    }
    else
        chosen = unicode;
    text->clear();
    FT_SfntName name;
    if (chosen < 0 || FT_Get_Sfnt_Name(face, FT_UInt(chosen), &name) != 0)
        return true;
    const uint32_t step = wide ? 2 : 1;
    for (uint32_t at = 0; at + step <= name.string_len; at += step)
    {
        const uint32_t code =
            wide ? uint32_t(name.string[at]) << 8 | name.string[at + 1] : name.string[at];
        if (code == 0)
            break;
        if (!text->append_char(code < 32 || code > 127 ? '?' : char(code)))
            return false;
    }
    return true;
}

// Equal without regard to ASCII case and the blanks around either.
bool is_same_name(const char* a, const char* b)
{
    auto trimmed = [](const char* text, const char** end) {
        while (is_blank(*text))
            ++text;
        const char* last = text;
        for (const char* p = text; *p != 0; ++p)
            if (!is_blank(*p))
                last = p + 1;
        *end = last;
        return text;
    };
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    const char* a_end = nullptr;
    const char* b_end = nullptr;
    a = trimmed(a, &a_end);
    b = trimmed(b, &b_end);
    if (a_end - a != b_end - b)
        return false;
    for (; a < a_end; ++a, ++b)
        if (lower(*a) != lower(*b))
            return false;
    return true;
}

void say_no_memory(const char* font_file)
{
    msg_error("Not enough memory for the design coordinates of the font file '%s'.", font_file);
}

// "wght from 100 to 900, slnt from -10 to 0".
bool list_axes(const font_axes_t& axes, string_dyn_t* list)
{
    for (uint32_t a = 0; a < axes.count(); ++a)
    {
        const FT_Var_Axis& axis = axes.axis(a);
        if (!list->append_formatted("%s%s from %g to %g", a == 0 ? "" : ", ",
                                    axis_tag_text(uint32_t(axis.tag)).text,
                                    design_value(signed_fixed(axis.minimum)),
                                    design_value(signed_fixed(axis.maximum))))
            return false;
    }
    return true;
}

// "'Thin', 'Thin Italic', ...", or "none".
bool list_instances(FT_Face face, const font_axes_t& axes, string_dyn_t* list)
{
    string_dyn_t name;
    for (uint32_t i = 0; i < axes.instance_count(); ++i)
        if (!read_font_name(face, axes.instance(i).strid, &name) ||
            !list->append_formatted("%s'%s'", i == 0 ? "" : ", ", name.c_str()))
            return false;
    return axes.instance_count() != 0 || list->append("none");
}

}  // namespace

// ---- the main font -----------------------------------------------------------------------------

namespace
{

// Puts the named instance's coordinates in place; false after saying the font has no such
// instance.
bool take_instance(FT_Face face, const char* font_file, const variation_request_t& request,
                   const font_axes_t& axes, face_variation_t* variation)
{
    const set_label_t& label = request.label;
    string_dyn_t name;
    for (uint32_t i = 0; i < axes.instance_count(); ++i)
    {
        const FT_Var_Named_Style& instance = axes.instance(i);
        if (!read_font_name(face, instance.strid, &name))
        {
            say_no_memory(font_file);
            return false;
        }
        if (!is_same_name(name.c_str(), request.instance))
            continue;
        for (uint32_t a = 0; a < axes.count(); ++a)
            variation->coordinates[a] = signed_fixed(instance.coords[a]);
        if (!variation->instance.assign(name))
        {
            say_no_memory(font_file);
            return false;
        }
        return true;
    }
    string_dyn_t names;
    if (!list_instances(face, axes, &names))
    {
        say_no_memory(font_file);
        return false;
    }
    msg_error("The font file '%s' of the element %u of 'char_config' (the character set file "
              "'%s') has no named instance '%s' for font_instance; its instances are %s.",
              font_file, label.element, label.file, request.instance, names.c_str());
    return false;
}

// Puts one setting's value in place; false after saying why it cannot be.
bool take_setting(const char* font_file, const set_label_t& label, const string_t& text,
                  const font_axes_t& axes, face_variation_t* variation)
{
    axis_setting_t setting;
    if (!parse_axis_setting(text.c_str(), &setting))
    {
        msg_error("The font variation '%s' of the element %u of 'char_config' (the character "
                  "set file '%s') is not TAG=VALUE.",
                  text.c_str(), label.element, label.file);
        return false;
    }
    const int32_t a = axes.find(setting.tag);
    if (a < 0)
    {
        string_dyn_t list;
        if (!list_axes(axes, &list))
        {
            say_no_memory(font_file);
            return false;
        }
        msg_error("The font file '%s' of the element %u of 'char_config' (the character set "
                  "file '%s') has no axis '%s' for the font variation '%s'; its axes are %s.",
                  font_file, label.element, label.file, axis_tag_text(setting.tag).text,
                  text.c_str(), list.c_str());
        return false;
    }
    const FT_Var_Axis& axis = axes.axis(uint32_t(a));
    const int32_t minimum = signed_fixed(axis.minimum);
    const int32_t maximum = signed_fixed(axis.maximum);
    if (setting.value < minimum || setting.value > maximum)
    {
        msg_error("The font variation '%s' of the element %u of 'char_config' (the character "
                  "set file '%s') is outside the range %g to %g of the axis '%s' of the font "
                  "file '%s'.",
                  text.c_str(), label.element, label.file, design_value(minimum),
                  design_value(maximum), axis_tag_text(setting.tag).text, font_file);
        return false;
    }
    variation->coordinates[uint32_t(a)] = setting.value;
    return true;
}

// The face's axes with their default coordinates; false when memory is short.
bool start_coordinates(const font_axes_t& axes, face_variation_t* variation)
{
    if (!variation->tags.resize(axes.count()) || !variation->coordinates.resize(axes.count()))
        return false;
    for (uint32_t a = 0; a < axes.count(); ++a)
    {
        variation->tags[a] = uint32_t(axes.axis(a).tag);
        variation->coordinates[a] = signed_fixed(axes.axis(a).def);
    }
    return true;
}

}  // namespace

bool resolve_main_variation(FT_FaceRec_* face, const char* font_file,
                            const variation_request_t& request, face_variation_t* variation)
{
    const set_label_t& label = request.label;
    const font_axes_t axes(face);
    if (axes.count() == 0)
    {
        msg_error("The font file '%s' of the element %u of 'char_config' (the character set file "
                  "'%s') is not a variable font: font_instance and font_variations need one.",
                  font_file, label.element, label.file);
        return false;
    }
    if (!start_coordinates(axes, variation))
    {
        say_no_memory(font_file);
        return false;
    }
    bool usable = true;
    if (!is_same_name(request.instance, ""))
        usable = take_instance(face, font_file, request, axes, variation);
    if (request.settings != nullptr)
        for (const string_dyn_t& text : *request.settings)
            usable = take_setting(font_file, label, text, axes, variation) && usable;
    if (!usable)
        return false;
    const char* family = face->family_name != nullptr ? face->family_name : "";
    if (!variation->face_name.assign(family) ||
        (!variation->instance.empty() &&
         (!variation->face_name.append_char(' ') ||
          !variation->face_name.append(variation->instance))))
    {
        say_no_memory(font_file);
        return false;
    }
    return true;
}

// ---- fallback fonts ----------------------------------------------------------------------------

bool carry_variation(const face_variation_t& main, FT_FaceRec_* face, const char* font_file,
                     const set_label_t& label, face_variation_t* variation)
{
    const font_axes_t axes(face);
    if (axes.count() == 0)
        return true;
    if (!start_coordinates(axes, variation))
    {
        say_no_memory(font_file);
        return false;
    }
    for (uint32_t a = 0; a < axes.count(); ++a)
    {
        uint32_t m = 0;
        while (m < main.tags.size() && main.tags[m] != variation->tags[a])
            ++m;
        if (m == main.tags.size())
            continue;
        const int32_t wanted = main.coordinates[m];
        const int32_t minimum = signed_fixed(axes.axis(a).minimum);
        const int32_t maximum = signed_fixed(axes.axis(a).maximum);
        const int32_t held = wanted < minimum ? minimum : wanted > maximum ? maximum : wanted;
        if (held != wanted)
            msg_warning("The fallback font '%s' of the element %u of 'char_config' (the character "
                        "set file '%s') has the axis '%s' from %g to %g: it is drawn at %g "
                        "instead of the main font's %g.",
                        font_file, label.element, label.file,
                        axis_tag_text(variation->tags[a]).text, design_value(minimum),
                        design_value(maximum), design_value(held), design_value(wanted));
        variation->coordinates[a] = held;
    }
    return true;
}

bool apply_variation(FT_FaceRec_* face, const face_variation_t& variation)
{
    if (!variation.has_coordinates())
        return true;
    array_dyn_t<FT_Fixed> coordinates;
    if (!coordinates.resize(variation.coordinates.size()))
        return false;
    for (uint32_t a = 0; a < coordinates.size(); ++a)
        coordinates[a] = variation.coordinates[a];
    return FT_Set_Var_Design_Coordinates(face, coordinates.size(), coordinates.data()) == 0;
}
