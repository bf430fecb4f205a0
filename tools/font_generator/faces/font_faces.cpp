// Font faces through FreeType, opened from font bytes read once.
//
// Sections: FreeType, the font bytes, opening one face, the face set.
#include "tools/font_generator/faces/font_faces.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/sys_pages.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/sys_file.h"
#include "tools/font_generator/input/character_set.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H

#include <algorithm>
#include <cmath>
#include <new>

// ---- FreeType ----------------------------------------------------------------------------------

namespace
{

// FreeType's default modules that fonts of the kinds the tool reads need: both renderers, the
// autofitter and the font drivers with their helpers. FT_Init_FreeType succeeds when one of
// them could not be added for want of memory; the glyphs would then come out otherwise.
constexpr const char* needed_modules[] = {
    "smooth", "raster1", "autofitter", "sfnt",  "truetype", "cff",     "type1",    "t1cid",
    "type42", "pfr",     "winfonts",   "pcf",   "bdf",      "psaux",   "psnames",  "pshinter",
};

// FreeType's library with every needed module; `missing` names the first one that is not.
FT_Error init_freetype(FT_Library* library, const char** missing)
{
    *missing = nullptr;
    const FT_Error error = FT_Init_FreeType(library);
    if (error != 0)
    {
        *library = nullptr;
        // Its memory record is the one thing FT_Init_FreeType reports so.
        return error == FT_Err_Unimplemented_Feature ? FT_Err_Out_Of_Memory : error;
    }
    for (const char* name : needed_modules)
    {
        if (FT_Get_Module(*library, name) == nullptr)
        {
            *missing = name;
            (void)FT_Done_FreeType(*library);
            *library = nullptr;
            return FT_Err_Out_Of_Memory;
        }
    }
    return 0;
}

}  // namespace

bool start_freetype(FT_LibraryRec_** library)
{
    const char* missing = nullptr;
    const FT_Error error = init_freetype(library, &missing);
    if (error == 0)
        return true;
    if (missing != nullptr)
        msg_error("Not enough memory for the module '%s' of the FreeType2 library.", missing);
    else if (error == FT_Err_Out_Of_Memory)
        msg_error("Not enough memory to initialize the FreeType2 library.");
    msg_error("Failed to initialize the FreeType2 library.");
    if (error != FT_Err_Out_Of_Memory)
        msg_error("FreeType2 error code %d.", int(error));
    return false;
}

void shut_down_freetype(FT_LibraryRec_* library)
{
    (void)FT_Done_FreeType(library);
}

bool describe_freetype_version(string_t* out)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return false;
    FT_Int major = 0;
    FT_Int minor = 0;
    FT_Int patch = 0;
    FT_Library_Version(library, &major, &minor, &patch);
    (void)FT_Done_FreeType(library);
    return out->format("%d.%d.%d", int(major), int(minor), int(patch));
}

void close_font_face(FT_FaceRec_* face)
{
    (void)FT_Done_Face(face);
}

bool has_outlines(FT_Face face)
{
    return FT_IS_SCALABLE(face);
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

// ---- the font bytes ----------------------------------------------------------------------------

namespace
{

// One font file's bytes: mapped through the file system, so that only the pages FreeType reads
// are brought in and no copy is made, else read into the system's zero pages. Owned by the face
// opened from them, which frees them when it is done.
struct font_bytes_t
{
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    bool mapped = false;

    ~font_bytes_t()
    {
        if (data == nullptr)
            return;
        if (mapped)
            sys_file->unmap(data, size);
        else
            sys_pages->release(const_cast<uint8_t*>(data), std::size_t(size));
    }
};

enum class read_result_t
{
    read,
    unreadable,  // missing, not a regular file, 2 GiB or larger, or a read failed
    empty,
    no_memory,
};

// Reads the whole open file into zero pages, for a file the system cannot map.
read_result_t read_whole(sys_file_handle_t* handle, uint64_t size, font_bytes_t* bytes)
{
    uint8_t* block = static_cast<uint8_t*>(sys_pages->reserve_zeroed(std::size_t(size)));
    if (block == nullptr)
        return read_result_t::no_memory;
    bytes->data = block;
    bytes->size = size;
    // Written whole at once: its pages come in one call, not a fault at a time.
    sys_pages->advise_large_pages(block, std::size_t(size));
    sys_pages->commit(block, std::size_t(size));
    constexpr uint64_t piece_bytes = 8u << 20;
    for (uint64_t done = 0; done < size;)
    {
        const uint32_t piece = uint32_t(std::min(size - done, piece_bytes));
        fs_io_request_t* request = sys_file->start_read(handle, block + done, piece, done);
        if (request == nullptr || !sys_file->wait(request))
            return read_result_t::unreadable;
        done += piece;
    }
    return read_result_t::read;
}

// FreeType would wait on a FIFO for ever and read a device without end: a font is a regular
// file. Maps or reads the whole file through the file system, which says nothing itself.
read_result_t read_font_bytes(const char* path, font_bytes_t* bytes)
{
    if (sys_file == nullptr)
        return read_result_t::unreadable;
    fs_stat_t status;
    if (!sys_file->stat_path(path, &status) || status.type != 1)
        return read_result_t::unreadable;
    sys_file_handle_t* handle = sys_file->open(path, fs_open_mode_t::read_only);
    if (handle == nullptr)
        return read_result_t::unreadable;
    read_result_t result = read_result_t::read;
    if (!sys_file->stat_handle(handle, &status) || status.size >= (1ull << 31))
        result = read_result_t::unreadable;
    else if (status.size == 0)
        result = read_result_t::empty;
    else if (const void* mapped = sys_file->map_read_only(handle, status.size); mapped != nullptr)
    {
        bytes->data = static_cast<const uint8_t*>(mapped);
        bytes->size = status.size;
        bytes->mapped = true;
    }
    else
        result = read_whole(handle, status.size, bytes);
    sys_file->close(handle);
    return result;
}

// The face's bytes go with it.
void release_font_bytes(void* face)
{
    delete static_cast<font_bytes_t*>(static_cast<FT_Face>(face)->generic.data);
}

// The bytes a face opened by open_font_face reads from.
const font_bytes_t& font_bytes_of(FT_Face face)
{
    return *static_cast<const font_bytes_t*>(face->generic.data);
}

}  // namespace

// ---- opening one face --------------------------------------------------------------------------

namespace
{

// Sets the face up for the settings: Unicode, the pixel size (a fixed-size font that refuses it
// at its first strike) and the scaling transform. With `say`, reports what it meets.
bool set_up_face(FT_Face face, const font_face_settings_t& settings, bool say)
{
    (void)FT_Select_Charmap(face, FT_ENCODING_UNICODE);

    const FT_Error sized = FT_Set_Pixel_Sizes(face, settings.width, settings.height);
    if (sized == FT_Err_Out_Of_Memory)
    {
        if (say)
            msg_error("Not enough memory to set the pixel size of the font '%s'.",
                      settings.font_file);
        return false;
    }
    if (sized != 0)
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

void say_unknown_format(const char* path)
{
    msg_error("The file '%s' has unknown format, can not open it as font.", path);
}

}  // namespace

namespace
{

// open_font_face up to sizing: the bytes read, the face opened, a face without outlines refused.
bool open_unsized_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
                       FT_FaceRec_** face)
{
    *face = nullptr;
    const char* path = settings.font_file;
    auto_ptr_t<font_bytes_t> bytes(new (std::nothrow) font_bytes_t);
    const read_result_t read =
        bytes ? read_font_bytes(path, bytes.get()) : read_result_t::no_memory;
    switch (read)
    {
    case read_result_t::read:
        break;
    case read_result_t::empty:
        say_unknown_format(path);
        return false;
    case read_result_t::no_memory:
        msg_error("Not enough memory to open the font file '%s'.", path);
        return false;
    case read_result_t::unreadable:
        msg_error("Failed to open the font file '%s'.", path);
        say_why_open_failed("", path, fs_open_mode_t::read_only);
        return false;
    }
    const FT_Error opened =
        FT_New_Memory_Face(library, bytes->data, FT_Long(bytes->size), 0, face);
    if (opened != 0)
    {
        *face = nullptr;
        // Opened by path, FreeType would go on to look for resource forks after these and end
        // with "unknown format"; the bytes in memory have none.
        if (opened == FT_Err_Unknown_File_Format || opened == FT_Err_Cannot_Open_Stream ||
            opened == FT_Err_Invalid_Stream_Operation)
            say_unknown_format(path);
        else if (opened == FT_Err_Out_Of_Memory)
            msg_error("Not enough memory to open the font file '%s'.", path);
        else
            msg_error("Failed to open the font file '%s'.", path);
        return false;
    }
    (*face)->generic.data = bytes.release();
    (*face)->generic.finalizer = release_font_bytes;
    return !settings.outlines_only || has_outlines(*face);
}

}  // namespace

bool open_font_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
                    FT_FaceRec_** face)
{
    return open_unsized_face(library, settings, face) && set_up_face(*face, settings, true);
}

void collect_mapped_codes(face_list_t faces, code_set_t* codes)
{
    for (uint32_t k = 0; k < faces.count; ++k)
    {
        FT_UInt index = 0;
        for (FT_ULong code = FT_Get_First_Char(faces[k], &index); index != 0;
             code = FT_Get_Next_Char(faces[k], code, &index))
            if (code <= 0x10FFFF)
                codes->add(uint32_t(code));
    }
}

// ---- the face set ------------------------------------------------------------------------------

// A helper's own FreeType library and faces of one set, opened from the set's font bytes and set
// up as the set's own faces are. For one thread at a time; the destructor closes them.
class helper_faces_t
{
public:
    helper_faces_t() = default;
    helper_faces_t(const helper_faces_t&) = delete;
    helper_faces_t& operator=(const helper_faces_t&) = delete;
    ~helper_faces_t()
    {
        for (FT_Face face : m_faces)
            close_font_face(face);
        if (m_library != nullptr)
            shut_down_freetype(m_library);
    }

    // One face per face of the set, at its variation, without a word; false when any cannot
    // be had.
    [[nodiscard]] bool open(face_list_t faces, const array_t<font_face_settings_t>& settings,
                            const array_t<face_variation_t>& variations)
    {
        const char* missing = nullptr;
        if (init_freetype(&m_library, &missing) != 0)
            return false;
        if (!m_faces.reserve(faces.count))
            return false;
        for (uint32_t k = 0; k < faces.count; ++k)
        {
            const font_bytes_t& bytes = font_bytes_of(faces[k]);
            FT_Face face = nullptr;
            if (FT_New_Memory_Face(m_library, bytes.data, FT_Long(bytes.size), 0, &face) != 0)
                return false;
            (void)m_faces.append(face);  // room was reserved above
            if (!apply_variation(face, variations[k]) || !set_up_face(face, settings[k], false))
                return false;
        }
        return true;
    }
    face_list_t faces() const { return m_faces; }

private:
    FT_LibraryRec_* m_library = nullptr;
    array_dyn_t<FT_FaceRec_*> m_faces;
};

face_set_t::face_set_t() = default;

face_set_t::~face_set_t()
{
    // The helpers' faces read the bytes the set's own faces hold: they close first.
    m_helpers.release_storage();
    for (FT_Face face : m_faces)
        close_font_face(face);
    if (m_library != nullptr)
        shut_down_freetype(m_library);
}

bool face_set_t::open(const array_t<font_face_settings_t>& fonts,
                      const variation_request_t& variation)
{
    if (m_library == nullptr && !start_freetype(&m_library))
        return false;
    if (!m_settings.copy(fonts) || !m_faces.reserve(fonts.size()) ||
        !m_variations.resize(fonts.size()))
    {
        msg_error("Not enough memory to open the font file '%s'.",
                  fonts.empty() ? "" : fonts[0].font_file);
        return false;
    }
    const bool varied = !variation.is_empty();
    for (uint32_t k = 0; k < fonts.size(); ++k)
    {
        const font_face_settings_t& settings = fonts[k];
        FT_Face face = nullptr;
        const bool opened = open_unsized_face(m_library, settings, &face);
        if (face != nullptr)
            (void)m_faces.append(face);  // room was reserved above; the set closes it
        if (!opened)
            return false;
        // Coordinates go on before the size, so that the face is sized at its variation.
        if (varied)
        {
            face_variation_t* own = &m_variations[k];
            if (k == 0 ? !resolve_main_variation(face, settings.font_file, variation, own)
                       : !carry_variation(m_variations[0], face, settings.font_file,
                                          variation.label, own))
                return false;
            if (!apply_variation(face, *own))
            {
                msg_error("FreeType refused the design coordinates of the font file '%s'.",
                          settings.font_file);
                return false;
            }
        }
        if (!set_up_face(face, settings, true))
            return false;
    }
    return true;
}

bool face_set_t::prepare_helpers(uint32_t helpers)
{
    return m_helpers.size() >= helpers || m_helpers.resize(helpers);
}

bool face_set_t::helper_faces(uint32_t helper, face_list_t* faces)
{
    auto_ptr_t<helper_faces_t>& own = m_helpers[helper - 1];
    if (!own)
    {
        auto_ptr_t<helper_faces_t> opened(new (std::nothrow) helper_faces_t);
        if (!opened || !opened->open(m_faces, m_settings, m_variations))
            return false;
        own = std::move(opened);
    }
    *faces = own->faces();
    return true;
}
