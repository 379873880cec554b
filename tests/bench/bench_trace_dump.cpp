// Replays program messages on an in-process bench (no network) and prints the
// values of the last reply's binary block, one per line with 9 significant
// digits, so a test can compare them with what a client received.
//
//   bench_trace_dump SEED scope:"*TRG" scope:"FORM REAL,32" scope:"CHAN1:DATA?"
#include "core.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace quarnel::bench;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_trace_dump SEED INSTRUMENT:MESSAGE...\n");
        return 2;
    }
    Options options;
    options.seed = std::strtoull(argv[1], nullptr, 10);
    Core core(options);
    LinkState links[kInstrumentCount];
    std::string reply;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        size_t colon = arg.find(':');
        Instrument instrument;
        if (colon == std::string::npos || !parseInstrument(arg.substr(0, colon), instrument)) {
            std::fprintf(stderr, "bad argument %s\n", argv[i]);
            return 2;
        }
        std::string message = arg.substr(colon + 1) + "\n";
        LinkState& link = links[static_cast<int>(instrument)];
        core.feed(instrument, link, message.data(), message.size(), true, Transport::Vxi11, 1, 1);
        reply = link.reply.data ? *link.reply.data : std::string();
        link.reply.clear();
    }
    if (reply.size() < 3 || reply[0] != '#' || reply[1] < '1' || reply[1] > '9') {
        std::fputs(reply.c_str(), stdout);
        return 0;
    }
    size_t digits = static_cast<size_t>(reply[1] - '0');
    size_t length = std::strtoul(reply.substr(2, digits).c_str(), nullptr, 10);
    const unsigned char* d = reinterpret_cast<const unsigned char*>(reply.data()) + 2 + digits;
    for (size_t k = 0; k + 4 <= length; k += 4) {
        uint32_t bits = d[k] | (d[k + 1] << 8) | (d[k + 2] << 16) | (static_cast<uint32_t>(d[k + 3]) << 24);
        float v;
        std::memcpy(&v, &bits, 4);
        std::printf("%.9g\n", static_cast<double>(v));
    }
    return 0;
}
