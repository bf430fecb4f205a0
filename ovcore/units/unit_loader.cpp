// Loading unit files: reading, form recognition, the text parser, naming through proxies,
// includes and the post-load passes.
//
// Sections: name proxies; reading and recognising; parsing text; names and references;
// includes; post-load passes; handing over the tree.
#include "ovcore/units/unit_loader.h"

#include "ovcore/collections/near_names.h"
#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_binary_format.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_system.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

unit_binary_reader_t g_unit_binary_reader = unit_binary_load_units;

namespace
{

const unit_attribute_t proxy_attributes[] = { OV_UNIT_ATTRIBUTES_END };

unit_t* create_proxy(unit_system_t* system)
{
    return new (std::nothrow) unit_proxy_u(system);
}

constexpr uint32_t no_parent = 0xFFFFFFFFu;
constexpr char nameless_prefix[] = "_nameless";

bool starts_with(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// File-local names (a leading dot) get the nameless prefix. False when memory runs out.
bool make_name(const char* written, string_dyn_t* name)
{
    name->clear();
    return (written[0] != '.' || name->append(nameless_prefix)) && name->append(written);
}

// The names of the load found no memory; `file` names the file as the caller gave it.
bool report_no_memory_for_file(const char* file)
{
    msg_error("[unit] Not enough memory to load the file '%s'.", file);
    return false;
}

// The unit's name as its file writes it: a file-local name without the prefix the load gives
// it. A unit without any name keeps the name the unit system shows.
void get_written_name(const unit_reader_load_t& load, const unit_t* unit, string_dyn_t* name)
{
    load.get_unit_display_name(unit, name);
    string_dyn_t nameless;
    unit_nameless_name(unit, &nameless);
    const uint32_t prefix = uint32_t(sizeof nameless_prefix) - 1;
    if (starts_with(name->c_str(), nameless_prefix) && name->c_str()[prefix] == '.' &&
        !name->equals(nameless.c_str()))
    {
        string_dyn_t written;
        if (written.assign(name->c_str() + prefix))
            name->move_from(written);
    }
}

// How a value of the attribute's element type is written, for a line after "Expecting ...".
void say_value_form(const char* file, uint32_t line, const char* unit_name,
                    const unit_descriptor_t* type, const unit_attribute_t* attribute)
{
    const unit_attr_type_t element = unit_attr_type_element_type(attribute->type);
    const char* form = nullptr;
    const char* example = nullptr;
    switch (element)
    {
    case unit_attr_type_t::u32:
    case unit_attr_type_t::u16:
    case unit_attr_type_t::u64:
    case unit_attr_type_t::u32_second:
        form = "a whole number from 0 up, without quotes or a sign";
        example = "16";
        break;
    case unit_attr_type_t::s32:
    case unit_attr_type_t::s16:
    case unit_attr_type_t::s64:
    case unit_attr_type_t::s32_second:
        form = "a whole number, without quotes";
        example = "-2";
        break;
    case unit_attr_type_t::float1:
    case unit_attr_type_t::fixed1:
        form = "a number, without quotes";
        example = "1.0";
        break;
    case unit_attr_type_t::boolean:
        form = "true or false, without quotes";
        example = "true";
        break;
    case unit_attr_type_t::string:
    case unit_attr_type_t::token:
    case unit_attr_type_t::resource_tie:
        form = "text in double quotes";
        example = "\"text\"";
        break;
    case unit_attr_type_t::owner_ptr:
    case unit_attr_type_t::link_ptr:
    case unit_attr_type_t::tolerant_link_ptr:
        form = "the name of a unit, or null";
        example = ".name";
        break;
    default:
        break;
    }
    if (form != nullptr)
        msg_error("[unit] File '%s', line %u: the attribute '%s' of the unit '%s' (of type '%s') "
                  "takes %s, as in %s: %s.",
                  file, line, attribute->name, unit_name, type->type_name, form,
                  attribute->name, example);
    else
        msg_error("[unit] File '%s', line %u: the attribute '%s' of the unit '%s' (of type '%s') "
                  "takes numbers without quotes, blanks between them.",
                  file, line, attribute->name, unit_name, type->type_name);
}

template <typename T> T* attribute_storage(unit_t* unit, const unit_attribute_t* attribute)
{
    return static_cast<T*>(unit_attribute_value(unit, attribute));
}

// Whether the attribute's type is a row of that kind, scalar or array; false for codes outside
// the table.
bool is_of_kind(const unit_attribute_t* attribute, unit_attr_kind_t kind)
{
    const unit_attr_type_row_t* row = unit_attr_type_row(attribute->type);
    return row != nullptr && row->kind == kind;
}

}  // namespace

// ---- name proxies ------------------------------------------------------------------------

const unit_descriptor_t unit_proxy_u::descriptor = {
    "unit_proxy",       create_proxy, unit_destroy, &unit_t::descriptor, proxy_attributes,
    compute_type_name_hash("unit_proxy_u"), 0xFFFFFFFFu,
};

unit_proxy_u::unit_proxy_u(unit_system_t* system) : unit_t(system)
{
    mark_as_proxy();
}

void unit_proxy_u::on_release()
{
    m_target.reset();
    unit_t::on_release();
}

const unit_descriptor_t* unit_proxy_u::get_descriptor() const
{
    return &descriptor;
}

void unit_proxy_u::set_target(unit_t* target, uint32_t created_index)
{
    m_target.reset(target);
    m_target_index = created_index;
}

// ---- reading and recognising -------------------------------------------------------------

unit_load_t::unit_load_t(unit_system_t* system, file_t* file, const char* name)
    : m_system(system), m_file(file), m_name(name != nullptr ? name : "")
{
}

unit_load_t::~unit_load_t()
{
    finish(false);
}

bool unit_load_t::load_units()
{
    finish(false);
    if (m_file == nullptr || m_system == nullptr)
    {
        msg_error("[unit] Error while reading units from file '%s'", m_name.c_str());
        return false;
    }
    m_realm = m_file->get_device_type();
    if (m_realm == UFS)
    {
        if (!m_file->get_mount_path(&m_location))
        {
            msg_error("[unit] Failed to retrieve file's location ('%s').",
                      m_file->get_path().c_str());
            return false;
        }
    }
    else if (!m_location.assign(m_file->get_path()))
        return report_no_memory_for_file(m_file->get_path().c_str());
    // The constructor's copy of the name could not say that it failed.
    if (m_name.copy_failed() || (m_name.empty() && !m_name.assign(m_location)))
        return report_no_memory_for_file(m_location.c_str());

    const uint64_t size = m_file->get_size();
    if (size > UINT32_MAX - 2)
    {
        msg_error("[unit] The file '%s' is larger than we can handle. (reported size %I64u)",
                  m_name.c_str(), size);
        return false;
    }
    array_dyn_t<char> buffer;
    m_file->set_position(0);
    if (!buffer.resize(uint32_t(size) + 2))
        return report_no_memory_for_file(m_name.c_str());
    if (size > 0 && !m_file->read(buffer.data(), uint32_t(size)))
    {
        msg_error("[unit] Error while reading units from file '%s'", m_name.c_str());
        return false;
    }
    return load_buffer(&buffer);
}

bool unit_load_t::load_units_from_memory(const char* data, uint32_t size, const char* path,
                                         fs_device_type_t realm, const char* name)
{
    finish(false);
    m_realm = realm;
    if (!m_location.assign(path) || !m_name.assign(name != nullptr ? name : path))
        return report_no_memory_for_file(name != nullptr ? name : path);
    array_dyn_t<char> buffer;
    if (m_system != nullptr && size <= UINT32_MAX - 2 && !buffer.resize(size + 2))
        return report_no_memory_for_file(m_name.c_str());
    if (m_system == nullptr || size > UINT32_MAX - 2)
    {
        msg_error("[unit] Error while reading units from file '%s'", m_name.c_str());
        return false;
    }
    if (size > 0)
        std::memcpy(buffer.data(), data, size);
    return load_buffer(&buffer);
}

// `buffer` holds the contents followed by two zero bytes.
bool unit_load_t::load_buffer(array_dyn_t<char>* buffer)
{
    uint32_t size = buffer->size() - 2;
    if (size < 8)
    {
        msg_error("[unit] The file '%s' does not contain serialised units. (reported size %Iu < 8)",
                  m_name.c_str(), size_t(size));
        return false;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer->data());
    static const unsigned char scrambled_mark[] = { 0x33, 0x6E, 0x4B, 0x01, 0x00 };
    array_dyn_t<char> plain;
    if (std::memcmp(bytes, scrambled_mark, sizeof(scrambled_mark)) == 0)
    {
        const uint32_t seed = bytes[5];
        const uint32_t payload = size - 6;
        if (!plain.resize(payload + 2))
            return report_no_memory_for_file(m_name.c_str());
        for (uint32_t i = 0; i < payload; ++i)
        {
            const uint32_t k = (i + seed) & 0xFFu;
            uint32_t t = ((k << 2) ^ ~k) & 0xFFu;
            t = (t << 3) & 0xFFu;
            plain[i] = char(t ^ bytes[6 + i] ^ k);
        }
        buffer = &plain;
        size = payload;
        bytes = reinterpret_cast<const unsigned char*>(buffer->data());
    }
    // Two zero bytes follow the data, so four bytes can be compared even after unscrambling.
    if (std::memcmp(bytes, "BQSD", 4) == 0)
    {
        if (g_unit_binary_reader == nullptr)
        {
            msg_error("[unit] The file '%s' is in the binary unit format, which this program can "
                      "not read.",
                      m_name.c_str());
            return false;
        }
        m_mode = unit_load_mode_t::binary;
        const bool read =
            g_unit_binary_reader(this, buffer->data(), size, m_location.c_str(), m_realm);
        if (!read)
        {
            finish(false);
            return false;
        }
        const bool passed = run_post_load_passes();
        finish(passed);
        return passed;
    }
    const char* text = buffer->data();
    const bool magic = (size >= 8 && std::memcmp(text, "QsdNunit", 8) == 0) ||
                       (size >= 11 && std::memcmp(text, "\xEF\xBB\xBFQsdNunit", 11) == 0);
    if (!magic)
    {
        msg_error("[unit] The file '%s' does not contain serialised units - missing magic mark.",
                  m_name.c_str());
        msg_error("[unit] A unit file in text form must start with the word QsdNunit, then one "
                  "{ ... } body holding its unit blocks.");
        return false;
    }
    return load_text(text, size);
}

// ---- parsing text ------------------------------------------------------------------------

namespace
{

// The unit blocks of the text form, read from the scanner into the load through what readers
// may ask of it.
class text_parser_t
{
public:
    text_parser_t(unit_reader_load_t* load, unit_text_scanner_t* scanner)
        : m_load(load), m_scanner(scanner), m_values(scanner)
    {
    }

    // Unit blocks up to the bracket that closes the body. False after a message.
    [[nodiscard]] bool parse_units();

private:
    [[nodiscard]] bool parse_unit_block(bool* body_closed);
    [[nodiscard]] bool parse_attribute_line(unit_t* unit, const string_dyn_t& attribute_name);
    [[nodiscard]] bool parse_unknown_attribute(unit_t* unit, const string_dyn_t& attribute_name);

    unit_reader_load_t* m_load;
    unit_text_scanner_t* m_scanner;
    unit_text_value_reader_t m_values;
    string_dyn_t m_scratch;
    uint32_t m_text_line = 0;  // the line of the last unquoted text value, which a sign ends
};

bool text_parser_t::parse_units()
{
    bool body_closed = false;
    while (!body_closed)
        if (!parse_unit_block(&body_closed))
            return false;
    return true;
}

bool text_parser_t::parse_unit_block(bool* body_closed)
{
    string_dyn_t type_name;
    const unit_scan_result_t type = m_scanner->scan_unit_type(&type_name);
    if (type == unit_scan_result_t::closing_bracket)
    {
        *body_closed = true;
        return true;
    }
    if (type == unit_scan_result_t::error || !m_scanner->scan_colon() ||
        !m_scanner->scan_unit_name(&m_scratch))
        return false;
    string_dyn_t written;
    written.move_from(m_scratch);
    unit_t* unit = m_load->begin_unit(type_name.c_str(), written.c_str());
    if (unit == nullptr || !m_scanner->scan_open_bracket())
        return false;
    m_text_line = 0;
    string_dyn_t attribute_name;
    for (;;)
    {
        const unit_scan_result_t line = m_scanner->scan_attribute_name(&attribute_name);
        if (line == unit_scan_result_t::closing_bracket)
            return true;
        if (line == unit_scan_result_t::error)
        {
            // An unquoted text stops at the first sign that cannot be in a name, and what
            // follows is taken for the next attribute.
            if (m_text_line != 0 && m_text_line == m_scanner->current_line())
                msg_error("[unit] File '%s', line %u: a text value with characters other than "
                          "letters, digits, '_' and '.' must be in double quotes.",
                          m_scanner->current_display_name(), m_text_line);
            return false;
        }
        m_text_line = 0;
        if (!parse_attribute_line(unit, attribute_name))
            return false;
    }
}

bool text_parser_t::parse_attribute_line(unit_t* unit, const string_dyn_t& attribute_name)
{
    const unit_attribute_t* attribute =
        unit_find_attribute(unit->get_descriptor(), attribute_name.c_str());
    if (attribute == nullptr)
        return parse_unknown_attribute(unit, attribute_name);
    const uint32_t code = uint32_t(attribute->type);
    if (code == 0 || code > unit_attr_type_last)
    {
        m_load->report_location();
        msg_error("[unit] Unknown unit attribute type.");
        return false;
    }
    size_t index = unit_index_absent;
    if (unit_attr_type_is_array(attribute->type))
    {
        unit_attribute_suffix_t suffix;
        if (!m_scanner->scan_attribute_suffix(&suffix))
            return false;
        string_dyn_t unit_name;
        const char* type_name = unit->get_descriptor()->type_name;
        // Names for the messages below, only when one is issued.
        auto name_unit_for_message = [&]() -> const char* {
            m_load->get_unit_display_name(unit, &unit_name);
            return unit_name.c_str();
        };
        switch (suffix.kind)
        {
        case unit_attribute_suffix_t::kind_t::length:
        {
            uint64_t length = 0;
            if (!m_scanner->scan_unsigned(&length))
                return false;
            if (length > UINT32_MAX)
            {
                m_load->report_location();
                msg_error("[unit] The requested length of the array attribute '%s' of unit '%s' "
                          "(of type '%s') is too large.",
                          attribute->name, name_unit_for_message(), type_name);
                return false;
            }
            if (attribute->is_obsolete())
            {
                msg_warning("Ignoring obsolete attribute '%s' of unit '%s' (of type '%s').",
                            attribute->name, name_unit_for_message(), type_name);
                return true;
            }
            // The length only reserves room; a huge one must not take the memory up front.
            const size_t capacity =
                length < unit_load_capacity_request_limit ? size_t(length)
                                                          : unit_load_capacity_request_limit;
            if (!unit_array_request_capacity(unit, attribute, capacity))
            {
                m_load->report_location();
                msg_error("[unit] Not enough memory for %Iu elements.", capacity);
                msg_error("[unit] Failed to set the requested length of the array attribute '%s' "
                          "of unit '%s' (of type '%s').",
                          attribute->name, name_unit_for_message(), type_name);
                return false;
            }
            return true;
        }
        case unit_attribute_suffix_t::kind_t::append:
            index = unit_index_append;
            break;
        case unit_attribute_suffix_t::kind_t::element:
            if (!attribute->is_obsolete())
            {
                size_t size = 0;
                if (!unit_array_get_size(unit, attribute, &size))
                {
                    m_load->report_location();
                    msg_error("[unit] Failed to get the size of array attribute '%s' of unit '%s' "
                              "(of type '%s').",
                              attribute->name, name_unit_for_message(), type_name);
                    return false;
                }
                if (suffix.index != size)
                {
                    m_load->report_location();
                    msg_error("[unit] The values in array attribute '%s' of unit '%s' (of type "
                              "'%s') must be specified in order - trying to set the element %Iu "
                              "of array of size %Iu.",
                              attribute->name, name_unit_for_message(), type_name,
                              size_t(suffix.index), size);
                    return false;
                }
            }
            index = suffix.index;
            break;
        }
    }
    if (!m_scanner->scan_colon())
        return false;
    const uint32_t form_reports = m_scanner->form_reports();
    const uint32_t line = m_scanner->current_line();
    if (m_load->load_attribute_value(&m_values, unit, attribute, index))
    {
        if (unit_attr_type_element_type(attribute->type) == unit_attr_type_t::string &&
            m_scanner->last_text_was_bare())
            m_text_line = line;
        return true;
    }
    if (m_scanner->form_reports() != form_reports)
    {
        string_dyn_t unit_name;
        get_written_name(*m_load, unit, &unit_name);
        say_value_form(m_scanner->current_display_name(), line, unit_name.c_str(),
                       unit->get_descriptor(), attribute);
    }
    return false;
}

bool text_parser_t::parse_unknown_attribute(unit_t* unit, const string_dyn_t& attribute_name)
{
    if (!unit->accepts_unknown_attributes())
    {
        string_dyn_t unit_name;
        m_load->get_unit_display_name(unit, &unit_name);
        m_load->report_location();
        msg_error("[unit] The unit '%s' of type '%s' has no attribute named '%s'.",
                  unit_name.c_str(), unit->get_descriptor()->type_name, attribute_name.c_str());
        return false;
    }
    unit_attribute_suffix_t suffix;
    if (!m_scanner->scan_attribute_suffix(&suffix))
        return false;
    size_t index = unit_index_absent;
    if (suffix.kind != unit_attribute_suffix_t::kind_t::length)
    {
        index = suffix.kind == unit_attribute_suffix_t::kind_t::append ? unit_index_append
                                                                         : size_t(suffix.index);
        if (!m_scanner->scan_colon())
            return false;
    }
    const uint32_t line = m_scanner->current_line();
    if (!m_scanner->scan_unknown_value(&m_scratch))
        return false;
    if (!unit->handle_unknown_attribute(attribute_name.c_str(), index, m_scratch.c_str()))
        return false;
    // Where the ignored line is, and the attribute it most likely meant.
    const unit_descriptor_t* type = unit->get_descriptor();
    near_name_search_t search(attribute_name.c_str());
    for (const unit_descriptor_t* t = type; t != nullptr; t = t->parent)
        for (const unit_attribute_t* a = t->attributes;
             a != nullptr && a->type != unit_attr_type_t::none; ++a)
            if (!a->is_obsolete())
                search.offer(a->name);
    const char* near = search.nearest();
    string_dyn_t unit_name;
    get_written_name(*m_load, unit, &unit_name);
    if (near != nullptr)
        msg_warning("[unit] File '%s', line %u: the unit '%s' (of type '%s') has no attribute "
                    "'%s'; did you mean '%s'?",
                    m_scanner->current_display_name(), line, unit_name.c_str(), type->type_name,
                    attribute_name.c_str(), near);
    else
        msg_warning("[unit] File '%s', line %u: the unit '%s' (of type '%s') has no attribute "
                    "'%s'.",
                    m_scanner->current_display_name(), line, unit_name.c_str(), type->type_name,
                    attribute_name.c_str());
    return true;
}

}  // namespace

bool unit_load_t::load_text(const char* text, uint32_t size)
{
    m_scanner.reset(new (std::nothrow) unit_text_scanner_t(this));
    if (!m_scanner)
    {
        finish(false);
        return report_no_memory_for_file(m_name.c_str());
    }
    if (!m_scanner->begin(text, size, m_location.c_str(), m_name.c_str()))
    {
        finish(false);
        return false;
    }
    if (!m_scanner->scan_file_magic())
    {
        msg_error("[unit] The file '%s' does not contain serialised units. (scan_file_magic)",
                  m_name.c_str());
        finish(false);
        return false;
    }
    if (!m_scanner->scan_open_bracket())
    {
        msg_error("[unit] The file '%s' does not contain serialised units. (scan_open)",
                  m_name.c_str());
        finish(false);
        return false;
    }
    m_mode = unit_load_mode_t::text;
    text_parser_t parser(this, m_scanner.get());
    if (!parser.parse_units())
    {
        finish(false);
        return false;
    }
    // Content after the body is reported but does not fail the load.
    (void)m_scanner->scan_end_of_file();
    m_current_unit = nullptr;
    m_current_proxy = nullptr;
    const bool passed = run_post_load_passes();
    finish(passed);
    return passed;
}

// ---- names and references ----------------------------------------------------------------

unit_t* unit_load_t::begin_unit(const char* type_name, const char* name)
{
    if (m_system == nullptr)
        return nullptr;
    const unit_descriptor_t* type = m_system->bank()->find_type(type_name);
    if (type == nullptr || type->create == nullptr)
        report_location();  // the unit system says what is wrong with the type name
    owner_ptr_t<unit_t> unit = m_system->create_unit_by_type_name(type_name);
    if (!unit)
        return nullptr;
    unit->set_state_flags(unit_state_loading);
    unit_t* created = unit.get();
    created_t* record = m_created.append_new();
    if (record == nullptr)
        out_of_memory_exit("[unit] Not enough memory for the units of the file '%s'.",
                           m_name.c_str());
    record->unit = std::move(unit);
    record->line = m_scanner ? m_scanner->current_line() : 0;
    if (!name_unit(created, m_created.size() - 1, name))
        return nullptr;
    m_current_unit = created;
    m_current_proxy = m_created.last().proxy;
    return created;
}

// Gives the unit header's name to the unit: through a proxy that references made earlier, or
// a new one.
bool unit_load_t::name_unit(unit_t* unit, uint32_t created_index, const char* written)
{
    string_dyn_t name;
    if (!make_name(written, &name))
        return report_no_memory_for_name(written);
    // Held inside the record: a name's format check needs no memory.
    array_fixed_t<token_t, unit_name_max_components> tokens;
    if (!unit_name_parse(name.c_str(), &tokens))
    {
        report_location();
        msg_error("[unit] The unit name '%s' is in wrong format.", written);
        return false;
    }
    unit_t* existing = unit_name_find_unit(tokens);
    if (existing != nullptr)
    {
        unit_proxy_u* proxy =
            is_own_proxy(existing) ? static_cast<unit_proxy_u*>(existing) : nullptr;
        if (proxy != nullptr && proxy->target() == nullptr)
        {
            proxy->set_target(unit, created_index);
            unit->set_state_flags(unit_state_load_targeted);
            m_created[created_index].proxy = proxy;
            return true;
        }
        const unit_t* holder = proxy != nullptr ? proxy->target() : existing;
        report_location();
        msg_error("[unit] The unit name '%s' is already taken by an existing unit (of type '%s').",
                  written, holder->get_descriptor()->type_name);
        return false;
    }
    unit_proxy_u* proxy = obtain_proxy(name);
    if (proxy == nullptr)
        return false;
    proxy->set_target(unit, created_index);
    unit->set_state_flags(unit_state_load_targeted);
    m_created[created_index].proxy = proxy;
    return true;
}

bool unit_load_t::find_reference(const char* written, string_dyn_t* name, unit_t** unit)
{
    if (!make_name(written, name))
        return report_no_memory_for_name(written);
    // Held inside the record: a name's format check needs no memory.
    array_fixed_t<token_t, unit_name_max_components> tokens;
    if (!unit_name_parse(name->c_str(), &tokens))
    {
        report_location();
        msg_error("[unit] The unit name '%s' is in wrong format.", written);
        return false;
    }
    *unit = unit_name_find_unit(tokens);
    return true;
}

unit_proxy_u* unit_load_t::obtain_proxy(const string_dyn_t& name)
{
    // Held inside the record: a name's format check needs no memory.
    array_fixed_t<token_t, unit_name_max_components> tokens;
    if (!unit_name_parse(name.c_str(), &tokens))
    {
        report_location();
        msg_error("[unit] The unit name '%s' is in wrong format.", name.c_str());
        return nullptr;
    }
    unit_t* existing = unit_name_find_unit(tokens);
    if (is_own_proxy(existing))
        return static_cast<unit_proxy_u*>(existing);
    owner_ptr_t<unit_t> created = m_system->create_unit(&unit_proxy_u::descriptor);
    if (!created)
    {
        msg_error("[unit] Creation of unit instance of type '%s' failed.",
                  unit_proxy_u::descriptor.type_name);
        return nullptr;
    }
    owner_ptr_t<unit_proxy_u> proxy;
    proxy.adopt(static_cast<unit_proxy_u*>(created.detach()));
    // The name is copied before it is registered, so that a failure leaves nothing named.
    if (!proxy->name().assign(name))
    {
        (void)report_no_memory_for_name(name.c_str());
        return nullptr;
    }
    if (existing != nullptr || unit_name_create_name(tokens, proxy.get()) == 0)
    {
        report_location();
        msg_error("[unit] Failed to set the name '%s' to proxy.", name.c_str());
        return nullptr;
    }
    proxy->set_load(this);
    unit_proxy_u* result = proxy.get();
    if (!m_proxies.append(std::move(proxy)))
        out_of_memory_exit("[unit] Not enough memory for the unit names of the file '%s'.",
                           m_name.c_str());
    return result;
}

bool unit_load_t::claim_proxy(unit_t* proxy)
{
    if (!is_own_proxy(proxy))
        OV_FATAL("[unit] Only a proxy of the load can be claimed by an owner attribute.");
    unit_proxy_u* own = static_cast<unit_proxy_u*>(proxy);
    if (own->is_claimed())
        return false;
    own->set_claimed();
    return true;
}

bool unit_load_t::load_attribute_value(unit_value_reader_t* reader, unit_t* unit,
                                       const unit_attribute_t* attribute, size_t index)
{
    return unit_load_attribute_value(this, reader, unit, attribute, index);
}

bool unit_load_t::is_own_proxy(const unit_t* unit) const
{
    return unit != nullptr && unit->is_proxy() &&
           unit->get_descriptor() == &unit_proxy_u::descriptor &&
           static_cast<const unit_proxy_u*>(unit)->load() == this;
}

void unit_load_t::report_location() const
{
    if (m_scanner)
        m_scanner->report_location();
}

bool unit_load_t::report_no_memory_for_name(const char* written) const
{
    report_location();
    msg_error("[unit] Not enough memory for the unit name '%s'.", written);
    return false;
}

void unit_load_t::get_unit_display_name(const unit_t* unit, string_t* name) const
{
    const unit_proxy_u* proxy =
        is_own_proxy(unit) ? static_cast<const unit_proxy_u*>(unit) : proxy_of(unit);
    // Without memory for the proxy's name the unit is shown as the unit system names it.
    if (proxy == nullptr || !name->assign(proxy->name()))
        unit_display_name(unit, name);
}

// The proxy that names a unit of this load (file-local names stay there), or null.
const unit_proxy_u* unit_load_t::proxy_of(const unit_t* unit) const
{
    if (unit == m_current_unit)
        return m_current_proxy;
    if ((unit->state_flags() & unit_state_load_targeted) == 0)
        return nullptr;
    if (m_proxy_index.size() != m_created.size())
    {
        m_proxy_index.clear();
        if (!m_proxy_index.reserve(m_created.size()))
            return nullptr;
        for (const created_t& created : m_created)
            (void)m_proxy_index.append(proxy_of_t{ created.unit.get(), created.proxy });
        std::sort(m_proxy_index.begin(), m_proxy_index.end(),
                  [](const proxy_of_t& a, const proxy_of_t& b) {
                      return std::less<const unit_t*>()(a.unit, b.unit);
                  });
    }
    const proxy_of_t* found = std::lower_bound(
        m_proxy_index.begin(), m_proxy_index.end(), unit,
        [](const proxy_of_t& a, const unit_t* b) { return std::less<const unit_t*>()(a.unit, b); });
    return found != m_proxy_index.end() && found->unit == unit ? found->proxy : nullptr;
}

// ---- includes ----------------------------------------------------------------------------

bool unit_load_t::read_include(const unit_text_scanner_t& scanner, const char* path,
                               unit_include_text_t* file)
{
    const bool parent_relative = starts_with(path, "../") || std::strstr(path, "/../") != nullptr;
    switch (m_realm)
    {
    case SYSFS:
        if (path[0] == '/' || parent_relative)
        {
            scanner.report_location();
            msg_error("Can not include a file, absolute or parent-relative paths are forbidden "
                      "('%s' requested).",
                      path);
            return false;
        }
        break;
    case UFS:
        if (parent_relative)
        {
            scanner.report_location();
            msg_warning("Detected include file using parent-relative path ('%s'), expect "
                        "misbehaviour.",
                        path);
        }
        break;
    default:
        scanner.report_location();
        msg_error("Can not include a file in UNKNOWNFS realm ('%s' requested).", path);
        return false;
    }
    // Relative paths start from the including file's directory.
    string_dyn_t resolved;
    const char* including = scanner.current_path();
    const char* slash = path[0] != '/' ? std::strrchr(including, '/') : nullptr;
    if ((slash != nullptr && !resolved.assign(including, uint32_t(slash - including) + 1)) ||
        !resolved.append(path))
    {
        scanner.report_location();
        msg_error("[unit] Not enough memory for the include path '%s'.", path);
        return false;
    }

    auto_ptr_t<file_t> opened(fs_device_open(resolved, fs_open_mode_t::read_only, m_realm));
    if (!opened)
    {
        scanner.report_location();
        msg_error("Failed to open the file '<MISSING><%s>%s'.", get_device_type_name(m_realm),
                  resolved.c_str());
        return false;
    }
    string_dyn_t display = describe_file(opened.get());
    const uint64_t size = opened->get_size();
    if (size > UINT32_MAX - 2)
    {
        scanner.report_location();
        msg_error("[unit] Error while reading units from file '%s'. (Size %I64u too big!)",
                  display.c_str(), size);
        return false;
    }
    if (!file->text.resize(uint32_t(size) + 2))
    {
        scanner.report_location();
        msg_error("[unit] Not enough memory to load the file '%s'.", display.c_str());
        return false;
    }
    if (size > 0 && !opened->read(file->text.data(), uint32_t(size)))
    {
        scanner.report_location();
        msg_error("[unit] Error while reading units from file '%s'.", display.c_str());
        return false;
    }
    file->path.move_from(resolved);
    file->display_name.move_from(display);
    return true;
}

// ---- post-load passes --------------------------------------------------------------------

bool unit_load_t::run_post_load_passes()
{
    array_dyn_t<uint32_t> parents;
    return resolve_names_and_links() && resolve_owners(&parents) && collect_roots(parents) &&
           run_post_load_hooks() && keep_written_names();
}

bool unit_load_t::keep_written_names()
{
    m_written.clear();
    for (const created_t& created : m_created)
    {
        if (created.proxy == nullptr && created.unit->name_id() == 0)
            continue;  // a unit without a name
        written_unit_t* written = m_written.append_new();
        if (written == nullptr)
            return report_no_memory_for_file(m_name.c_str());
        written->unit = created.unit.get();
        written->line = created.line;
        get_written_name(*this, created.unit.get(), &written->name);
        if (written->name.empty())
            return report_no_memory_for_file(m_name.c_str());
    }
    return true;
}

const char* unit_load_t::written_name_of(const unit_t* unit) const
{
    for (const written_unit_t& written : m_written)
        if (written.unit == unit)
            return written.name.c_str();
    return nullptr;
}

void unit_load_t::report_dangling(const unit_t* unit, const unit_proxy_u* proxy,
                                  const unit_attribute_t* attribute)
{
    string_dyn_t unit_name;
    get_unit_display_name(unit, &unit_name);
    msg_error("[unit] The unit '%s' of type '%s' has dangling pointer (to '%s') in the attribute "
              "named '%s'.",
              unit_name.c_str(), unit->get_descriptor()->type_name, proxy->name().c_str(),
              attribute->name);
    const uint32_t prefix = uint32_t(sizeof nameless_prefix) - 1;
    const char* target = proxy->name().c_str();
    if (starts_with(target, nameless_prefix) && target[prefix] == '.')
        target += prefix;
    if (proxy->target() != nullptr)
    {
        msg_error("[unit] The unit '%s' has an owner already: a unit has one owner.", target);
        return;
    }
    // The names the file does define, as written, for the one it meant.
    string_dyn_t names;
    string_dyn_t name;
    bool formed = true;
    for (const created_t& created : m_created)
    {
        if (created.proxy == nullptr && created.unit->name_id() == 0)
            continue;
        get_written_name(*this, created.unit.get(), &name);
        formed = formed && (names.empty() || names.append(", ")) &&
                 names.append_formatted("'%s'", name.c_str());
    }
    if (!formed)
        (void)report_no_memory_for_file(m_name.c_str());
    else if (names.empty())
        msg_error("[unit] The file '%s' defines no unit '%s', and no named unit at all.",
                  m_name.c_str(), target);
    else
        msg_error("[unit] The file '%s' defines no unit '%s'; the units it names are %s.",
                  m_name.c_str(), target, names.c_str());
}

// A reference resolved after the load still has to suit the attribute's domain.
bool unit_load_t::check_resolved(const unit_t* unit, const unit_attribute_t* attribute,
                                 unit_attr_type_t element, const unit_proxy_u* proxy) const
{
    if (unit_check_unit(attribute->domain, element, proxy->target()) ==
        unit_domain_check_t::accepted)
        return true;
    string_dyn_t unit_name;
    get_unit_display_name(unit, &unit_name);
    msg_error("[unit] The requested value '%s' of the attribute '%s' of unit '%s' (of type '%s') "
              "is out of the attribute domain.",
              proxy->name().c_str(), attribute->name, unit_name.c_str(),
              unit->get_descriptor()->type_name);
    return false;
}

bool unit_load_t::redirect_link(unit_t* unit, const unit_attribute_t* attribute,
                                link_ptr_t<unit_t>* link)
{
    if (!is_own_proxy(link->get()))
        return true;
    const unit_proxy_u* proxy = static_cast<const unit_proxy_u*>(link->get());
    if (proxy->target() != nullptr)
    {
        const bool suits =
            check_resolved(unit, attribute, unit_attr_type_t::link_ptr, proxy);
        link->reset(suits ? proxy->target() : nullptr);
        return suits;
    }
    report_dangling(unit, proxy, attribute);
    link->reset();
    // A tolerant link to a unit that is never defined stays empty and the load goes on.
    const unit_attr_type_t type = attribute->type;
    return type == unit_attr_type_t::tolerant_link_ptr ||
           type == unit_attr_type_t::tolerant_link_ptr_array;
}

// Pass 1: names move from the proxies onto their units (file-local names stay on the proxy),
// and the links of every named unit are redirected from proxies to their targets.
bool unit_load_t::resolve_names_and_links()
{
    bool passed = true;
    array_fixed_t<token_t, unit_name_max_components> tokens;
    for (uint32_t p = 0; p < m_proxies.size(); ++p)
    {
        unit_proxy_u* proxy = m_proxies[p].get();
        unit_t* target = proxy->target();
        if (target == nullptr)
        {
            msg_warning("[unit] The pointer to '%s' looks like dangling pointer.",
                        proxy->name().c_str());
            continue;
        }
        if (!starts_with(proxy->name().c_str(), nameless_prefix) &&
            unit_name_parse(proxy->name().c_str(), &tokens))
        {
            (void)unit_name_release(proxy->name_id());
            proxy->set_name_id(0);
            (void)unit_name_create_name(tokens, target);
        }
        for (const unit_descriptor_t* type = target->get_descriptor(); type != nullptr;
             type = type->parent)
        {
            for (const unit_attribute_t* a = type->attributes;
                 a != nullptr && a->type != unit_attr_type_t::none; ++a)
            {
                if (a->is_obsolete() || !is_of_kind(a, unit_attr_kind_t::link))
                    continue;
                if (!unit_attr_type_is_array(a->type))
                    passed &= redirect_link(target, a,
                                            attribute_storage<link_ptr_t<unit_t>>(target, a));
                else
                    for (link_ptr_t<unit_t>& link :
                         *attribute_storage<array_dyn_t<link_ptr_t<unit_t>>>(target, a))
                        passed &= redirect_link(target, a, &link);
            }
        }
    }
    return passed;
}

bool unit_load_t::redirect_owner(uint32_t referring, const unit_attribute_t* attribute,
                                 owner_ptr_t<unit_t>* owner, array_dyn_t<uint32_t>* parents)
{
    if (!is_own_proxy(owner->get()))
        return true;
    unit_t* unit = m_created[referring].unit.get();
    const unit_proxy_u* proxy = static_cast<const unit_proxy_u*>(owner->get());
    unit_t* target = proxy->target();
    if (target == nullptr || (target->state_flags() & unit_state_load_owned) != 0)
    {
        report_dangling(unit, proxy, attribute);
        owner->reset();
        return false;
    }
    if (!check_resolved(unit, attribute, unit_attr_type_t::owner_ptr, proxy))
    {
        owner->reset();
        return false;
    }
    (*parents)[proxy->target_index()] = referring;
    owner->reset(target);
    target->set_state_flags(unit_state_load_owned);
    return true;
}

// Pass 2: owner attributes take over the units their proxies stand for.
bool unit_load_t::resolve_owners(array_dyn_t<uint32_t>* parents)
{
    if (!parents->resize(m_created.size()))
        out_of_memory_exit("[unit] Not enough memory for the owners of the units of the file '%s'.",
                           m_name.c_str());
    for (uint32_t& parent : *parents)
        parent = no_parent;
    bool passed = true;
    for (uint32_t i = 0; i < m_created.size(); ++i)
    {
        unit_t* unit = m_created[i].unit.get();
        for (const unit_descriptor_t* type = unit->get_descriptor(); type != nullptr;
             type = type->parent)
        {
            for (const unit_attribute_t* a = type->attributes;
                 a != nullptr && a->type != unit_attr_type_t::none; ++a)
            {
                if (a->is_obsolete() || !is_of_kind(a, unit_attr_kind_t::owner))
                    continue;
                if (!unit_attr_type_is_array(a->type))
                    passed &= redirect_owner(i, a, attribute_storage<owner_ptr_t<unit_t>>(unit, a),
                                             parents);
                else
                    for (owner_ptr_t<unit_t>& owner :
                         *attribute_storage<array_dyn_t<owner_ptr_t<unit_t>>>(unit, a))
                        passed &= redirect_owner(i, a, &owner, parents);
            }
        }
    }
    return passed;
}

// Pass 3: units no owner attribute took become the roots. Units that own themselves through a
// chain of owners would never be released, so such a chain fails the load.
bool unit_load_t::collect_roots(const array_t<uint32_t>& parents)
{
    enum : uint8_t
    {
        unknown,
        walking,
        rooted,
        cyclic,
    };
    array_dyn_t<uint8_t> state;
    if (!state.resize(m_created.size()))
        out_of_memory_exit("[unit] Not enough memory for the owners of the units of the file '%s'.",
                           m_name.c_str());
    bool passed = true;
    for (uint32_t i = 0; i < m_created.size(); ++i)
    {
        uint32_t j = i;
        while (state[j] == unknown && parents[j] != no_parent)
        {
            state[j] = walking;
            j = parents[j];
        }
        uint8_t outcome = rooted;
        if (state[j] == walking)
        {
            outcome = cyclic;
            const unit_t* unit = m_created[j].unit.get();
            string_dyn_t unit_name;
            get_unit_display_name(unit, &unit_name);
            msg_error("[unit] The unit '%s' of type '%s' owns itself through its owner pointers.",
                      unit_name.c_str(), unit->get_descriptor()->type_name);
            passed = false;
        }
        else if (state[j] != unknown)
            outcome = state[j];
        for (uint32_t k = i; state[k] == walking || state[k] == unknown; k = parents[k])
        {
            state[k] = outcome;
            if (parents[k] == no_parent)
                break;
        }
    }
    if (!passed)
        return false;
    for (created_t& created : m_created)
    {
        if ((created.unit->state_flags() & unit_state_load_owned) != 0)
            continue;
        if (!m_roots.append(owner_ptr_t<unit_t>(created.unit.get())))
            out_of_memory_exit("[unit] Not enough memory for the unit trees of the file '%s'.",
                               m_name.c_str());
    }
    return true;
}

// Pass 4: every unit's post-load hook, in creation order.
bool unit_load_t::run_post_load_hooks()
{
    for (created_t& created : m_created)
    {
        unit_t* unit = created.unit.get();
        if (!unit->post_load_hook())
        {
            string_dyn_t unit_name;
            get_unit_display_name(unit, &unit_name);
            msg_error("[unit] The unit '%s' of type '%s' failed in its post-load hook.",
                      unit_name.c_str(), unit->get_descriptor()->type_name);
            return false;
        }
    }
    return true;
}

// Ends the load: drops the scanner, the proxies and the load's own references. After a failure
// every unit of the load is released, whatever refers to what.
void unit_load_t::finish(bool success)
{
    if (!success)
    {
        m_roots.clear();
        m_written.clear();
        for (created_t& created : m_created)
            m_system->destroy_attributes(created.unit.get());
    }
    for (owner_ptr_t<unit_proxy_u>& proxy : m_proxies)
        proxy->clear_target();
    m_proxies.clear();
    for (created_t& created : m_created)
        created.unit->clear_state_flags(unit_state_loading_flags);
    m_created.clear();
    m_proxy_index.clear();
    m_current_unit = nullptr;
    m_current_proxy = nullptr;
    m_scanner.reset();
    m_mode = unit_load_mode_t::idle;
}

// ---- handing over the tree ---------------------------------------------------------------

void unit_load_t::say_second_tree() const
{
    const unit_t* first = m_roots[0].get();
    const unit_t* second = m_roots[1].get();
    const char* first_name = written_name_of(first);
    const char* second_name = written_name_of(second);
    uint32_t line = 0;
    for (const written_unit_t& written : m_written)
        if (written.unit == second)
            line = written.line;
    // The first root's owner attribute is where the second tree most likely belongs.
    const char* owner = nullptr;
    for (const unit_descriptor_t* t = first->get_descriptor(); t != nullptr && owner == nullptr;
         t = t->parent)
        for (const unit_attribute_t* a = t->attributes;
             a != nullptr && a->type != unit_attr_type_t::none && owner == nullptr; ++a)
            if (!a->is_obsolete() && is_of_kind(a, unit_attr_kind_t::owner))
                owner = a->name;
    const char* second_type = second->get_descriptor()->type_name;
    if (second_name == nullptr || first_name == nullptr)
        msg_error("[unit] A unit of type '%s' is owned by no unit of the tree of the first unit "
                  "of type '%s': every unit but one must be owned by another.",
                  second_type, first->get_descriptor()->type_name);
    else if (owner == nullptr)
        msg_error("[unit] The unit '%s' (of type '%s') at line %u is owned by no unit of the tree "
                  "of '%s': remove it, or give it an owner.",
                  second_name, second_type, line, first_name);
    else
        msg_error("[unit] The unit '%s' (of type '%s') at line %u is owned by no unit of the tree "
                  "of '%s': list it in '%s' of '%s', or remove it.",
                  second_name, second_type, line, first_name, owner, first_name);
}

owner_ptr_t<unit_t> unit_load_t::take_single_tree()
{
    if (m_roots.empty())
    {
        msg_error("[unit] There were no units in the file '%s'.", m_name.c_str());
        return owner_ptr_t<unit_t>();
    }
    if (m_roots.size() > 1)
    {
        msg_error("[unit] There are multiple unit trees in the file '%s'.", m_name.c_str());
        say_second_tree();
        m_roots.clear();
        return owner_ptr_t<unit_t>();
    }
    owner_ptr_t<unit_t> root = std::move(m_roots[0]);
    m_roots.clear();
    return root;
}

owner_ptr_t<unit_t> unit_load_t::load_typed_tree(const unit_descriptor_t* expected)
{
    owner_ptr_t<unit_t> root = take_single_tree();
    if (!root || root->is_proxy() || unit_descriptor_is_a(root->get_descriptor(), expected))
        return root;
    string_dyn_t root_name;
    unit_display_name(root.get(), &root_name);
    msg_error("[unit] The unit '%s' in file '%s' has type '%s', but the code expected '%s' type.",
              root_name.c_str(), m_location.c_str(), root->get_descriptor()->type_name,
              expected->type_name);
    return owner_ptr_t<unit_t>();
}
