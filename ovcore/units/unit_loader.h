// Loading unit files into trees of units: reading the file whole, recognising its form
// (scrambled container, binary, text), parsing unit blocks, naming units through proxies,
// @include files, the post-load passes, and handing the root to the caller.
//
// Sections: name proxies; binary dispatch; the load.
//
// A load runs on one thread; text loads keep their scanner inside the load, so several loads
// may exist, but the unit system they create units in is used by one thread at a time.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/ufs/fs_types.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_reader_load.h"
#include "ovcore/units/unit_text_scanner.h"
#include "ovcore/units/unit_value_loader.h"

#include <cstddef>
#include <cstdint>

class file_t;
class unit_load_t;
class unit_system_t;

// ---- name proxies ------------------------------------------------------------------------

// Stands for a unit name during one load: it carries the name until the unit defined under it
// exists and the load ends. References to a name not yet resolved hold the proxy itself.
class unit_proxy_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;

    explicit unit_proxy_u(unit_system_t* system);

    // Drops the reference to the target before the base release.
    void on_release() override;
    const unit_descriptor_t* get_descriptor() const override;
    bool accepts_unknown_attributes() const override { return false; }

    // The unit defined under the name, or null while the name is only referenced.
    unit_t* target() const { return m_target.get(); }
    // Holds a reference to `target`, which is the created unit of index `created_index`.
    void set_target(unit_t* target, uint32_t created_index);
    uint32_t target_index() const { return m_target_index; }
    void clear_target() { m_target.reset(); }

    // The name as the file gave it (file-local names with their "_nameless" prefix).
    const string_dyn_t& name() const { return m_name; }
    string_dyn_t& name() { return m_name; }
    // The load that made the proxy.
    const unit_load_t* load() const { return m_load; }
    void set_load(const unit_load_t* load) { m_load = load; }
    // Whether an owner attribute of the file has claimed the name.
    bool is_claimed() const { return m_claimed; }
    void set_claimed() { m_claimed = true; }

private:
    owner_ptr_t<unit_t> m_target;
    uint32_t m_target_index = 0;
    string_dyn_t m_name;
    const unit_load_t* m_load = nullptr;
    bool m_claimed = false;
};

// ---- binary dispatch ---------------------------------------------------------------------

// Reads the binary form (`size` bytes of `data`, the whole file, magic included) into the load,
// wrapping it in a read-only memory stream named `location` on the device type `realm`, creating
// and naming units with begin_unit and filling them through load_attribute_value. False after a
// message.
using unit_binary_reader_t = bool (*)(unit_reader_load_t* load, const char* data, uint32_t size,
                                      const char* location, fs_device_type_t realm);
// The binary form's reader; null while this build has none, and binary files then fail.
extern unit_binary_reader_t g_unit_binary_reader;

// ---- the load ----------------------------------------------------------------------------

enum class unit_load_mode_t : uint32_t
{
    idle = 0,
    text = 1,
    binary = 2,
};

// The load is what the two readers and the value loaders fill units through; only it sees the
// name proxies, the created units and the scanner.
class unit_load_t : private unit_include_handler_t,
                    private unit_reader_load_t,
                    private unit_value_load_t
{
public:
    // Units are created in `system` (null: every load fails). `file` stays with the caller and
    // must outlive the load; `name` names the file in messages (null: the file's location).
    unit_load_t(unit_system_t* system, file_t* file, const char* name);
    ~unit_load_t() override;
    unit_load_t(const unit_load_t&) = delete;
    unit_load_t& operator=(const unit_load_t&) = delete;

    // Reads the whole file and loads its units. True when the root list holds the file's roots;
    // on failure every unit the load created is released and the root list is empty.
    [[nodiscard]] bool load_units();
    // Loads from the file's contents in memory. `path` resolves includes on the device of type
    // `realm` (UNKNOWNFS: no includes); `name` names it in messages.
    [[nodiscard]] bool load_units_from_memory(const char* data, uint32_t size, const char* path,
                                              fs_device_type_t realm, const char* name);

    // The only root, moved to the caller; null after "[unit] There were no units in the file
    // '%s'." or "[unit] There are multiple unit trees in the file '%s'." (roots released).
    [[nodiscard]] owner_ptr_t<unit_t> take_single_tree();
    // The single tree, checked to be of the type `expected` or derived from it; null after a
    // message (the root is released). The caller owns what it gets.
    [[nodiscard]] owner_ptr_t<unit_t> load_typed_tree(const unit_descriptor_t* expected);

    const array_t<owner_ptr_t<unit_t>>& roots() const { return m_roots; }
    // A unit the last successful load named: the name as its file writes it (a file-local one
    // without the prefix the load gives it) and the line its block starts on (0 in binary).
    struct written_unit_t
    {
        const unit_t* unit;
        string_dyn_t name;
        uint32_t line;
    };
    const array_t<written_unit_t>& written_units() const { return m_written; }
    unit_load_mode_t mode() const { return m_mode; }
    const char* location() const { return m_location.c_str(); }
    fs_device_type_t realm() const { return m_realm; }

private:
    struct created_t
    {
        owner_ptr_t<unit_t> unit;
        unit_proxy_u* proxy = nullptr;  // the proxy that names it
        uint32_t line = 0;              // where its block starts, in text
    };
    struct proxy_of_t
    {
        const unit_t* unit;
        const unit_proxy_u* proxy;
    };

    // What the readers ask of the load.
    [[nodiscard]] unit_t* begin_unit(const char* type_name, const char* name) override;
    [[nodiscard]] bool load_attribute_value(unit_value_reader_t* reader, unit_t* unit,
                                            const unit_attribute_t* attribute,
                                            size_t index) override;
    void report_location() const override;
    // A name of the file that found no memory; reports it and returns false.
    bool report_no_memory_for_name(const char* written) const;
    void get_unit_display_name(const unit_t* unit, string_t* name) const override;

    // What the value loaders ask of the load.
    [[nodiscard]] bool find_reference(const char* written, string_dyn_t* name,
                                      unit_t** unit) override;
    [[nodiscard]] bool is_own_proxy(const unit_t* unit) const override;
    [[nodiscard]] unit_proxy_u* obtain_proxy(const string_dyn_t& name) override;
    [[nodiscard]] bool claim_proxy(unit_t* proxy) override;
    [[nodiscard]] unit_read_value_t* scratch_value() override { return &m_value; }

    [[nodiscard]] bool load_buffer(array_dyn_t<char>* buffer);
    [[nodiscard]] bool load_text(const char* text, uint32_t size);
    [[nodiscard]] bool run_post_load_passes();
    [[nodiscard]] bool resolve_names_and_links();
    [[nodiscard]] bool resolve_owners(array_dyn_t<uint32_t>* parents);
    [[nodiscard]] bool collect_roots(const array_t<uint32_t>& parents);
    [[nodiscard]] bool run_post_load_hooks();
    [[nodiscard]] bool keep_written_names();
    // The name of a unit of the last load as written, or null.
    const char* written_name_of(const unit_t* unit) const;
    void say_second_tree() const;
    [[nodiscard]] bool redirect_link(unit_t* unit, const unit_attribute_t* attribute,
                                     link_ptr_t<unit_t>* link);
    [[nodiscard]] bool redirect_owner(uint32_t referring, const unit_attribute_t* attribute,
                                      owner_ptr_t<unit_t>* owner,
                                      array_dyn_t<uint32_t>* parents);
    void report_dangling(const unit_t* unit, const unit_proxy_u* proxy,
                         const unit_attribute_t* attribute);
    [[nodiscard]] bool check_resolved(const unit_t* unit, const unit_attribute_t* attribute,
                                      unit_attr_type_t element,
                                      const unit_proxy_u* proxy) const;
    void finish(bool success);
    const unit_proxy_u* proxy_of(const unit_t* unit) const;
    [[nodiscard]] bool name_unit(unit_t* unit, uint32_t created_index, const char* written);

    bool read_include(const unit_text_scanner_t& scanner, const char* path,
                      unit_include_text_t* file) override;

    unit_system_t* m_system;
    file_t* m_file;
    string_dyn_t m_name;      // the file's name in messages
    string_dyn_t m_location;  // the file's path, or its mount path on UFS
    fs_device_type_t m_realm = UNKNOWNFS;
    unit_load_mode_t m_mode = unit_load_mode_t::idle;
    auto_ptr_t<unit_text_scanner_t> m_scanner;
    array_dyn_t<created_t> m_created;
    array_dyn_t<owner_ptr_t<unit_proxy_u>> m_proxies;
    array_dyn_t<owner_ptr_t<unit_t>> m_roots;
    array_dyn_t<written_unit_t> m_written;
    unit_t* m_current_unit = nullptr;
    unit_proxy_u* m_current_proxy = nullptr;
    mutable array_dyn_t<proxy_of_t> m_proxy_index;  // created units by address, built on demand
    unit_read_value_t m_value;
};
