// The fatal stop for copying an element type that may not be copied.
#include "ovcore/collections/traits/trait_copy.h"

#include "ovcore/fatal.h"

void fatal_uncopyable_object(const char* function)
{
    fatal_error("Attempt to copy an uncopyable object.", __FILE__, __LINE__, function);
}
