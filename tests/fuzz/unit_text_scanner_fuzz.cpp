// Fuzz target: the text scanner with included files. The input's first byte chooses the order
// of contexts asked for; the rest is split at lines "@@" into the top file and the files
// "1.qsd", "2.qsd", ... that @include lines can name.
#include "ovcore/core.h"
#include "ovcore/message.h"
#include "ovcore/units/unit_text_scanner.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

class memory_includes_t final : public unit_include_handler_t
{
public:
    std::vector<std::string> files;

    bool read_include(const unit_text_scanner_t&, const char* path,
                      unit_include_text_t* file) override
    {
        const std::string name(path);
        for (size_t i = 1; i < files.size(); ++i)
        {
            if (name != std::to_string(i) + ".qsd")
                continue;
            if (!file->text.resize(uint32_t(files[i].size()) + 2))
                return false;
            for (size_t c = 0; c < files[i].size(); ++c)
                file->text[uint32_t(c)] = files[i][c];
            return file->path.assign(path) && file->display_name.assign(path);
        }
        return false;
    }
};

bool scan_one(unit_text_scanner_t* s, uint32_t context)
{
    string_dyn_t text;
    unit_attribute_suffix_t suffix;
    unit_enum_lexeme_t lexeme;
    int64_t s64;
    uint64_t u64;
    bool b;
    float f[4];
    int32_t i[4];
    switch (context % 22)
    {
    case 0: return s->scan_open_bracket();
    case 1: return s->scan_close_bracket();
    case 2: return s->scan_colon();
    case 3: return s->scan_unit_type(&text) != unit_scan_result_t::error;
    case 4: return s->scan_attribute_name(&text) != unit_scan_result_t::error;
    case 5: return s->scan_unit_name(&text);
    case 6: return s->scan_attribute_suffix(&suffix);
    case 7: return s->scan_string(&text);
    case 8: return s->scan_signed(&s64);
    case 9: return s->scan_unsigned(&u64);
    case 10: return s->scan_boolean(&b);
    case 11: return s->scan_real(f);
    case 12: return s->scan_vector(2 + context % 3, f);
    case 13: return s->scan_quaternion(f);
    case 14: return s->scan_fixed(i);
    case 15: return s->scan_fixed_vector(2 + context % 3, i);
    case 16: return s->scan_int_vector2(i);
    case 17: return s->scan_enum(&lexeme);
    case 18: return s->scan_unknown_value(&text);
    case 19: return s->scan_file_magic();
    case 20: return s->scan_end_of_file();
    default: return s->scan_attribute_name(&text) == unit_scan_result_t::token;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = [] {
        core_startup();
        unregister_message_handler(g_console_message_handler);
        return true;
    }();
    (void)started;
    if (size < 1)
        return 0;
    memory_includes_t includes;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t start = 0;
    for (;;)
    {
        const size_t split = input.find("\n@@\n", start);
        includes.files.push_back(input.substr(start, split - start));
        if (split == std::string::npos)
            break;
        start = split + 4;
    }
    std::string top = includes.files[0];
    top.append(2, '\0');
    unit_text_scanner_t scanner(&includes);
    if (!scanner.begin(top.data(), uint32_t(top.size() - 2), "top.qsd", "top.qsd"))
        return 0;
    // A fixed pseudo-random order of contexts, chosen by the first byte.
    uint32_t state = data[0] * 2654435761u + 1;
    for (int step = 0; step < 256; ++step)
    {
        state = state * 1103515245u + 12345u;
        if (!scan_one(&scanner, state >> 16))
            break;
    }
    return 0;
}
