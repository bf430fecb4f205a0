// Font faces and glyph rasterization through FreeType.
//
// Sections: faces, measuring, helpers' faces and the phase, bitmap checks, drawing-pass bitmaps,
// kerning.
#include "tools/font_generator/font_faces.h"

#include "ovcore/message.h"
#include "ovcore/ufs/sys_file.h"
#include "tools/font_generator/character_set.h"
#include "tools/font_generator/configuration.h"
#include "tools/font_generator/generator.h"
#include "tools/font_generator/glyph_bitmap.h"
#include "tools/font_generator/glyph_workers.h"
#include "tools/font_generator/opentype_kerning.h"
#include "tools/font_generator/sys_pages.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <algorithm>
#include <cmath>
#include <new>

namespace
{

constexpr FT_Int32 measure_flags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_PEDANTIC;
constexpr FT_Int32 draw_flags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT;
static_assert(measure_flags == 0xA4 && (measure_flags | FT_LOAD_TARGET_MONO) == 0x200A4);
static_assert(draw_flags == 0x24 && (draw_flags | FT_LOAD_TARGET_MONO) == 0x20024);

constexpr uint32_t letter_m = 77;
constexpr uint32_t space = 32;

int32_t saturate_to_int32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

glyph_bitmap_t view_of(const FT_Bitmap& bitmap)
{
    glyph_bitmap_t view;
    view.width = saturate_to_int32(bitmap.width);
    view.rows = saturate_to_int32(bitmap.rows);
    view.pitch = bitmap.pitch;
    view.mode = glyph_pixel_mode_t(bitmap.pixel_mode);
    view.top_row = bitmap.buffer;
    // A negative pitch stores the bottom row first; row 0 is then the last in memory.
    if (bitmap.buffer != nullptr && bitmap.pitch < 0 && bitmap.rows > 0)
        view.top_row = bitmap.buffer + int64_t(-bitmap.pitch) * (int64_t(bitmap.rows) - 1);
    return view;
}

bool has_pixels(const glyph_bitmap_t& bitmap)
{
    return bitmap.width > 0 && bitmap.rows > 0;
}

}  // namespace

// ---- faces -------------------------------------------------------------------------------------

bool start_freetype(FT_LibraryRec_** library)
{
    if (FT_Init_FreeType(library) != 0)
    {
        *library = nullptr;
        msg_error("Failed to initialize the FreeType2 library.");
        return false;
    }
    return true;
}

void shut_down_freetype(FT_LibraryRec_* library)
{
    (void)FT_Done_FreeType(library);
}

void close_font_face(FT_FaceRec_* face)
{
    (void)FT_Done_Face(face);
}

int32_t scale_to_fixed(float scale)
{
    const float fixed = scale * 65536.0f;
    if (std::isnan(fixed))
        return 0;
    if (fixed >= 2147483648.0f)
        return INT32_MAX;
    if (fixed <= -2147483648.0f)
        return INT32_MIN;
    return int32_t(fixed);
}

namespace
{
// FreeType would wait on a FIFO for ever and read a device without end: a font is a regular
// file. Without a running file system FreeType alone decides.
bool may_be_a_font(const char* path)
{
    fs_stat_t status;
    return sys_file == nullptr || (sys_file->stat_path(path, &status) && status.type == 1);
}

// FreeType maps or reads the whole file to open it, and when neither finds memory it tries the
// file's resource forks and says "unknown format": a block of the file's size, had and given
// back at once, tells a shortage of memory from a file that is not a font.
bool has_room_for_file(const char* path)
{
    fs_stat_t status;
    if (sys_file == nullptr || !sys_file->stat_path(path, &status) || status.size == 0)
        return true;
    void* block = sys_pages->reserve_zeroed(std::size_t(status.size));
    if (block == nullptr)
        return false;
    sys_pages->release(block, std::size_t(status.size));
    return true;
}
}  // namespace

namespace
{

// Sets the face up for the settings: Unicode, the pixel size (a fixed-size font that refuses it
// at its first strike) and the scaling transform. With `say`, reports what it meets.
bool set_up_face(FT_Face face, const font_face_settings_t& settings, bool say)
{
    (void)FT_Select_Charmap(face, FT_ENCODING_UNICODE);

    if (FT_Set_Pixel_Sizes(face, settings.width, settings.height) != 0)
    {
        if (!FT_HAS_FIXED_SIZES(face) || face->num_fixed_sizes < 1)
        {
            if (say)
                msg_error("Failed to set pixel size for font '%s'.", settings.font_file);
            return false;
        }
        const FT_Bitmap_Size& strike = face->available_sizes[0];
        if (say)
            msg_warning("The font '%s' is of fixed size %d x %d pixels -trying to use that "
                        "instead of requested size.",
                        settings.font_file, int(strike.width), int(strike.height));
        (void)FT_Set_Pixel_Sizes(face, FT_UInt(std::max<FT_Short>(strike.width, 0)),
                                 FT_UInt(std::max<FT_Short>(strike.height, 0)));
    }

    FT_Matrix matrix;
    matrix.xx = scale_to_fixed(settings.scale_width);
    matrix.xy = 0;
    matrix.yx = 0;
    matrix.yy = scale_to_fixed(settings.scale_height);
    FT_Set_Transform(face, &matrix, nullptr);
    return true;
}

// The settings of face k of the set: its font_file's (k = 0) or its fallback font's.
font_face_settings_t face_settings_of(const char_set_config_u& config, uint32_t k)
{
    font_face_settings_t settings;
    settings.font_file =
        k == 0 ? config.font_file.c_str() : config.fallback_font_files[k - 1].c_str();
    settings.width = config.width;
    settings.height = config.height;
    settings.scale_width = config.scale_width;
    settings.scale_height = config.scale_height;
    return settings;
}

}  // namespace

bool open_font_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
                    FT_FaceRec_** face)
{
    *face = nullptr;
    if (!may_be_a_font(settings.font_file))
    {
        msg_error("Failed to open the font file '%s'.", settings.font_file);
        return false;
    }
    const FT_Error opened = FT_New_Face(library, settings.font_file, 0, face);
    if (opened != 0)
    {
        *face = nullptr;
        if (opened == FT_Err_Out_Of_Memory || !has_room_for_file(settings.font_file))
            msg_error("Not enough memory to open the font file '%s'.", settings.font_file);
        else if (opened == FT_Err_Unknown_File_Format)
            msg_error("The file '%s' has unknown format, can not open it as font.",
                      settings.font_file);
        else
            msg_error("Failed to open the font file '%s'.", settings.font_file);
        return false;
    }
    return set_up_face(*face, settings, true);
}

namespace
{
// Opens one more face of the set. A face that opened belongs to the set at once, so release
// closes it whatever happens next.
bool add_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
              generator_set_t* set)
{
    FT_FaceRec_* face = nullptr;
    const bool opened = open_font_face(library, settings, &face);
    if (face != nullptr && !set->faces.append(face))
    {
        close_font_face(face);
        msg_error("Failed to open the font file '%s'.", settings.font_file);
        return false;
    }
    return opened;
}
}  // namespace

// ---- measuring ---------------------------------------------------------------------------------

namespace
{

// How one set's glyphs are measured.
struct measure_settings_t
{
    FT_Int32 flags;
    int64_t outline;
};

measure_settings_t measure_settings_of(bool antialias, uint32_t outline_width)
{
    return { antialias ? measure_flags : measure_flags | FT_LOAD_TARGET_MONO,
             int64_t(outline_width) };
}

// Measures the glyph at the position with the first of the faces that defines its character:
// its cell, bearings and advance, and `rasterized` when that worked. Touches no other glyph and
// nothing of the set beside it, so helpers may measure different glyphs at once.
void measure_glyph(character_set_t* set, uint32_t position, face_list_t faces,
                   const measure_settings_t& settings, set_glyphs_t* known, uint64_t* budget,
                   uint32_t pool, glyph_message_log_t* log)
{
    font_glyph_t& glyph = set->glyphs[position];
    // The first face that defines the character draws it; one nobody defines stays with the
    // first face.
    FT_UInt index = 0;
    glyph.face = 0;
    for (uint32_t k = 0; k < faces.count && index == 0; ++k)
    {
        index = FT_Get_Char_Index(faces[k], glyph.code);
        if (index != 0)
            glyph.face = k;
    }
    const FT_Face face = faces[glyph.face];
    if (known != nullptr)
        known->set_index(position, index);
    if (index == 0)
    {
        log->error("Undefined character U+%04x", glyph.code);
        return;
    }
    // Loading by the index just found is what loading by the code does.
    const FT_Error loaded = known != nullptr ? FT_Load_Glyph(face, index, settings.flags)
                                             : FT_Load_Char(face, glyph.code, settings.flags);
    if (loaded == FT_Err_Out_Of_Memory)
    {
        log->note_lost_glyph(position);
        return;
    }
    if (loaded != 0)
    {
        log->error("Failed to retrieve glyph '%s'.", glyph.name.c_str());
        return;
    }
    const FT_GlyphSlot slot = face->glyph;
    const glyph_bitmap_t bitmap = view_of(slot->bitmap);
    if (has_pixels(bitmap) && (bitmap.top_row == nullptr || !is_readable_pixel_mode(bitmap.mode)))
    {
        log->error("The glyph '%s' was rendered in pixel mode %u, which cannot be read.",
                   glyph.name.c_str(), unsigned(bitmap.mode));
        return;
    }

    // Huge outline widths saturate instead of wrapping the cell size round.
    const int64_t outline = settings.outline;
    glyph.height = saturate_to_int32(int64_t(bitmap.rows) + 2 * outline);
    glyph.width = saturate_to_int32(int64_t(bitmap.width) + 2 * outline);
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.advance = saturate_to_int32(int64_t(slot->advance.x >> 6) + outline);
    glyph.below = saturate_to_int32(std::max<int64_t>(int64_t(glyph.height) - glyph.top, 0));

    check_glyph_bitmap(glyph, bitmap, log);
    glyph.rasterized = true;

    if (known != nullptr)
        (void)known->keep_bitmap(position, bitmap, budget, pool);
}

// The set's extents over its measured glyphs in file order; the letter M's height is the last
// measured M's.
void fold_set_extents(character_set_t* set)
{
    set->min_width = 100;
    set->max_width = -100;
    set->min_height = 100;
    set->max_height = -100;
    set->max_top = 0;
    set->max_advance = 0;
    set->max_below = 0;
    set->m_height = 0;
    for (const font_glyph_t& glyph : set->glyphs)
    {
        if (!glyph.rasterized)
            continue;
        if (glyph.code == letter_m)
            set->m_height = glyph.height;
        set->max_height = std::max(set->max_height, glyph.height);
        set->min_height = std::min(set->min_height, glyph.height);
        set->max_width = std::max(set->max_width, glyph.width);
        set->min_width = std::min(set->min_width, glyph.width);
        set->max_top = std::max(set->max_top, glyph.top);
        set->max_below = std::max(set->max_below, glyph.below);
        set->max_advance = std::max(set->max_advance, glyph.advance);
    }
}

}  // namespace

bool measure_glyphs(character_set_t* set, face_list_t faces, bool antialias,
                    uint32_t outline_width, set_glyphs_t* known, uint64_t* budget, int64_t* lost)
{
    const measure_settings_t settings = measure_settings_of(antialias, outline_width);
    glyph_message_log_t said_at_once;
    for (uint32_t position = 0; position < set->glyphs.size(); ++position)
        measure_glyph(set, position, faces, settings, known, budget, 0, &said_at_once);
    fold_set_extents(set);
    if (lost != nullptr)
        *lost = said_at_once.first_lost_glyph();
    return said_at_once.first_lost_glyph() < 0;
}

// ---- helpers' faces and the phase -------------------------------------------------------------

font_bytes_t::font_bytes_t(font_bytes_t&& other) noexcept
    : m_bytes(other.m_bytes), m_size(other.m_size)
{
    other.m_bytes = nullptr;
    other.m_size = 0;
}

font_bytes_t& font_bytes_t::operator=(font_bytes_t&& other) noexcept
{
    if (this != &other)
    {
        release();
        m_bytes = other.m_bytes;
        m_size = other.m_size;
        other.m_bytes = nullptr;
        other.m_size = 0;
    }
    return *this;
}

font_bytes_t::~font_bytes_t()
{
    release();
}

void font_bytes_t::release()
{
    if (m_bytes != nullptr)
        sys_pages->release(m_bytes, std::size_t(m_size));
    m_bytes = nullptr;
    m_size = 0;
}

bool font_bytes_t::read(const char* path)
{
    release();
    // The file system's own calls say nothing.
    if (sys_file == nullptr)
        return false;
    sys_file_handle_t* handle = sys_file->open(path, fs_open_mode_t::read_only);
    if (handle == nullptr)
        return false;
    constexpr uint64_t piece_bytes = 8u << 20;
    fs_stat_t status;
    bool read = sys_file->stat_handle(handle, &status) && status.size > 0 &&
                status.size < (1ull << 31);
    if (read)
    {
        m_bytes = static_cast<uint8_t*>(sys_pages->reserve_zeroed(std::size_t(status.size)));
        m_size = status.size;
        read = m_bytes != nullptr;
        if (read)
            sys_pages->advise_large_pages(m_bytes, std::size_t(m_size));
    }
    for (uint64_t done = 0; read && done < m_size;)
    {
        const uint32_t piece = uint32_t(std::min(m_size - done, piece_bytes));
        fs_io_request_t* request = sys_file->start_read(handle, m_bytes + done, piece, done);
        read = request != nullptr && sys_file->wait(request);
        done += piece;
    }
    sys_file->close(handle);
    if (!read)
        release();
    return read;
}

helper_faces_t::~helper_faces_t()
{
    for (FT_FaceRec_* face : m_faces)
        close_font_face(face);
    if (m_library != nullptr)
        shut_down_freetype(m_library);
}

bool helper_faces_t::open(const generator_set_t& set)
{
    if (FT_Init_FreeType(&m_library) != 0)
    {
        m_library = nullptr;
        return false;
    }
    if (!m_faces.reserve(set.font_bytes.size()))
        return false;
    for (uint32_t k = 0; k < set.font_bytes.size(); ++k)
    {
        const font_bytes_t& bytes = set.font_bytes[k];
        FT_Face face = nullptr;
        if (FT_New_Memory_Face(m_library, bytes.data(), FT_Long(bytes.size()), 0, &face) != 0)
            return false;
        (void)m_faces.append(face);  // room was reserved above
        if (!set_up_face(face, face_settings_of(*set.config, k), false))
            return false;
    }
    return true;
}

bool prepare_helpers(generator_set_t* set, uint32_t helpers)
{
    if (helpers == 0)
        return false;
    if (set->font_bytes.size() != set->faces.size())
    {
        set->font_bytes.clear();
        if (!set->font_bytes.resize(set->faces.size()))
            return false;
        for (uint32_t k = 0; k < set->faces.size(); ++k)
        {
            if (!set->font_bytes[k].read(face_settings_of(*set->config, k).font_file))
            {
                set->font_bytes.clear();
                return false;
            }
        }
    }
    return set->helper_faces.size() >= helpers || set->helper_faces.resize(helpers);
}

helper_faces_t* get_helper_faces(generator_set_t* set, uint32_t helper)
{
    auto_ptr_t<helper_faces_t>& faces = set->helper_faces[helper - 1];
    if (faces)
        return faces.get();
    auto_ptr_t<helper_faces_t> opened(new (std::nothrow) helper_faces_t);
    if (!opened || !opened->open(*set))
        return nullptr;
    faces = std::move(opened);
    return faces.get();
}

namespace
{

// Measuring one set on helpers: each chunk's messages are kept, to be said in file order; each
// helper keeps bitmaps in its own pool, within its share of the budget.
class measure_job_t final : public glyph_job_t
{
public:
    measure_job_t(generator_set_t* set, const measure_settings_t& settings, uint32_t helpers,
                  uint64_t budget)
        : m_set(set), m_settings(settings), m_helpers(helpers), m_share(budget / (helpers + 1))
    {
    }

    // False when memory is short.
    [[nodiscard]] bool make_room()
    {
        const uint32_t count = m_set->character_set->glyphs.size();
        const uint32_t chunks = (count + glyph_chunk_size - 1) / glyph_chunk_size;
        if (!m_logs.reserve(chunks) || !m_budgets.resize(m_helpers + 1))
            return false;
        for (uint32_t c = 0; c < chunks; ++c)
            (void)m_logs.append(glyph_message_log_t(true));
        for (uint64_t& budget : m_budgets)
            budget = m_share;
        return true;
    }

    bool prepare_helper(uint32_t helper) override
    {
        return get_helper_faces(m_set, helper) != nullptr;
    }

    void run_chunk(uint32_t helper, uint32_t begin, uint32_t end) override
    {
        const face_list_t faces =
            helper == 0 ? face_list_t(m_set->faces) : m_set->helper_faces[helper - 1]->faces();
        glyph_message_log_t* log = &m_logs[begin / glyph_chunk_size];
        for (uint32_t position = begin; position < end; ++position)
            measure_glyph(m_set->character_set.get(), position, faces, m_settings,
                          m_set->kept_glyphs.get(), &m_budgets[helper], helper, log);
    }

    // Says every chunk's messages in order; returns the bytes kept in all, and the first glyph
    // lost for want of memory or -1.
    uint64_t finish(int64_t* lost)
    {
        *lost = -1;
        for (glyph_message_log_t& log : m_logs)
        {
            log.say_kept();
            if (*lost < 0)
                *lost = log.first_lost_glyph();
        }
        uint64_t kept = 0;
        for (uint64_t budget : m_budgets)
            kept += m_share - budget;
        return kept;
    }

private:
    generator_set_t* m_set;
    measure_settings_t m_settings;
    uint32_t m_helpers;
    uint64_t m_share;
    array_dyn_t<glyph_message_log_t> m_logs;  // per chunk
    array_dyn_t<uint64_t> m_budgets;          // per helper, what it may still keep
};

// Measures the set on the main thread and helpers when it is large enough; the same glyphs,
// extents, kept bitmaps and messages in the same order as on the main thread alone. The first
// glyph lost for want of memory, or -1.
int64_t measure_set_glyphs(generator_set_t* set, glyph_store_t* store)
{
    const char_set_config_u& config = *set->config;
    character_set_t* characters = set->character_set.get();
    const uint32_t count = characters->glyphs.size();
    const uint32_t helpers = glyph_helpers_for(count);
    if (prepare_helpers(set, helpers))
    {
        // Without memory for a pool per helper the set is simply drawn from its faces again.
        if (set->kept_glyphs && !set->kept_glyphs->reset(count, helpers + 1))
            set->kept_glyphs.reset();
        measure_job_t job(set, measure_settings_of(config.antialias, config.outline_width),
                          helpers, store->budget);
        if (job.make_room())
        {
            run_glyph_job(&job, count, helpers);
            int64_t lost = -1;
            store->budget -= job.finish(&lost);
            fold_set_extents(characters);
            return lost;
        }
    }
    int64_t lost = -1;
    (void)measure_glyphs(characters, set->faces, config.antialias, config.outline_width,
                         set->kept_glyphs.get(), &store->budget, &lost);
    return lost;
}

// measure_set_glyphs; reports and returns false when a glyph could not be loaded for want of
// memory.
bool measure_set(generator_set_t* set, glyph_store_t* store)
{
    const int64_t lost = measure_set_glyphs(set, store);
    if (lost < 0)
        return true;
    const character_set_t& characters = *set->character_set;
    const font_glyph_t& glyph = characters.glyphs[uint32_t(lost)];
    msg_error("Not enough memory to measure the glyph U+%04X ('%s') of the element %u of "
              "'char_config' (the character set file '%s').",
              glyph.code, glyph.name.c_str(), characters.label.element, characters.label.file);
    return false;
}

}  // namespace

bool prepare_fonts(generator_t* generator)
{
    if (!start_freetype(&generator->library))
        return false;
    glyph_store_t& store = generator->glyph_store;
    for (generator_set_t& set : generator->sets)
    {
        const char_set_config_u& config = *set.config;
        for (uint32_t k = 0; k <= config.fallback_font_files.size(); ++k)
            if (!add_face(generator->library, face_settings_of(config, k), &set))
                return false;
        if (config.opentype_kerning && !load_harfbuzz())
            return false;

        if (store.keeps_glyphs)
        {
            // Without memory for it the set is simply measured again later: same output.
            set.kept_glyphs.reset(new (std::nothrow) set_glyphs_t);
            if (set.kept_glyphs && !set.kept_glyphs->reset(set.character_set->glyphs.size()))
                set.kept_glyphs.reset();
        }
        if (!measure_set(&set, &store))
            return false;
    }
    return true;
}

// ---- bitmap checks -----------------------------------------------------------------------------

void check_glyph_bitmap(const font_glyph_t& glyph, const glyph_bitmap_t& bitmap,
                        glyph_message_log_t* log)
{
    glyph_message_log_t said_at_once;
    if (log == nullptr)
        log = &said_at_once;
    const int32_t w = bitmap.width;
    const int32_t h = bitmap.rows;
    if (glyph.code != space && (w < 1 || h < 1))
        log->warning("The glyph '%s' has suspicious dimensions of %d x %d pixels.",
                    glyph.name.c_str(), w, h);
    // Without pixels every pattern would hold vacuously.
    if (w < 1 || h < 1 || bitmap.top_row == nullptr)
        return;

    enum : uint32_t
    {
        empty = 1,
        solid = 2,
        full_frame = 4,
        top_left = 8,
        top_right = 16,
        bottom_left = 32,
        bottom_right = 64,
        all = 127,
    };
    // On a frame pixel a pattern wants 255, elsewhere 0.
    auto on_frame = [](int32_t r, int32_t c, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
        if (r < r0 || r > r1 || c < c0 || c > c1)
            return false;
        return r == r0 || r == r1 || c == c0 || c == c1;
    };
    uint32_t holding = all;
    for (int32_t r = 0; r < h && holding != 0; ++r)
    {
        for (int32_t c = 0; c < w && holding != 0; ++c)
        {
            const uint8_t value = bitmap.coverage_at(r, c);
            if (value != 255 && value != 0)
            {
                holding = 0;
                break;
            }
            const bool lit = value == 255;
            auto want = [&](uint32_t pattern, bool on) {
                if (on != lit)
                    holding &= ~pattern;
            };
            want(empty, false);
            want(solid, true);
            want(full_frame, on_frame(r, c, 0, h - 1, 0, w - 1));
            want(top_left, on_frame(r, c, 0, h - 2, 0, w - 2));
            want(top_right, on_frame(r, c, 0, h - 2, 1, w - 1));
            want(bottom_left, on_frame(r, c, 1, h - 1, 0, w - 2));
            want(bottom_right, on_frame(r, c, 1, h - 1, 1, w - 1));
        }
    }

    const char* name = glyph.name.c_str();
    if ((holding & empty) != 0 && glyph.code != space)
        log->warning("The glyph '%s' rasterized to empty space.", name);
    const uint32_t code = glyph.code;
    if ((holding & solid) != 0 && code != 39 && code != 45 && code != 46 && code != 95 &&
        code != 124)
        log->warning("The glyph '%s' rasterized to solid rectangle.", name);
    if ((holding & full_frame) != 0 && w > 2 && h > 2)
        log->warning("The glyph '%s' rasterized to full-sized rectangle.", name);
    if ((holding & top_left) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in top-left corner.", name);
    if ((holding & top_right) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in top-right corner.", name);
    if ((holding & bottom_left) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in bottom-left corner.", name);
    if ((holding & bottom_right) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in bottom-right corner.", name);
}

// ---- drawing-pass bitmaps ----------------------------------------------------------------------

face_glyph_source_t::face_glyph_source_t(face_list_t faces, const character_set_t& set,
                                         bool antialias, set_glyphs_t* known)
    : m_faces(faces), m_set(set), m_antialias(antialias), m_known(known)
{
}

void face_glyph_source_t::drawn_through(uint32_t position)
{
    if (m_known != nullptr)
        m_known->release_bitmaps_through(position);
}

bool face_glyph_source_t::get_bitmap(uint32_t position, glyph_bitmap_t* out)
{
    return load_bitmap(m_faces, position, out);
}

void face_glyph_source_t::use_helpers(generator_set_t* set)
{
    m_helpers_set = set;
}

uint32_t face_glyph_source_t::helper_count() const
{
    return m_helpers_set != nullptr ? m_helpers_set->helper_faces.size() : 0;
}

bool face_glyph_source_t::prepare_helper(uint32_t helper)
{
    return get_helper_faces(m_helpers_set, helper) != nullptr;
}

bool face_glyph_source_t::get_helper_bitmap(uint32_t helper, uint32_t position,
                                            glyph_bitmap_t* out)
{
    return load_bitmap(m_helpers_set->helper_faces[helper - 1]->faces(), position, out);
}

int64_t face_glyph_source_t::first_lost_glyph() const
{
    const uint32_t lost = m_first_lost.load(std::memory_order_relaxed);
    return lost == UINT32_MAX ? -1 : int64_t(lost);
}

bool face_glyph_source_t::load_bitmap(face_list_t faces, uint32_t position, glyph_bitmap_t* out)
{
    // The drawing flags differ from the measuring ones only in FT_LOAD_PEDANTIC, which changes
    // whether a load fails, not what a successful one renders: the kept bitmap is the same.
    if (m_known != nullptr && m_known->find_bitmap(position, out))
        return true;
    const FT_Int32 flags = m_antialias ? draw_flags : draw_flags | FT_LOAD_TARGET_MONO;
    const font_glyph_t& glyph = m_set.glyphs[position];
    const FT_Face face = faces[glyph.face];
    const FT_Error loaded = m_known != nullptr
                                ? FT_Load_Glyph(face, m_known->get_index(position), flags)
                                : FT_Load_Char(face, glyph.code, flags);
    if (loaded != 0)
    {
        // A glyph measured but not drawn for want of memory would be silently missing.
        if (loaded == FT_Err_Out_Of_Memory)
        {
            uint32_t first = m_first_lost.load(std::memory_order_relaxed);
            while (position < first &&
                   !m_first_lost.compare_exchange_weak(first, position, std::memory_order_relaxed))
            {
            }
        }
        return false;
    }
    *out = view_of(face->glyph->bitmap);
    return has_pixels(*out) && out->top_row != nullptr && is_readable_pixel_mode(out->mode);
}

// ---- kerning -----------------------------------------------------------------------------------

namespace
{

int32_t query_kerning(FT_Face face, FT_UInt left, FT_UInt right)
{
    FT_Vector kerning;
    kerning.x = 0;
    kerning.y = 0;
    if (FT_Get_Kerning(face, left, right, FT_KERNING_DEFAULT, &kerning) != 0)
        return 0;
    return saturate_to_int32(kerning.x >> 6);  // 26.6 to whole pixels, toward minus infinity
}

uint32_t read_u16(const uint8_t* p)
{
    return uint32_t(p[0]) << 8 | p[1];
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

// The (left, right) glyph index pairs of every format 0 subtable of the face's 'kern' table, as
// left << 32 | right, sorted, without repeats. The subtables are walked the way FreeType walks
// them; taking subtables it ignores as well only adds pairs that it answers with 0. False when
// the table cannot be read.
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

    const uint8_t* const limit = table.data() + table.size();
    const uint32_t subtables = read_u16(table.data() + 2);
    const uint8_t* p = table.data() + 4;
    for (uint32_t n = 0; n < subtables && p + 6 <= limit; ++n)
    {
        const uint8_t* const base = p;
        const uint32_t subtable_length = read_u16(base + 2);
        const uint32_t coverage = read_u16(base + 4);
        if (subtable_length <= 6 + 8)
            break;
        const uint8_t* next = limit - base < ptrdiff_t(subtable_length) ? limit : base + subtable_length;
        if ((coverage >> 8) == 0 && base + 14 <= next)
        {
            uint32_t count = read_u16(base + 6);
            const uint8_t* entry = base + 14;
            count = std::min<uint32_t>(count, uint32_t((next - entry) / 6));
            if (!pairs->reserve_more(count))
                return false;
            for (uint32_t i = 0; i < count; ++i, entry += 6)
                (void)pairs->append(uint64_t(read_u16(entry)) << 32 | read_u16(entry + 2));
        }
        p = next;
    }
    std::sort(pairs->begin(), pairs->end());
    uint32_t kept = 0;
    for (uint32_t i = 0; i < pairs->size(); ++i)
        if (kept == 0 || (*pairs)[kept - 1] != (*pairs)[i])
            (*pairs)[kept++] = (*pairs)[i];
    return pairs->resize(kept);
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

namespace
{

// The pairs of the glyphs drawn from one face, appended.
bool collect_face_pairs(FT_Face face, uint32_t face_index, const character_set_t& set,
                        const set_glyphs_t* known, array_dyn_t<kerning_pair_t>* out)
{
    if (!FT_HAS_KERNING(face))
        return true;
    const uint32_t start = out->size();
    if (known != nullptr && kerning_is_kern_table_only(face))
    {
        array_dyn_t<uint64_t> listed;
        if (list_kern_table_pairs(face, &listed))
            return collect_listed_pairs(face, face_index, set, *known, listed, out);
        (void)out->resize(start);  // shrinking always succeeds
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

}  // namespace

bool collect_kerning_pairs(face_list_t faces, const character_set_t& set,
                           const set_glyphs_t* known, array_dyn_t<kerning_pair_t>* out)
{
    out->clear();
    if (set.glyphs.empty())
        return true;
    for (uint32_t k = 0; k < faces.count; ++k)
        if (!collect_face_pairs(faces[k], k, set, known, out))
            return false;
    if (faces.count > 1)
        sort_kerning_pairs(out);
    return true;
}

void sort_kerning_pairs(array_dyn_t<kerning_pair_t>* pairs)
{
    std::sort(pairs->begin(), pairs->end(), [](const kerning_pair_t& a, const kerning_pair_t& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
}
