// The same binary block read through liblanvisa.so and through pyvisa with the
// pyvisa-py backend from the same bench acquisition gives the same values.
#include "visa.h"

#include "bench.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace b = quarnel::bench;

namespace {

constexpr ViUInt32 kTimeoutMs = 10000;

std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void queryOk(ViSession vi, const std::string &cmd)
{
    std::vector<char> buf(20000, 0);
    ASSERT_EQ(viQueryf(vi, cmd.c_str(), "%20000c", buf.data()), VI_SUCCESS) << cmd;
    ASSERT_STREQ(buf.data(), "1\n") << cmd;
}

/// The block's data bytes read through this library in one viRead.
std::string readBlock(ViSession vi, const char *cmd, size_t expected)
{
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(cmd), static_cast<ViUInt32>(strlen(cmd)), VI_NULL),
              VI_SUCCESS);
    std::vector<unsigned char> buf(expected + 64);
    ViUInt32 got = 0;
    EXPECT_GE(viRead(vi, buf.data(), static_cast<ViUInt32>(buf.size()), &got), VI_SUCCESS);
    const std::string reply(reinterpret_cast<char *>(buf.data()), got);
    if (reply.size() < 2 || reply[0] != '#')
        return std::string();
    const size_t digits = static_cast<size_t>(reply[1] - '0');
    const size_t length = std::strtoul(reply.substr(2, digits).c_str(), nullptr, 10);
    return reply.substr(2 + digits, length);
}

} // namespace

TEST(PyvisaComparison, SameBlockSameValues)
{
    b::Bench bench(b::testOptions());
    std::string error;
    ASSERT_TRUE(bench.start(&error)) << error;
    ViSession rm = VI_NULL, vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    const std::string instr = bench.resourceString(b::Instrument::Oscilloscope);
    ASSERT_EQ(viOpen(rm, instr.c_str(), VI_NO_LOCK, kTimeoutMs, &vi), VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs);
    constexpr size_t kPoints = 250000; // 1 MB: many 0x0A bytes inside the data
    queryOk(vi, "INIT:CONT OFF;*OPC?\n");
    queryOk(vi, "ACQ:POIN " + std::to_string(kPoints) + ";*OPC?\n");
    queryOk(vi, "FORM REAL,32;*OPC?\n");
    queryOk(vi, "*TRG;*OPC?\n");
    const std::string ours = readBlock(vi, "CHAN1:DATA?\n", kPoints * 4);
    ASSERT_EQ(ours.size(), kPoints * 4);

    for (const std::string &resource : {instr, bench.socketResourceString(b::Instrument::Oscilloscope)}) {
        const std::string out = ::testing::TempDir() + "lanvisa_pyvisa_" + std::to_string(::getpid()) + ".bin";
        const std::string cmdline = std::string(QUARNEL_PYTHON) + " " + QUARNEL_PYVISA_SCRIPT + " '" + resource +
                                    "' 'CHAN1:DATA?' '" + out + "'";
        const int rc = std::system(cmdline.c_str());
        ASSERT_EQ(rc, 0) << cmdline;
        const std::string theirs = readFile(out);
        ::unlink(out.c_str());
        ASSERT_EQ(theirs.size(), ours.size()) << resource;
        EXPECT_TRUE(theirs == ours) << "values differ through " << resource;
    }
    viClose(rm);
}
