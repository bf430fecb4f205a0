// Mistakes a new user makes, each once, as whole runs: the exit status, the lines printed before
// unchanged, and the added line that says what is wrong, where, and how to fix it.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace
{

// One set '.chars.ui' of two characters the test font has, written to out/font*.
const char* const configuration_text =
    "QsdNunit\n"
    "{\n"
    "configuration : .config {\n"
    "    base: \"out/\"\n"
    "    output: \"font\"\n"
    "{configuration}"
    "    char_config: 1\n"
    "    char_config[0]: .chars.ui\n"
    "}\n"
    "char_set_config : .chars.ui {\n"
    "    font_file: \"{font}\"\n"
    "    character_set_file: \"set.chars\"\n"
    "    width: 14\n"
    "    height: 14\n"
    "{set}"
    "}\n"
    "}\n";

struct mistake_t
{
    const char* what;
    std::vector<std::pair<std::string, std::string>> edits;  // text replaced in the file, in order
    std::vector<std::pair<std::string, std::string>> files;  // written beside it; "/": a folder
    int status;
    // Standard error, "{folder}" for the folder the tool runs in. The line the mistake needs is
    // marked by the comment "added" beside it.
    std::string err;
    bool needs_permissions = false;  // a file mode that a privileged user passes
};

// The text with the first `from` replaced; a placeholder an edit has taken already may be gone.
std::string replaced(std::string text, const std::string& from, const std::string& to,
                     bool placeholder = false)
{
    const size_t at = text.find(from);
    EXPECT_TRUE(placeholder || at != std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

const std::string error = "*** ERROR *** : ";
const std::string warning = "*** WARNING *** : ";

std::vector<mistake_t> mistakes()
{
    const std::string read_failed = error + "Failed to read the configuration file 'font.qsd'.\r\n";
    return {
        { "misspelt font_file", { { "font_file", "font_fle" } }, {}, 1,
          warning + "[unit] Ignored unknown attribute font_fle = \"{font}\"\r\n" +
              warning +  // added
              "[unit] File 'font.qsd', line 10: the unit '.chars.ui' (of type 'char_set_config') "
              "has no attribute 'font_fle'; did you mean 'font_file'?\r\n" +
              error + "Failed to open the font file ''.\r\n" +
              error + "Reason: the path is empty.\r\n" },  // added
        { "misspelt output", { { "output:", "ouput:" } }, {}, 0,
          warning + "[unit] Ignored unknown attribute ouput = \"font\"\r\n" +
              warning +  // added
              "[unit] File 'font.qsd', line 5: the unit '.config' (of type 'configuration') has "
              "no attribute 'ouput'; did you mean 'output'?\r\n" +
              warning +  // added: the trap
              "The output of the configuration file 'font.qsd' is empty: every output name "
              "starts with '.' ('out/.font'); give the names a stem, as in output: \"font\".\r\n" },
        { "misspelt character_ranges",
          { { "    character_set_file: \"set.chars\"\n", "" },
            { "{set}", "    charcter_ranges[0]: \"U+004D\"\n" } },
          {}, 1,
          warning + "[unit] Ignored unknown attribute charcter_ranges[0] = \"U+004D\"\r\n" +
              warning +  // added
              "[unit] File 'font.qsd', line 13: the unit '.chars.ui' (of type "
              "'char_set_config') has no attribute 'charcter_ranges'; did you mean "
              "'character_ranges'?\r\n" +
              error + "[fs] Failed to open file '' in the read_only mode.\r\n" +
              error + "[fs] Reason: the path is empty.\r\n" +  // added
              error + "Unable to open the character set file ''.\r\n" +
              error +  // added
              "The set '.chars.ui' (the element 0 of char_config) names no character source: "
              "give it a character_set_file, character_ranges or text_files.\r\n" },
        { "a quoted number", { { "width: 14", "width: \"14\"" } }, {}, 1,
          error + "[unit] File 'font.qsd', line 12:\r\n" +
              error + "Expecting unsigned value, found '\"'\r\n" +
              error +  // added
              "[unit] File 'font.qsd', line 12: the attribute 'width' of the unit '.chars.ui' (of "
              "type 'char_set_config') takes a whole number from 0 up, without quotes or a sign, "
              "as in width: 16.\r\n" +
              read_failed },
        { "a negative width", { { "width: 14", "width: -14" } }, {}, 1,
          error + "[unit] File 'font.qsd', line 12:\r\n" +
              error + "Expecting unsigned value, found '-'\r\n" +
              error +  // added
              "[unit] File 'font.qsd', line 12: the attribute 'width' of the unit '.chars.ui' (of "
              "type 'char_set_config') takes a whole number from 0 up, without quotes or a sign, "
              "as in width: 16.\r\n" +
              read_failed },
        { "antialias: yes", { { "{set}", "    antialias: yes\n" } }, {}, 1,
          error + "[unit] File 'font.qsd', line 14:\r\n" +
              error + "Expecting Boolean value, found 'y'\r\n" +
              error +  // added
              "[unit] File 'font.qsd', line 14: the attribute 'antialias' of the unit '.chars.ui' "
              "(of type 'char_set_config') takes true or false, without quotes, as in antialias: "
              "true.\r\n" +
              read_failed },
        { "an unquoted path", { { "\"set.chars\"", "sets/set.chars" } }, {}, 1,
          error + "[unit] File 'font.qsd', line 11:\r\n" +
              error + "Expecting attribute name or closing bracket, found '/'\r\n" +
              error +  // added
              "[unit] File 'font.qsd', line 11: a text value with characters other than letters, "
              "digits, '_' and '.' must be in double quotes.\r\n" +
              read_failed },
        { "an undefined char_config target", { { "[0]: .chars.ui", "[0]: .chars.latin" } }, {}, 1,
          warning + "[unit] The pointer to '_nameless.chars.latin' looks like dangling "
                    "pointer.\r\n" +
              error +
              "[unit] The unit '_nameless.config' of type 'configuration' has dangling pointer "
              "(to '_nameless.chars.latin') in the attribute named 'char_config'.\r\n" +
              error +  // added
              "[unit] The file 'font.qsd' defines no unit '.chars.latin'; the units it names are "
              "'.config', '.chars.ui'.\r\n" +
              read_failed },
        { "an unlisted set", { { "{set}}\n", "{set}}\nchar_set_config : .chars.cyr {\n}\n" } }, {},
          1,
          error + "[unit] There are multiple unit trees in the file 'font.qsd'.\r\n" +
              error +  // added
              "[unit] The unit '.chars.cyr' (of type 'char_set_config') at line 15 is owned by no "
              "unit of the tree of '.config': list it in 'char_config' of '.config', or remove "
              "it.\r\n" +
              read_failed },
        { "no QsdNunit", { { "QsdNunit\n", "" } }, {}, 1,
          error + "[unit] The file 'font.qsd' does not contain serialised units - missing magic "
                  "mark.\r\n" +
              error +  // added
              "[unit] A unit file in text form must start with the word QsdNunit, then one { ... "
              "} body holding its unit blocks.\r\n" +
              read_failed },
        { "a set with no character source", { { "    character_set_file: \"set.chars\"\n", "" } },
          {}, 1,
          error + "[fs] Failed to open file '' in the read_only mode.\r\n" +
              error + "[fs] Reason: the path is empty.\r\n" +  // added
              error + "Unable to open the character set file ''.\r\n" +
              error +  // added
              "The set '.chars.ui' (the element 0 of char_config) names no character source: "
              "give it a character_set_file, character_ranges or text_files.\r\n" },
        { "an empty text file",
          { { "    character_set_file: \"set.chars\"\n", "" },
            { "{set}", "    text_files[0]: \"strings.txt\"\n" } },
          { { "strings.txt", "" } }, 0,
          warning +  // added: the trap
          "The set '.chars.ui' (the element 0 of char_config) ends with no characters: its "
          "character_set_file, character_ranges and text_files give it none (codes of ranges that "
          "no font of the set has are left out), and its picture is empty.\r\n" },
        { "a missing text file", { { "{set}", "    text_files[0]: \"strings.txt\"\n" } }, {}, 1,
          error + "[fs] Failed to open file 'strings.txt' in the read_only mode.\r\n" +
              error +  // added
              "[fs] Reason: no such file or folder; the relative path 'strings.txt' is taken from "
              "the current folder '{folder}'.\r\n" +
              error + "Unable to open the text file 'strings.txt'.\r\n" },
        { "a folder as text file", { { "{set}", "    text_files[0]: \"strings\"\n" } },
          { { "strings", "/" } }, 1,
          error + "[fs] Failed to open file 'strings' in the read_only mode.\r\n" +
              error +  // added
              "[fs] Reason: it is a folder, not a file; the relative path 'strings' is taken from "
              "the current folder '{folder}'.\r\n" +
              error + "Unable to open the text file 'strings'.\r\n" },
        { "an unreadable text file", { { "{set}", "    text_files[0]: \"strings.txt\"\n" } },
          { { "strings.txt", "unreadable" } }, 1,
          error + "[fs] Failed to open file 'strings.txt' in the read_only mode.\r\n" +
              error +  // added
              "[fs] Reason: permission denied; the relative path 'strings.txt' is taken from the "
              "current folder '{folder}'.\r\n" +
              error + "Unable to open the text file 'strings.txt'.\r\n",
          true },
        { "a Latin-1 text file", { { "{set}", "    text_files[0]: \"strings.txt\"\n" } },
          { { "strings.txt", "M!\nna\xEFve caf\xE9\n" } }, 1,
          error + "The text file 'strings.txt' is not UTF-8: byte 5 starts no character.\r\n" +
              error +  // added
              "The first byte that starts no character is at line 2, column 3; it looks like "
              "Latin-1 or Windows-1252: save the file as UTF-8.\r\n" },
        { "a UTF-16 text file", { { "{set}", "    text_files[0]: \"strings.txt\"\n" } },
          { { "strings.txt", std::string("\xFF\xFEM\0!\0", 6) } }, 1,
          error + "The text file 'strings.txt' is not UTF-8: byte 0 starts no character.\r\n" +
              error +  // added
              "The first byte that starts no character is at line 1, column 1; it looks like "
              "UTF-16 (it starts with a UTF-16 byte order mark): save the file as UTF-8.\r\n" },
        { "an output folder that is a file", { { "base: \"out/\"", "base: \"blocked/\"" } },
          { { "blocked", "x" } }, 1,
          error + "[fs] Failed to open file 'blocked/font.font' in the create_truncate "
                  "mode.\r\n" +
              error +  // added
              "[fs] Reason: a part of the path is not a folder; the relative path "
              "'blocked/font.font' is taken from the current folder '{folder}'.\r\n" +
              error + "Failed to create the font file 'blocked/font.font'.\r\n" },
        { "an output folder that cannot be written", { { "base: \"out/\"", "base: \"locked/\"" } },
          { { "locked", "/locked" } }, 1,
          error + "[fs] Failed to open file 'locked/font.font' in the create_truncate "
                  "mode.\r\n" +
              error +  // added
              "[fs] Reason: permission denied; the relative path 'locked/font.font' is taken from "
              "the current folder '{folder}'.\r\n" +
              error + "Failed to create the font file 'locked/font.font'.\r\n",
          true },
        { "a base without '/'", { { "base: \"out/\"", "base: \"out\"" } }, { { "out", "/" } }, 0,
          warning +  // added: the trap
          "The base 'out' of the configuration file 'font.qsd' names a folder but does not end in "
          "'/': the outputs go beside it ('outfont.font'); write base: \"out/\" to put them in "
          "it.\r\n" },
        { "a fallback font path typo",
          { { "{set}", "    fallback_font_files[0]: \"/usr/share/fonts/no_such_folder/x.ttf\"\n" } },
          {}, 1,
          error + "Failed to open the font file '/usr/share/fonts/no_such_folder/x.ttf'.\r\n" +
              error + "Reason: no such file or folder.\r\n" },  // added
        { "glyphs that do not fit", { { "{set}", "    max_picture_size: 32\n    glyph_padding: 6\n" } },
          {}, 1,
          error + "The requested glyphs could not be rasterized onto canvas up to size 32 x 32 "
                  "pixels.\r\n" +
              error +  // added
              "The glyphs of the set '.chars.ui' (the element 0 of char_config) do not fit one "
              "picture of max_picture_size 32; the largest is U+004D 'M' of 19 x 22 pixels: set "
              "several_pictures: true, or a larger max_picture_size (at most 8192).\r\n" },
        { "one glyph larger than the limit",
          { { "{set}", "    max_picture_size: 32\n    glyph_padding: 12\n" } }, {}, 1,
          error + "The requested glyphs could not be rasterized onto canvas up to size 32 x 32 "
                  "pixels.\r\n" +
              error +  // added
              "The glyph U+004D 'M' of the set '.chars.ui' (the element 0 of char_config) is 31 x "
              "34 pixels, more than a picture of max_picture_size 32 holds by itself with "
              "glyph_spacing 1 at its borders: make max_picture_size larger, or the glyphs, "
              "glyph_padding or outline_width smaller.\r\n" },
        { "preview_text with characters in no set",
          { { "{configuration}", "    preview_text: \"M!Z\xC3\xA9M\"\n" } }, {}, 0,
          warning +  // added: the trap
          "The preview_text has characters that no character set has, and the preview leaves "
          "them out: U+005A 'Z', U+00E9 '\xC3\xA9'; add them to a set to see them.\r\n" },
        { "scale_height: -1", { { "{set}", "    scale_height: -1\n" } }, {}, 0,
          warning +  // added: the trap
          "The scale_height -1 of the set '.chars.ui' (the element 0 of char_config) in the "
          "configuration file 'font.qsd' is not a finite number above 0: its glyphs are drawn "
          "flipped or vanish; 1.0 keeps their size.\r\n" },
    };
}

}  // namespace

TEST(font_generator_mistakes, say_what_is_wrong_where_and_how_to_fix_it)
{
    const bool privileged = geteuid() == 0;
    for (const mistake_t& c : mistakes())
    {
        SCOPED_TRACE(c.what);
        if (c.needs_permissions && privileged)
            continue;  // file modes do not stop a privileged user
        scratch_directory_t scratch;
        std::string text = configuration_text;
        for (const auto& [from, to] : c.edits)
            text = replaced(text, from, to);
        const std::string font = OV_TEST_DATA_DIR "/fonts/shapes.bdf";
        text = replaced(replaced(replaced(text, "{font}", font), "{configuration}", "", true),
                        "{set}", "", true);
        write_file_bytes(scratch.path("font.qsd"), text);
        write_file_bytes(scratch.path("set.chars"), "U+004D M\nU+0021 !\n");
        for (const auto& [name, contents] : c.files)
        {
            if (contents == "/" || contents == "/locked")
                std::filesystem::create_directory(scratch.path(name));
            else
                write_file_bytes(scratch.path(name), contents);
            if (contents == "unreadable")
                chmod(scratch.path(name).c_str(), 0);
            if (contents == "/locked")
                chmod(scratch.path(name).c_str(), 0555);
        }
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        std::string err = c.err;
        for (size_t at = err.find("{font}"); at != std::string::npos; at = err.find("{font}"))
            err.replace(at, 6, font);
        for (size_t at = err.find("{folder}"); at != std::string::npos; at = err.find("{folder}"))
            err.replace(at, 8, scratch.root());
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, err);
        for (const auto& [name, contents] : c.files)
            chmod(scratch.path(name).c_str(), 0700);  // so that the scratch folder goes
    }
}

TEST(font_generator_mistakes, a_run_without_them_says_nothing)
{
    scratch_directory_t scratch;
    const std::string font = OV_TEST_DATA_DIR "/fonts/shapes.bdf";
    write_file_bytes(scratch.path("font.qsd"),
                     replaced(replaced(replaced(configuration_text, "{font}", font),
                                       "{configuration}", "    preview_text: \"M!\"\n"),
                              "{set}", ""));
    write_file_bytes(scratch.path("set.chars"), "U+004D M\nU+0021 !\n");
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(std::filesystem::exists(scratch.path("out/font_preview.png")));
}
