// Compiled by CTest once per case: case 0 must build, every other case must not.
#include "ovcore/message.h"

#include <cstddef>
#include <cstdint>

void format_check_cases(string_dyn_t* text, unsigned count, std::size_t size)
{
#if OV_CASE == 0
    msg_error("%s_%Iu.tga", text->c_str(), size);
    msg_info("%u %I64u %I64d", count, uint64_t(1), int64_t(-1));
#elif OV_CASE == 1
    msg_error("%s_%Iu.tga", text->c_str(), count);  // unsigned for %Iu
#elif OV_CASE == 2
    msg_error("%s_%Iu.tga", *text, size);  // a string object for %s
#elif OV_CASE == 3
    msg_error("%s_%Iu.tga", text->c_str());  // one argument too few
#elif OV_CASE == 4
    text->format("%I64u", count);  // 32 bits for a 64-bit conversion
#elif OV_CASE == 5
    text->append_formatted("%u", count, count);  // one argument too many
#endif
    (void)text;
    (void)count;
    (void)size;
}
