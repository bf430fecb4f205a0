// The kerning stage: FreeType's route over the 'kern' table, and the choice of route.
#include "tools/font_generator/kerning/kerning.h"

#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/kerning/kern_table.h"
#include "tools/font_generator/kerning/opentype_kerning.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>

namespace
{

int32_t saturate_to_int32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int32_t query_kerning(FT_Face face, FT_UInt left, FT_UInt right)
{
    FT_Vector kerning;
    kerning.x = 0;
    kerning.y = 0;
    if (FT_Get_Kerning(face, left, right, FT_KERNING_DEFAULT, &kerning) != 0)
        return 0;
    return saturate_to_int32(kerning.x >> 6);  // 26.6 to whole pixels, toward minus infinity
}

// Whether FreeType's kerning of sfnt faces is known to come from the 'kern' table alone. Later
// releases can read other tables as well; those keep the all-pairs loop.
bool kerning_is_kern_table_only(FT_Face face)
{
    FT_Int major = 0;
    FT_Int minor = 0;
    FT_Int patch = 0;
    FT_Library_Version(face->glyph->library, &major, &minor, &patch);
    const long version = long(major) * 10000 + long(minor) * 100 + long(patch);
    return FT_IS_SFNT(face) && version >= 20901 && version < 21303;
}

// The pairs the face's 'kern' table lists, when FreeType reads the table as the shared reader
// does: a table whose subtable lengths are too short for their pairs FreeType walks another
// way, and those faces keep the all-pairs loop. False also when the table cannot be read.
bool list_kern_table_pairs(FT_Face face, array_dyn_t<uint64_t>* pairs)
{
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(face, TTAG_kern, 0, nullptr, &length) != 0 || length < 4 ||
        length > UINT32_MAX)
        return false;
    array_dyn_t<uint8_t> table;
    if (!table.resize(uint32_t(length)) ||
        FT_Load_Sfnt_Table(face, TTAG_kern, 0, table.data(), &length) != 0)
        return false;
    kern_table_facts_t facts;
    return read_kern_table(table.data(), table.size(), pairs, &facts) && !facts.short_lengths;
}

bool collect_listed_pairs(FT_Face face, uint32_t face_index, const character_set_t& set,
                          const set_glyphs_t& known, const array_t<uint64_t>& listed,
                          array_dyn_t<kerning_pair_t>* out)
{
    const uint32_t count = set.glyphs.size();
    array_dyn_t<uint64_t> by_index;  // glyph index << 32 | position, sorted; this face's glyphs
    if (!by_index.reserve(count))
        return false;
    for (uint32_t position = 0; position < count; ++position)
        if (set.glyphs[position].face == face_index)
            (void)by_index.append(uint64_t(known.get_index(position)) << 32 | position);
    std::sort(by_index.begin(), by_index.end());

    struct candidate_t
    {
        uint32_t second;
        int32_t value;
    };
    array_dyn_t<candidate_t> candidates;
    for (uint32_t first = 0; first < count; ++first)
    {
        if (set.glyphs[first].face != face_index)
            continue;
        const uint64_t left = known.get_index(first);
        const uint64_t* pair = std::lower_bound(listed.begin(), listed.end(), left << 32);
        candidates.clear();
        for (; pair != listed.end() && (*pair >> 32) == left; ++pair)
        {
            const uint64_t right = *pair & 0xFFFFFFFFu;
            const uint64_t* match = std::lower_bound(by_index.begin(), by_index.end(), right << 32);
            if (match == by_index.end() || (*match >> 32) != right)
                continue;
            const int32_t value = query_kerning(face, FT_UInt(left), FT_UInt(right));
            if (value == 0)
                continue;
            for (; match != by_index.end() && (*match >> 32) == right; ++match)
                if (!candidates.append(candidate_t{ uint32_t(*match), value }))
                    return false;
        }
        std::sort(candidates.begin(), candidates.end(),
                  [](const candidate_t& a, const candidate_t& b) { return a.second < b.second; });
        for (const candidate_t& candidate : candidates)
            if (!out->append(kerning_pair_t{ first, candidate.second, candidate.value }))
                return false;
    }
    return true;
}

}  // namespace

bool face_has_kerning(FT_FaceRec_* face)
{
    return FT_HAS_KERNING(face);
}

bool append_face_kerning_pairs(FT_FaceRec_* face, uint32_t face_index, const character_set_t& set,
                               const set_glyphs_t* known, array_dyn_t<kerning_pair_t>* out)
{
    if (!FT_HAS_KERNING(face))
        return true;
    if (known != nullptr && kerning_is_kern_table_only(face))
    {
        array_dyn_t<uint64_t> listed;
        if (list_kern_table_pairs(face, &listed))
            return collect_listed_pairs(face, face_index, set, *known, listed, out);
    }

    const uint32_t count = set.glyphs.size();
    for (uint32_t first = 0; first < count; ++first)
    {
        if (set.glyphs[first].face != face_index)
            continue;
        for (uint32_t second = 0; second < count; ++second)
        {
            if (set.glyphs[second].face != face_index)
                continue;
            // Without what measuring learnt, both indices are looked up for every pair.
            const FT_UInt left = known != nullptr ? known->get_index(first)
                                                  : FT_Get_Char_Index(face, set.glyphs[first].code);
            const FT_UInt right = known != nullptr
                                      ? known->get_index(second)
                                      : FT_Get_Char_Index(face, set.glyphs[second].code);
            const int32_t value = query_kerning(face, left, right);
            if (value != 0 && !out->append(kerning_pair_t{ first, second, value }))
                return false;
        }
    }
    return true;
}

namespace
{

// Sorts pairs gathered face by face into file order of a then b.
void sort_kerning_pairs(array_dyn_t<kerning_pair_t>* pairs)
{
    std::sort(pairs->begin(), pairs->end(), [](const kerning_pair_t& a, const kerning_pair_t& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
}

}  // namespace

bool collect_kerning(face_list_t faces, const character_set_t& set, const set_glyphs_t* known,
                     bool opentype, array_dyn_t<kerning_pair_t>* out)
{
    out->clear();
    if (set.glyphs.empty() || set.glyphs[0].code > last_kerned_first_code)
        return true;
    array_dyn_t<kerning_pair_t> pairs;
    for (uint32_t k = 0; k < faces.count; ++k)
    {
        pairs.clear();
        const bool collected =
            opentype ? collect_opentype_kerning_pairs(faces[k], set, kerning_search_t::candidates,
                                                      &pairs, k)
                     : append_face_kerning_pairs(faces[k], k, set, known, &pairs);
        if (!collected || !out->append_copy(pairs))
            return false;
    }
    if (faces.count > 1)
        sort_kerning_pairs(out);
    return true;
}
