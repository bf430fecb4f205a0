// Fuzz target: any bytes as a unit file, loaded from memory into the test unit types, the tree
// taken and everything released again.
#include "ovcore/core.h"
#include "ovcore/message.h"
#include "ovcore/units/unit_loader.h"
#include "tests/ovcore/units/unit_test_types.h"

#include <cstddef>
#include <cstdint>

namespace
{

// The core and one unit system live for the whole run; messages reach no handler.
unit_system_t* start_once()
{
    core_startup();
    unregister_message_handler(g_console_message_handler);
    unit_bank_t* bank = new unit_bank_t;
    if (!unit_test_types::register_all(bank))
        __builtin_trap();
    return new unit_system_t(bank);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unit_system_t* const system = start_once();
    if (size > UINT32_MAX - 2)
        return 0;
    {
        unit_load_t load(system, nullptr, "fuzz.qsd");
        if (load.load_units_from_memory(reinterpret_cast<const char*>(data), uint32_t(size),
                                        "fuzz/fuzz.qsd", UNKNOWNFS, "fuzz.qsd"))
        {
            owner_ptr_t<unit_t> root = load.take_single_tree();
        }
    }
    unit_flush_pending_releases();
    return 0;
}
