// The resource-name parser on arbitrary text; an accepted name must survive
// a round trip through its canonical form.
#include "rsrcname.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    lanvisa::ResourceName name;
    if (!lanvisa::parseResourceName(reinterpret_cast<const char*>(data), size, name))
        return 0;
    const std::string canonical = name.canonical();
    lanvisa::ResourceName again;
    if (!lanvisa::parseResourceName(canonical.data(), canonical.size(), again) || again.canonical() != canonical)
        std::abort();
    return 0;
}
