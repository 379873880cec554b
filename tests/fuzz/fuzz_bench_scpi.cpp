// Feeds arbitrary bytes to the bench's SCPI parser and to all three
// instrument engines, as a client on the network could. The first byte picks
// the instrument, the rest is the program message stream.
#include "core.h"
#include "scpi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace quarnel::bench;

static bool mentionsRecordLength(const std::string& s)
{
    // Commanded record lengths of millions of points are legal and only cost
    // time; keep each run short.
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if ((s[i] | 0x20) == 'p' && (s[i + 1] | 0x20) == 'o' && (s[i + 2] | 0x20) == 'i' && (s[i + 3] | 0x20) == 'n')
            return true;
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<scpi::ProgramUnit> units;
    int error = 0;
    size_t at = 0;
    scpi::splitMessage(text, units, error, at);
    for (const scpi::ProgramUnit& u : units)
        for (const std::string& p : u.params) {
            double v;
            int special;
            bool b;
            scpi::parseNumber(p, v, &special);
            scpi::parseBoolean(p, b);
        }

    if (mentionsRecordLength(text))
        return 0;
    static Options options = [] {
        Options o;
        o.scopePoints = 64;
        return o;
    }();
    Core core(options);
    Instrument instrument = static_cast<Instrument>(data[0] % kInstrumentCount);
    LinkState link;
    core.feed(instrument, link, text.data(), text.size(), (data[0] & 0x80) != 0, Transport::Socket, 1, 0);
    return 0;
}
