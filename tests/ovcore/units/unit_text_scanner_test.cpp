// The unit text scanner: every value lexeme, comments and line counting, @include lines and the
// location header of errors.
#include "ovcore/units/unit_text_scanner.h"

#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace
{

// A scanner over in-memory text; @include names resolve against `files`.
class scanner_fixture_t : public unit_include_handler_t
{
public:
    explicit scanner_fixture_t(const unit_scan_limits_t& limits = {}) : scanner(this, limits) {}

    std::map<std::string, std::string> files;
    unit_text_scanner_t scanner;

    void start(const std::string& text)
    {
        m_top = text;
        m_top.append(2, '\0');
        ASSERT_TRUE(scanner.begin(m_top.data(), uint32_t(text.size()), "dir/top.qsd", "top.qsd"));
    }

    bool read_include(const unit_text_scanner_t& including, const char* path,
                      unit_include_text_t* file) override
    {
        std::string resolved = including.current_path();
        resolved = resolved.substr(0, resolved.rfind('/') + 1) + path;
        auto found = files.find(resolved);
        if (found == files.end())
        {
            including.report_location();
            msg_error("Failed to open the file '%s'.", resolved.c_str());
            return false;
        }
        for (char c : found->second)
            EXPECT_TRUE(file->text.append(c));
        EXPECT_TRUE(file->text.append('\0') && file->text.append('\0'));
        EXPECT_TRUE(file->path.assign(resolved.c_str()));
        EXPECT_TRUE(file->display_name.assign(resolved.c_str()));
        return true;
    }

    // Attribute names until the first failure or closing bracket, joined by spaces.
    std::string names()
    {
        std::string result;
        string_dyn_t name;
        for (;;)
        {
            const unit_scan_result_t r = scanner.scan_attribute_name(&name);
            if (r == unit_scan_result_t::error)
                return result + "!";
            if (r == unit_scan_result_t::closing_bracket)
                return result + "}";
            result += name.c_str();
            result += " ";
        }
    }

private:
    std::string m_top;
};

enum class kind_t
{
    string,
    signed_integer,
    unsigned_integer,
    boolean,
    real,
    vector2,
    vector3,
    vector4,
    quaternion,
    fixed,
    fixed_vector2,
    int_vector2,
    enum_value,
    unit_name,
    unknown,
};

std::string print_reals(const float* values, int count)
{
    std::string text;
    char buffer[32];
    for (int i = 0; i < count; ++i)
    {
        std::snprintf(buffer, sizeof(buffer), i == 0 ? "%g" : " %g", double(values[i]));
        text += buffer;
    }
    return text;
}

std::string print_ints(const int32_t* values, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
    {
        if (i > 0)
            text += ' ';
        text += std::to_string(values[i]);
    }
    return text;
}

// Scans one value of the kind; its printed form, or "!" when it was rejected.
std::string scan_value(scanner_fixture_t* f, kind_t kind)
{
    unit_text_scanner_t& s = f->scanner;
    string_dyn_t text;
    float reals[4] = {};
    int32_t ints[4] = {};
    switch (kind)
    {
    case kind_t::string:
        return s.scan_string(&text) ? std::string(text.c_str()) : "!";
    case kind_t::unit_name:
        return s.scan_unit_name(&text) ? std::string(text.c_str()) : "!";
    case kind_t::unknown:
        return s.scan_unknown_value(&text) ? std::string(text.c_str()) : "!";
    case kind_t::signed_integer:
    {
        int64_t value = 0;
        return s.scan_signed(&value) ? std::to_string(value) : "!";
    }
    case kind_t::unsigned_integer:
    {
        uint64_t value = 0;
        return s.scan_unsigned(&value) ? std::to_string(value) : "!";
    }
    case kind_t::boolean:
    {
        bool value = false;
        return s.scan_boolean(&value) ? (value ? "true" : "false") : "!";
    }
    case kind_t::real:
        return s.scan_real(reals) ? print_reals(reals, 1) : "!";
    case kind_t::vector2:
        return s.scan_vector(2, reals) ? print_reals(reals, 2) : "!";
    case kind_t::vector3:
        return s.scan_vector(3, reals) ? print_reals(reals, 3) : "!";
    case kind_t::vector4:
        return s.scan_vector(4, reals) ? print_reals(reals, 4) : "!";
    case kind_t::quaternion:
        return s.scan_quaternion(reals) ? print_reals(reals, 4) : "!";
    case kind_t::fixed:
        return s.scan_fixed(ints) ? print_ints(ints, 1) : "!";
    case kind_t::fixed_vector2:
        return s.scan_fixed_vector(2, ints) ? print_ints(ints, 2) : "!";
    case kind_t::int_vector2:
        return s.scan_int_vector2(ints) ? print_ints(ints, 2) : "!";
    case kind_t::enum_value:
    {
        unit_enum_lexeme_t value;
        if (!s.scan_enum(&value))
            return "!";
        return value.is_name ? "name " + std::string(value.name.c_str())
                             : "number " + std::to_string(value.number);
    }
    }
    return "?";
}

struct value_case_t
{
    kind_t kind;
    const char* text;
    const char* value;    // printed value, or "!" for a rejection
    const char* message;  // the error line after the header, for rejections
};

const value_case_t value_cases[] = {
    // Reals: fraction forms, exponents, the `f` rule and bit patterns.
    { kind_t::real, "1.5", "1.5", nullptr },
    { kind_t::real, ".5", "0.5", nullptr },
    { kind_t::real, "1.", "1", nullptr },
    { kind_t::real, "+.25e1", "2.5", nullptr },
    { kind_t::real, "-2.5e-1", "-0.25", nullptr },
    { kind_t::real, "1.5f", "1.5", nullptr },
    { kind_t::real, "1e5f", "100000", nullptr },
    { kind_t::real, "7", "7", nullptr },
    { kind_t::real, "&3F800000", "1", nullptr },
    { kind_t::real, "&3f800000", "1", nullptr },
    { kind_t::real, "1e-60", "0", nullptr },
    { kind_t::real, "&3f8", "!", "Expecting real number, found '&3f8'" },
    { kind_t::real, "-&3f800000", "!", "Expecting real number, found '-&3f800000'" },
    { kind_t::real, "1.5x", "!", "Expecting real number, found '1.5x'" },
    { kind_t::real, "1f", "!", "Expecting real number, found '1f'" },
    { kind_t::real, "1.5F", "!", "Expecting real number, found '1.5F'" },
    { kind_t::real, "1e", "!", "Expecting real number, found '1e'" },
    { kind_t::real, ".", "!", "Expecting real number, found '.'" },
    { kind_t::real, "1e50", "!", "Expecting real number, found '1e50'" },
    { kind_t::real, "(1)", "!", "Expecting real number, found '('" },
    // Booleans.
    { kind_t::boolean, "TRUE", "true", nullptr },
    { kind_t::boolean, "False", "false", nullptr },
    { kind_t::boolean, "0", "false", nullptr },
    { kind_t::boolean, "1", "true", nullptr },
    { kind_t::boolean, "yes", "!", "Expecting Boolean value, found 'y'" },
    { kind_t::boolean, "01", "!", "Expecting Boolean value, found '01'" },
    // Signed and unsigned integers.
    { kind_t::signed_integer, "-42", "-42", nullptr },
    { kind_t::signed_integer, "+7", "7", nullptr },
    { kind_t::signed_integer, "0x1F", "31", nullptr },
    { kind_t::signed_integer, "-0X10", "-16", nullptr },
    { kind_t::signed_integer, "010", "10", nullptr },
    { kind_t::signed_integer, "-9223372036854775808", "-9223372036854775808", nullptr },
    { kind_t::signed_integer, "9223372036854775808", "!",
      "Expecting integer number, found '9223372036854775808'" },
    { kind_t::signed_integer, "1.5", "!", "Expecting integral value, found '1.5'" },
    { kind_t::signed_integer, "0x", "!", "Expecting integral value, found '0x'" },
    { kind_t::unsigned_integer, "+42", "42", nullptr },
    { kind_t::unsigned_integer, "4294967296", "4294967296", nullptr },
    { kind_t::unsigned_integer, "0xFFFFFFFFFFFFFFFF", "18446744073709551615", nullptr },
    { kind_t::unsigned_integer, "-1", "!", "Expecting unsigned value, found '-'" },
    { kind_t::unsigned_integer, "+0x1", "!", "Expecting unsigned value, found '+0x1'" },
    { kind_t::unsigned_integer, "18446744073709551616", "!",
      "Expecting positive integer number, found '18446744073709551616'" },
    // Vectors: a separator between components, blanks and line feeds anywhere.
    { kind_t::vector2, "( 1 , 2 )", "1 2", nullptr },
    { kind_t::vector2, "(1,\n-2.5f)", "1 -2.5", nullptr },
    { kind_t::vector2, "(1 2)", "!", "Expecting 2D vector, found '2'" },
    { kind_t::vector2, "1", "!", "Expecting 2D vector, found '1'" },
    { kind_t::vector2, "((1, 2)", "!", "Expecting 2D vector, found '('" },
    { kind_t::vector2, "(1, 2, 3)", "!", "Expecting 2D vector, found ','" },
    { kind_t::vector2, "(1, 2x)", "!", "Expecting 2D vector, found '2x'" },
    { kind_t::vector2, "(1,)", "!", "Expecting 2D vector, found ')'" },
    { kind_t::vector3, "(1, 2, 3)", "1 2 3", nullptr },
    { kind_t::vector4, "(1, 2, 3, &40800000)", "1 2 3 4", nullptr },
    { kind_t::quaternion, "(1; 0, 0.5, 0)", "1 0 0.5 0", nullptr },
    { kind_t::quaternion, "(1, 0, 0, 0)", "!", "Expecting quaternion, found ','" },
    // Fixed numbers: decimal text with automatic base, raw 8.8 values.
    { kind_t::fixed, "256", "256", nullptr },
    { kind_t::fixed, "-010", "-8", nullptr },
    { kind_t::fixed, "-2147483648", "-2147483648", nullptr },
    { kind_t::fixed, "09", "!", "Expecting fixed number, found '09'" },
    { kind_t::fixed, "1.5", "!", "Expecting fixed number, found '1.5'" },
    { kind_t::fixed, "0x10", "!", "Expecting fixed number, found '0x10'" },
    { kind_t::fixed, "&3f800000", "!", "Expecting fixed number, found '&'" },
    { kind_t::fixed, "2147483648", "!", "Expecting fixed number, found '2147483648'" },
    { kind_t::fixed_vector2, "(256, -0400)", "256 -256", nullptr },
    { kind_t::fixed_vector2, "(1.5, 2)", "!", "Expecting 2D vector, found '1.5'" },
    // 2D integer vectors.
    { kind_t::int_vector2, "(1, -2)", "1 -2", nullptr },
    { kind_t::int_vector2, "(2147483648, 0)", "!",
      "Expecting 2D integer vector value out of range, found '2147483648'" },
    { kind_t::int_vector2, "(0x1, 0)", "!", "Expecting 2D integer vector, found '0x1'" },
    // Strings: exactly the listed escapes; bare words taken literally.
    { kind_t::string, "\"a\\\"b\\\\c\\x41\\x4a\"", "a\"b\\cAJ", nullptr },
    { kind_t::string, "\"line\\r\\nnext\"", "line\r\nnext", nullptr },
    { kind_t::string, "\"two\nlines\"", "two\nlines", nullptr },
    { kind_t::string, "base_name.v2", "base_name.v2", nullptr },
    { kind_t::string, "\"a\\tb\"", "!", "Expecting string literal, found '\"a\\tb\"'" },
    { kind_t::string, "\"\\x4\"", "!", "Expecting string literal, found '\"\\x4\"'" },
    { kind_t::string, "\"\\x00\"", "!", "Expecting string literal, found '\"\\x00\"'" },
    { kind_t::string, "\"open", "!", "Expecting string value, found '\"'" },
    { kind_t::string, "-1", "!", "Expecting string value, found '-1'" },
    { kind_t::string, "\xC3\xA9t\xC3\xA9", "!", "Expecting string value, found '\xC3\xA9'" },
    // Enum values: names, quoted names, signed decimal and hexadecimal numbers.
    { kind_t::enum_value, "dark_red", "name dark_red", nullptr },
    { kind_t::enum_value, "\"dark red\"", "name dark red", nullptr },
    { kind_t::enum_value, "-5", "number -5", nullptr },
    { kind_t::enum_value, "0x10", "number 16", nullptr },
    { kind_t::enum_value, "-0x10", "!", "Expecting enum value, found '-0x10'" },
    { kind_t::enum_value, "a.b", "!", "Expecting enum value, found 'a.b'" },
    { kind_t::enum_value, "99999999999999999999", "!",
      "Expecting enum value, found '99999999999999999999'" },
    // Unit names and references.
    { kind_t::unit_name, ".chars.latin", ".chars.latin", nullptr },
    { kind_t::unit_name, "\"font.Latin\"", "font.Latin", nullptr },
    { kind_t::unit_name, "null", "null", nullptr },
    { kind_t::unit_name, "a-b", "!", "Expecting unit name, found 'a-b'" },
    // Unknown values, taken as written.
    { kind_t::unknown, "(1; 2, 3, 4) (5, 6, 7)", "(1; 2, 3, 4) (5, 6, 7)", nullptr },
    { kind_t::unknown, "-1.5e3", "-1.5e3", nullptr },
    { kind_t::unknown, "\"q\\\"x\"", "\"q\\\"x\"", nullptr },
    { kind_t::unknown, "(1, 2", "!", "Expecting unknown type value, found '('" },
    { kind_t::unknown, "{", "!", "Expecting unknown type value, found '{'" },
};

}  // namespace

TEST(unit_text_scanner, reads_or_rejects_every_value_lexeme)
{
    for (const value_case_t& c : value_cases)
    {
        SCOPED_TRACE(c.text);
        scanner_fixture_t f;
        message_capture_t capture;
        // The value stands on line 2, followed by a `}` that must still be there afterwards.
        f.start(std::string("\n") + c.text + " }");
        EXPECT_EQ(scan_value(&f, c.kind), c.value);
        if (c.message == nullptr)
        {
            EXPECT_TRUE(capture.lines.empty());
            EXPECT_TRUE(f.scanner.scan_close_bracket());
        }
        else
        {
            EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                         "[unit] File 'top.qsd', line 2:", c.message }));
        }
    }
}

namespace
{

// Under an address-space limit that no copy of a 32 MiB lexeme fits: the lexeme kinds whose
// scan does not fail with the report.
int count_lexemes_scanned_without_memory()
{
    const std::string word(32u << 20, 'a');
    const kind_t kinds[] = { kind_t::string, kind_t::unit_name, kind_t::enum_value,
                             kind_t::unknown };
    scanner_fixture_t values[4];
    scanner_fixture_t names;
    for (scanner_fixture_t& f : values)
        f.start(word + " }");
    names.start(word + " }");
    if (!limit_address_space(8u << 20))
        return 100;
    message_capture_t capture;
    const std::vector<std::string> report = {
        "[unit] File 'top.qsd', line 1:",
        "[unit] Not enough memory for a lexeme of 33554432 bytes." };
    int failed = 0;
    for (int i = 0; i < 4; ++i)
    {
        capture.clear();
        failed += scan_value(&values[i], kinds[i]) != "!" || capture.lines != report;
    }
    capture.clear();
    failed += names.names() != "!" || capture.lines != report;
    return failed;
}

}  // namespace

TEST(unit_text_scanner, reports_a_lexeme_that_finds_no_memory_and_fails_the_scan)
{
    if (built_with_sanitizer)
        GTEST_SKIP() << "a sanitizer reserves more address space than the limit";
    EXPECT_EXIT(std::_Exit(count_lexemes_scanned_without_memory()), testing::ExitedWithCode(0),
                "");
}

TEST(unit_text_scanner, reads_the_structure_lexemes)
{
    scanner_fixture_t f;
    message_capture_t capture;
    f.start("QsdNunit{ char_set_config : .chars.latin { base: ui::font:x\n"
            "list[]: list[ 3 ]: list : }} // done");
    string_dyn_t text;
    unit_attribute_suffix_t suffix;
    ASSERT_TRUE(f.scanner.scan_file_magic());
    ASSERT_TRUE(f.scanner.scan_open_bracket());
    ASSERT_EQ(f.scanner.scan_unit_type(&text), unit_scan_result_t::token);
    EXPECT_STREQ(text.c_str(), "char_set_config");
    ASSERT_TRUE(f.scanner.scan_colon());
    ASSERT_TRUE(f.scanner.scan_unit_name(&text));
    EXPECT_STREQ(text.c_str(), ".chars.latin");
    ASSERT_TRUE(f.scanner.scan_open_bracket());
    ASSERT_EQ(f.scanner.scan_attribute_name(&text), unit_scan_result_t::token);
    ASSERT_TRUE(f.scanner.scan_colon());
    ASSERT_EQ(f.scanner.scan_unit_type(&text), unit_scan_result_t::token);
    EXPECT_STREQ(text.c_str(), "ui::font");
    ASSERT_TRUE(f.scanner.scan_colon());
    ASSERT_TRUE(f.scanner.scan_string(&text));
    ASSERT_EQ(f.scanner.scan_attribute_name(&text), unit_scan_result_t::token);
    ASSERT_TRUE(f.scanner.scan_attribute_suffix(&suffix));
    EXPECT_EQ(suffix.kind, unit_attribute_suffix_t::kind_t::append);
    ASSERT_TRUE(f.scanner.scan_colon());
    ASSERT_EQ(f.scanner.scan_attribute_name(&text), unit_scan_result_t::token);
    ASSERT_TRUE(f.scanner.scan_attribute_suffix(&suffix));
    EXPECT_EQ(suffix.kind, unit_attribute_suffix_t::kind_t::element);
    EXPECT_EQ(suffix.index, 3u);
    ASSERT_TRUE(f.scanner.scan_colon());
    ASSERT_EQ(f.scanner.scan_attribute_name(&text), unit_scan_result_t::token);
    ASSERT_TRUE(f.scanner.scan_attribute_suffix(&suffix));
    EXPECT_EQ(suffix.kind, unit_attribute_suffix_t::kind_t::length);
    EXPECT_EQ(f.scanner.scan_attribute_name(&text), unit_scan_result_t::closing_bracket);
    EXPECT_EQ(f.scanner.scan_unit_type(&text), unit_scan_result_t::closing_bracket);
    EXPECT_TRUE(f.scanner.scan_end_of_file());
    EXPECT_TRUE(capture.lines.empty());
}

struct structure_error_case_t
{
    const char* text;
    const char* message;
};

TEST(unit_text_scanner, reports_bad_structure_lexemes)
{
    const structure_error_case_t cases[] = {
        { "[4294967296]", "Expecting index, found '[4294967296]'" },
        { "[x]", "Expecting index, found '['" },
        { "[ ]", "Expecting index, found '['" },
        { "=", "Expecting index, found '='" },
    };
    for (const structure_error_case_t& c : cases)
    {
        SCOPED_TRACE(c.text);
        scanner_fixture_t f;
        message_capture_t capture;
        f.start(c.text);
        unit_attribute_suffix_t suffix;
        EXPECT_FALSE(f.scanner.scan_attribute_suffix(&suffix));
        EXPECT_EQ(capture.lines, (std::vector<std::string>{ "[unit] File 'top.qsd', line 1:",
                                                            c.message }));
    }
    scanner_fixture_t f;
    message_capture_t capture;
    f.start("1abc");
    string_dyn_t text;
    EXPECT_EQ(f.scanner.scan_unit_type(&text), unit_scan_result_t::error);
    EXPECT_EQ(capture.lines.back(), "Expecting unit type name or closing bracket, found '1abc'");
}

TEST(unit_text_scanner, matches_the_magic_word_in_any_case_after_a_byte_order_mark)
{
    const struct
    {
        const char* text;
        bool accepted;
    } cases[] = {
        { "QsdNunit", true },   { "qsdnunit", true },  { "QSDNUNIT", true },
        { "\xEF\xBB\xBFQsdNunit", true }, { " QsdNunit", false }, { "\nQsdNunit", false },
        { "QsdNunix", false },  { "Qsd", false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        scanner_fixture_t f;
        message_capture_t capture;
        f.start(c.text);
        EXPECT_EQ(f.scanner.scan_file_magic(), c.accepted);
        EXPECT_EQ(capture.lines.empty(), c.accepted);
    }
}

TEST(unit_text_scanner, counts_lines_through_every_comment_kind)
{
    scanner_fixture_t f;
    message_capture_t capture;
    f.start("a // one\n"
            "b # two\n"
            "/* three\n"
            "four **/ c\xEF\xBB\xBF d\n"
            "\r\n"
            "  ?");
    EXPECT_EQ(f.names(), "a b c d !");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "[unit] File 'top.qsd', line 6:",
                                 "Expecting attribute name or closing bracket, found '?'" }));
}

TEST(unit_text_scanner, reports_the_end_of_input_outside_the_end_of_file_context)
{
    const struct
    {
        const char* text;
        const char* header;
    } cases[] = {
        { "a\n", "[unit] File 'top.qsd', line 2:" },
        { "a /* open\n", "[unit] File 'top.qsd', line 2:" },
        { "a // no line feed", "[unit] File 'top.qsd', line 1:" },
        { "@include \"x.qsd\"", "[unit] File 'top.qsd', line 1:" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        scanner_fixture_t f;
        f.files["dir/x.qsd"] = "x";
        message_capture_t capture;
        f.start(c.text);
        f.names();
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{ c.header, "Unexpected end of file." }));
    }
}

TEST(unit_text_scanner, accepts_only_comments_after_the_body)
{
    scanner_fixture_t f;
    message_capture_t capture;
    f.start("} /* a */ # b\n\n  x");
    EXPECT_EQ(f.names(), "}");
    EXPECT_FALSE(f.scanner.scan_end_of_file());
    EXPECT_EQ(capture.lines, (std::vector<std::string>{ "[unit] File 'top.qsd', line 3:",
                                                        "Expecting end of file, found 'x'" }));
}

TEST(unit_text_scanner, splices_included_files_between_any_two_lexemes)
{
    scanner_fixture_t f;
    f.files["dir/inc/one.qsd"] = "x\n@include \"two.qsd\"\ny";
    f.files["dir/inc/two.qsd"] = "\tz # within\n";
    message_capture_t capture;
    f.start("a\n@include \"inc/one.qsd\"  \nb }");
    EXPECT_EQ(f.names(), "a x z y b }");
    EXPECT_TRUE(capture.lines.empty());
    EXPECT_EQ(f.scanner.current_line(), 3u);
    EXPECT_EQ(f.scanner.include_depth(), 1u);
}

TEST(unit_text_scanner, reports_errors_in_included_files_with_every_enclosing_line)
{
    scanner_fixture_t f;
    f.files["dir/inc/one.qsd"] = "x\n@include \"two.qsd\"\ny";
    f.files["dir/inc/two.qsd"] = "\n\n ?";
    message_capture_t capture;
    f.start("a\n@include \"inc/one.qsd\"\nb");
    EXPECT_EQ(f.names(), "a x !");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "[unit] File 'dir/inc/two.qsd', line 3:",
                                 "Included at 'dir/inc/one.qsd', line 2:",
                                 "Included at 'top.qsd', line 2:",
                                 "Expecting attribute name or closing bracket, found '?'" }));
}

TEST(unit_text_scanner, reports_and_skips_faulty_include_lines)
{
    const structure_error_case_t cases[] = {
        { "@include \"x.qsd\" \"y.qsd\"\nb }", "Expecting include file name, found '\"y.qsd\"'" },
        { "@include x.qsd\nb }", "Expecting include file name, found 'x.qsd'" },
        { "@include \"x.qsd\" ;\nb }", "Expecting include file name, found ';'" },
        { "@include \t\nb }", "Expecting include file name, found '\\n'" },
    };
    for (const structure_error_case_t& c : cases)
    {
        SCOPED_TRACE(c.text);
        scanner_fixture_t f;
        f.files["dir/x.qsd"] = "included";
        message_capture_t capture;
        f.start(c.text);
        EXPECT_EQ(f.names(), "b }");
        EXPECT_EQ(capture.lines, (std::vector<std::string>{ "[unit] File 'top.qsd', line 1:",
                                                            c.message }));
        EXPECT_EQ(f.scanner.current_line(), 2u);
    }
}

TEST(unit_text_scanner, recognises_include_only_at_the_beginning_of_a_line)
{
    scanner_fixture_t f;
    f.files["dir/x.qsd"] = "included";
    message_capture_t capture;
    f.start("a\n @include \"x.qsd\"\n");
    EXPECT_EQ(f.names(), "a !");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "[unit] File 'top.qsd', line 2:",
                                 "Expecting attribute name or closing bracket, found '@'" }));
}

TEST(unit_text_scanner, fails_when_an_included_file_cannot_be_read)
{
    scanner_fixture_t f;
    message_capture_t capture;
    f.start("a\n@include \"missing.qsd\"\nb");
    EXPECT_EQ(f.names(), "a !");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "[unit] File 'top.qsd', line 2:",
                                 "Failed to open the file 'dir/missing.qsd'." }));
}

TEST(unit_text_scanner, stops_a_file_that_includes_itself)
{
    scanner_fixture_t f;
    f.files["dir/self.qsd"] = "s\n@include \"self.qsd\"\n";
    message_capture_t capture;
    f.start("@include \"self.qsd\"\n");
    f.names();
    ASSERT_FALSE(capture.lines.empty());
    EXPECT_EQ(capture.lines.size(), 1u + unit_text_scanner_t::max_include_depth);
    EXPECT_EQ(capture.lines.back(),
              "Can not include a file, includes are nested more than 64 deep ('self.qsd' "
              "requested).");
}

TEST(unit_text_scanner, stops_at_10000_includes_in_all)
{
    // Each file includes the next twice: 23 files would ask for 8 million includes.
    scanner_fixture_t f;
    for (int i = 0; i < 23; ++i)
        f.files["dir/f" + std::to_string(i) + ".qsd"] =
            "@include \"f" + std::to_string(i + 1) + ".qsd\"\n@include \"f" +
            std::to_string(i + 1) + ".qsd\"\n";
    f.files["dir/f23.qsd"] = "x\n";
    message_capture_t capture;
    f.start("@include \"f0.qsd\"\n");
    const std::string names = f.names();
    EXPECT_EQ(names.substr(names.size() - 2), " !");
    ASSERT_FALSE(capture.lines.empty());
    EXPECT_EQ(capture.lines.front().rfind("[unit] File 'dir/f", 0), 0u);
    EXPECT_EQ(capture.lines.back().rfind("Can not include a file, the load has included 10000 "
                                         "files already ('f",
                                         0),
              0u);
}

TEST(unit_text_scanner, stops_an_include_that_would_pass_the_byte_limit)
{
    scanner_fixture_t f(unit_scan_limits_t{ 10000, 60 });
    f.files["dir/small.qsd"] = "a b\n";    // 4 bytes: 56 in all
    f.files["dir/large.qsd"] = "c d e\n";  // 6 more would be 62
    message_capture_t capture;
    f.start("@include \"small.qsd\"\nx y z w v\n@include \"large.qsd\"\n");  // 52 bytes
    EXPECT_EQ(f.names(), "a b x y z w v !");
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{ "[unit] File 'top.qsd', line 3:",
                                         "Can not include a file, the load would read more than "
                                         "60 bytes ('large.qsd' requested)." }));
}

TEST(unit_text_scanner, does_not_let_a_block_comment_run_out_of_an_included_file)
{
    scanner_fixture_t f;
    f.files["dir/x.qsd"] = "x /* open\n";
    message_capture_t capture;
    f.start("@include \"x.qsd\"\n*/ b");
    EXPECT_EQ(f.names(), "x !");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{ "[unit] File 'dir/x.qsd', line 2:",
                                                        "Included at 'top.qsd', line 1:",
                                                        "Unexpected end of file." }));
}
