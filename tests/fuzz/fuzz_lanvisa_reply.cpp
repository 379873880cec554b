// Client side of an instrument reply inside the LAN VISA library: the
// formatted read that turns reply bytes into the program's values (the
// program reads with "%20000c", "%lf" and "%d"; the other bounded
// conversions are reachable through viScanf), and the raw-socket scanner
// that finds where a reply ends without being fooled by binary blocks.
//
// Input: byte 0 picks the format, byte 1 the piece size the reply arrives
// in, the rest is the reply.
#include "formatio.h"
#include "terminatorscanner.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

ViStatus scan(lanvisa::ScanInput& in, const char* format, ...)
{
    lanvisa::VaArgs args;
    va_start(args.ap, format);
    const ViStatus st = lanvisa::formatScan(format, args, in);
    va_end(args.ap);
    return st;
}

// Reply bytes handed out in pieces, as reads would deliver them.
lanvisa::ScanInput::Refill pieces(const uint8_t* data, size_t size, size_t piece, size_t* at)
{
    return [=](std::vector<uint8_t>& out, bool& ended) {
        const size_t n = std::min(piece, size - *at);
        out.insert(out.end(), data + *at, data + *at + n);
        *at += n;
        ended = *at >= size;
        return ViStatus(VI_SUCCESS);
    };
}

void checkScanner(const uint8_t* data, size_t size, size_t piece)
{
    lanvisa::TerminatorScanner s;
    size_t at = 0;
    while (at < size) {
        const size_t n = std::min(piece, size - at);
        const lanvisa::TerminatorScanner::Result r = s.scan(data + at, n, '\n');
        if (r.consumed > n || (r.consumed < n && !r.terminated))
            std::abort();  // must take the whole piece unless a message ended in it
        if (r.terminated && data[at + r.consumed - 1] != '\n')
            std::abort();
        at += r.consumed == 0 ? n : r.consumed;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t which = data[0];
    const size_t piece = 1 + data[1] % 64;
    data += 2;
    size -= 2;
    checkScanner(data, size, piece);

    size_t at = 0;
    lanvisa::ScanInput in(pieces(data, size, piece, &at));
    static char text[20001];
    char word[100];
    char small[8];
    double d = 0;
    float f = 0;
    int i = 0, j = 0, k = 0;
    long l = 0;
    short h = 0;
    switch (which % 14) {
    case 0:
        scan(in, "%20000c", text);
        break;
    case 1:
        scan(in, "%lf", &d);
        break;
    case 2:
        scan(in, "%d", &i);
        break;
    case 3:
        scan(in, "%ld", &l);
        break;
    case 4:
        scan(in, "%hd", &h);
        break;
    case 5:
        scan(in, "%f", &f);
        break;
    case 6:
        scan(in, "%99s", word);
        break;
    case 7:
        scan(in, "%*d,%lf", &d);
        break;
    case 8:
        scan(in, "%d,%d,%d", &i, &j, &k);
        break;
    case 9: {
        int n = int(sizeof small);
        scan(in, "%#s", &n, small);
        if (n < 0 || n > int(sizeof small))
            std::abort();
        break;
    }
    case 10:
        scan(in, "%e%g", &f, &f);
        break;
    case 11:
        scan(in, "%5c%lf", small, &d);
        break;
    case 12:
        scan(in, "%x", &i);
        break;
    default:
        scan(in, "%i", &i);
        break;
    }
    in.drain();
    return 0;
}
