// The scanner of the unit text format: one call per syntactic context, with line counting,
// comments, @include lines and the location header of scan errors.
//
// Sections: contexts; include hook; the scanner (set-up, structure, values, reports).
//
// The parser asks for one context at a time; each context accepts only its own lexemes and
// reports anything else as "Expecting %s, found '%s'" after the location header. Blanks, line
// feeds, comments and @include lines may stand between any two lexemes. One scanner serves one
// load on one thread.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"

#include <cstdint>

enum class unit_scan_context_t : uint8_t
{
    block_comment,
    file_magic,
    end_of_file,
    include_name,
    include_error_rest,
    attribute_name,
    unit_type,
    unit_name,
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
    fixed_vector3,
    fixed_vector4,
    int_vector2,
    open_bracket,
    close_bracket,
    colon,
    attribute_suffix,
    enum_value,
    unknown_value,
};

// The name that "Expecting %s, found '%s'" gives the context ("" for the unnamed ones).
const char* get_scan_context_name(unit_scan_context_t context);

// A lexeme that could instead be the `}` closing the enclosing block.
enum class unit_scan_result_t
{
    token,
    closing_bracket,
    error,
};

// What follows an array attribute's name.
struct unit_attribute_suffix_t
{
    enum class kind_t
    {
        length,  // ':' directly: a scalar value, or the length line of an array
        append,  // "[]" (the ':' still follows)
        element, // "[i]" (the ':' still follows)
    };
    kind_t kind = kind_t::length;
    uint32_t index = 0;
};

// An enum value as written: a name or a number.
struct unit_enum_lexeme_t
{
    bool is_name = false;
    string_dyn_t name;
    int64_t number = 0;
};

// The text of a file named by an @include line.
struct unit_include_text_t
{
    array_dyn_t<char> text;     // the contents followed by two zero bytes
    string_dyn_t path;          // the path the file was opened under; nested includes resolve from it
    string_dyn_t display_name;  // the name messages give the file
};

class unit_text_scanner_t;

// Opens the file of an @include line. Called by the scanner on the line feed that ends the line.
class unit_include_handler_t
{
public:
    virtual ~unit_include_handler_t() = default;
    // `path` is as written; scanner.current_path() is the including file's. Reports its own
    // failures (after scanner.report_location()) and returns false, which fails the load.
    [[nodiscard]] virtual bool read_include(const unit_text_scanner_t& scanner, const char* path,
                                            unit_include_text_t* file) = 0;
};

// What one load may read in all, the outermost file included: far above any real file, but
// a few small files that include each other twice cannot multiply into years of scanning.
struct unit_scan_limits_t
{
    uint32_t includes = 10000;              // @include directives performed
    uint64_t bytes = uint64_t(1) << 30;     // text of the outermost and every included file
};

class unit_text_scanner_t
{
public:
    // Deepest chain of nested @include files; a file that includes itself stops here.
    static constexpr uint32_t max_include_depth = 64;

    // `includes` may be null: every @include line then fails the load.
    explicit unit_text_scanner_t(unit_include_handler_t* includes,
                                 const unit_scan_limits_t& limits = {});
    ~unit_text_scanner_t();
    unit_text_scanner_t(const unit_text_scanner_t&) = delete;
    unit_text_scanner_t& operator=(const unit_text_scanner_t&) = delete;

    // Starts scanning the outermost file: `size` bytes of `text`, which must stay alive and be
    // followed by two zero bytes. `path` resolves includes, `display_name` names it in messages.
    // False after a message when memory runs out; nothing may be scanned then.
    [[nodiscard]] bool begin(const char* text, uint32_t size, const char* path,
                             const char* display_name);

    // Structure. Each returns false after reporting the problem.
    [[nodiscard]] bool scan_file_magic();
    [[nodiscard]] bool scan_open_bracket();
    [[nodiscard]] bool scan_close_bracket();
    [[nodiscard]] bool scan_colon();
    [[nodiscard]] unit_scan_result_t scan_unit_type(string_dyn_t* name);
    [[nodiscard]] unit_scan_result_t scan_attribute_name(string_dyn_t* name);
    // A bare name or a quoted string (escapes translated); also reads unit references.
    [[nodiscard]] bool scan_unit_name(string_dyn_t* name);
    [[nodiscard]] bool scan_attribute_suffix(unit_attribute_suffix_t* suffix);
    // Only blanks, line feeds and comments may remain; true at the end of the outermost file.
    [[nodiscard]] bool scan_end_of_file();

    // Values.
    [[nodiscard]] bool scan_string(string_dyn_t* text);
    [[nodiscard]] bool scan_signed(int64_t* value);
    [[nodiscard]] bool scan_unsigned(uint64_t* value);
    [[nodiscard]] bool scan_boolean(bool* value);
    [[nodiscard]] bool scan_real(float* value);
    // 2 to 4 components.
    [[nodiscard]] bool scan_vector(uint32_t count, float* components);
    // (w; x, y, z), stored in that order.
    [[nodiscard]] bool scan_quaternion(float* wxyz);
    // Raw fixed-point values (256 is 1.0), read with automatic base (a leading 0 is octal).
    [[nodiscard]] bool scan_fixed(int32_t* value);
    [[nodiscard]] bool scan_fixed_vector(uint32_t count, int32_t* components);
    [[nodiscard]] bool scan_int_vector2(int32_t* components);
    [[nodiscard]] bool scan_enum(unit_enum_lexeme_t* value);
    // Any single value form, as written (consecutive parenthesised groups count as one).
    [[nodiscard]] bool scan_unknown_value(string_dyn_t* text);

    // Issues "[unit] File '%s', line %u:" and one "Included at '%s', line %u:" per enclosing file.
    void report_location() const;
    // The path of the file being scanned (the innermost include).
    const char* current_path() const;
    uint32_t current_line() const;
    // The name messages give the file being scanned.
    const char* current_display_name() const;
    uint32_t include_depth() const { return m_frames.size(); }
    // How many times a scan has found a lexeme of the wrong form ("Expecting ..."), for callers
    // that add what the value should have been.
    uint32_t form_reports() const { return m_form_reports; }
    // Whether the last name or text was written without quotes, which a sign ends early.
    bool last_text_was_bare() const { return m_last_text_bare; }

private:
    struct frame_t;
    enum class stop_t
    {
        token,
        end_of_input,
        failure,
    };

    // Position and skipping.
    const char* current() const;
    const char* text_end() const;
    void consume(uint32_t length);
    void consume_lines(uint32_t length);
    void pass_line_feed(uint32_t position);
    [[nodiscard]] bool fail_at_end();
    [[nodiscard]] stop_t skip_ignorable(unit_scan_context_t context);
    [[nodiscard]] stop_t next_token(unit_scan_context_t context);
    [[nodiscard]] bool take_word(unit_scan_context_t context, const char** word, uint32_t* length);
    uint32_t word_length() const;
    [[nodiscard]] bool skip_block_comment();
    [[nodiscard]] bool run_include_line();
    void push_frame(auto_ptr_t<frame_t> frame);
    void pop_frame();

    // Lexemes shared by several contexts.
    [[nodiscard]] bool scan_char(unit_scan_context_t context, char c);
    [[nodiscard]] unit_scan_result_t scan_identifier_or_close(unit_scan_context_t context,
                                                              bool scoped, string_dyn_t* name);
    [[nodiscard]] bool scan_name_or_quoted(unit_scan_context_t context, string_dyn_t* text);
    [[nodiscard]] bool scan_quoted(unit_scan_context_t context, string_dyn_t* text);
    template <typename Convert, typename Value>
    [[nodiscard]] bool scan_number(unit_scan_context_t context, Convert convert,
                                   const char* out_of_range_name, Value* value);
    template <typename Convert, typename Value>
    [[nodiscard]] bool scan_vector_of(unit_scan_context_t context, uint32_t count,
                                      char first_separator, Convert convert,
                                      const char* out_of_range_name, Value* components);

    // Reports.
    bool expected(unit_scan_context_t context);
    void report_expecting(unit_scan_context_t context, const char* lexeme, uint32_t length);
    void report_expecting_name(const char* name, const char* lexeme, uint32_t length);
    void report_unexpected_end();
    // Copies a lexeme into `out`; one that finds no memory is reported and fails the scan.
    [[nodiscard]] bool copy_lexeme(const char* lexeme, uint32_t length, string_t* out) const;

    unit_include_handler_t* m_includes;
    unit_scan_limits_t m_limits;
    uint32_t m_included = 0;  // since begin
    uint64_t m_bytes = 0;
    array_dyn_t<auto_ptr_t<frame_t>> m_frames;  // outermost first
    frame_t* m_frame = nullptr;                 // the innermost
    string_dyn_t m_top_name;
    uint32_t m_form_reports = 0;
    bool m_last_text_bare = false;
};
