// The instruments and the physical model in-process: the program's command
// sequences, traces, delays, faults. (That a seed gives the same traces in
// another process, the pyvisa test shows.)
#include "benchtestutil.h"

#include "block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace benchtest;

namespace {

struct Rig
{
    Core core;
    Talker scope, sa, va;
    explicit Rig(Options o = Options())
        : core(std::move(o)), scope(core, Instrument::Oscilloscope), sa(core, Instrument::SpectrumAnalyzer),
          va(core, Instrument::VideoAnalyzer)
    {
    }

    void expectAccepted(Talker& t, const std::vector<std::string>& sequence)
    {
        for (const std::string& cmd : sequence) {
            std::string reply = t.ask(cmd);
            if (cmd.find("?") != std::string::npos) {
                ASSERT_GE(reply.size(), 2u) << cmd;
            }
            if (cmd.find("*OPC?") != std::string::npos) {
                EXPECT_EQ("1\n", reply.substr(reply.size() - 2)) << cmd;
            }
        }
        EXPECT_EQ("0,\"No error\"\n", t.ask("SYST:ERR?\n"));
    }

    void setUp(int family, bool ifDemod)
    {
        expectAccepted(scope, scopeSetup(family, ifDemod));
        expectAccepted(sa, analyzerSetup(family == 0));
        expectAccepted(va, videoSetup());
    }

    /// One pass as the program runs it; returns d1, d2 (raw), d3.
    void pass(int family, bool ifDemod, std::vector<float>& d1, std::vector<float>& d2, std::vector<float>& d3)
    {
        EXPECT_EQ("1\n", sa.ask("INIT:CONT OFF;*OPC?\n"));
        if (family == 0) {
            EXPECT_EQ("1\n", scope.ask("INIT:CONT OFF;*OPC?\n"));
            EXPECT_EQ("1\n", scope.ask("*TRG;*OPC?\n"));
            EXPECT_EQ("1\n", scope.ask("FORM REAL,32;*OPC?\n"));
        } else {
            EXPECT_EQ("1\n", scope.ask("SING;*OPC?\n"));
            EXPECT_EQ("1\n", scope.ask("FORM REAL,32;*OPC?\n"));
            EXPECT_EQ("1\n", scope.ask("*TRG;*OPC?\n"));
        }
        ASSERT_TRUE(decodeBlock(scope.ask("CHAN1:DATA?\n"), d1));
        const std::string pts = std::to_string(d1.size());
        if (family != 0) {
            EXPECT_EQ("1\n", sa.ask("SWE:POIN " + pts + ";*OPC?\n"));
        }
        if (ifDemod) {
            ASSERT_TRUE(decodeBlock(scope.ask("CHAN3:DATA?\n"), d2));
        } else {
            EXPECT_EQ("1\n", sa.ask("FORM REAL,32;*OPC?\n"));
            ASSERT_TRUE(decodeBlock(sa.ask("TRAC? TRACE1, " + pts + "\n"), d2));
        }
        ASSERT_TRUE(decodeBlock(scope.ask("CHAN2:DATA?\n"), d3));
    }
};

GroundTruth last(Core& core)
{
    auto all = core.truth();
    return all.empty() ? GroundTruth() : all.back();
}

}  // namespace

TEST(BenchModel, DelaysFollowTheirDistribution)
{
    Options o;
    o.sourceToSink = DelayDistribution{120.0, 10.0};
    o.scopePoints = 100;
    Rig rig(o);
    double sum = 0, sumSq = 0, mn = 1e9, mx = -1e9;
    const int n = 400;
    for (int i = 0; i < n; ++i) {
        rig.scope.ask("*TRG\n");
        double v = last(rig.core).sourceToSinkMs;
        sum += v;
        sumSq += v * v;
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    double mean = sum / n, sd = std::sqrt(sumSq / n - mean * mean);
    EXPECT_NEAR(120.0, mean, 2.0);
    EXPECT_NEAR(10.0, sd, 1.5);
    EXPECT_GE(mn, 90.0 - 1e-9);  // clipped at three standard deviations
    EXPECT_LE(mx, 150.0 + 1e-9);
}

TEST(BenchModel, AsciiAndRealFormatsCarryTheSameValues)
{
    Rig rig;
    rig.scope.ask("ACQ:POIN 1000;*TRG\n");
    std::vector<float> real;
    rig.scope.ask("FORM REAL,32\n");
    ASSERT_TRUE(decodeBlock(rig.scope.ask("CHAN1:DATA?\n"), real));
    rig.scope.ask("FORM ASC\n");
    std::string text = rig.scope.ask("CHAN1:DATA?\n");
    ASSERT_EQ('\n', text.back());
    std::stringstream ss(text);
    std::string item;
    size_t i = 0;
    while (std::getline(ss, item, ',')) {
        ASSERT_LT(i, real.size());
        EXPECT_NEAR(real[i], std::stod(item), 1e-6 * std::max(1.0f, std::fabs(real[i])));
        ++i;
    }
    EXPECT_EQ(real.size(), i);
}

TEST(BenchModel, ReadingATraceAgainGivesTheSameBytes)
{
    Rig rig;
    rig.scope.ask("ACQ:POIN 1001;FORM REAL,32;*TRG\n");
    const std::string first = rig.scope.ask("CHAN1:DATA?\n");
    EXPECT_EQ(first, rig.scope.ask("CHAN1:DATA?\n"));
    EXPECT_NE(first, rig.scope.ask("CHAN2:DATA?\n"));
    // Joined with another query the block loses its own terminator.
    EXPECT_EQ(first.substr(0, first.size() - 1) + ";1\n", rig.scope.ask("CHAN1:DATA?;*OPC?\n"));

    // The other byte order carries the same values, byte-swapped.
    rig.scope.ask("FORM:BORD MSBF\n");
    std::string swapped = rig.scope.ask("CHAN1:DATA?\n");
    ASSERT_EQ(first.size(), swapped.size());
    for (size_t i = 6; i + 4 < first.size(); i += 4)
        for (size_t b = 0; b < 4; ++b)
            ASSERT_EQ(first[i + b], swapped[i + 3 - b]) << i;
    rig.scope.ask("FORM:BORD LSBF\n");
    EXPECT_EQ(first, rig.scope.ask("CHAN1:DATA?\n"));

    // Text export of the same acquisition, then a new acquisition.
    rig.scope.ask("FORM ASC\n");
    const std::string text = rig.scope.ask("CHAN1:DATA?\n");
    EXPECT_EQ(text, rig.scope.ask("CHAN1:DATA?\n"));
    rig.scope.ask("FORM REAL,32;*TRG\n");
    EXPECT_NE(first, rig.scope.ask("CHAN1:DATA?\n"));
    EXPECT_EQ(2u, rig.core.truth().size());

    // A scripted reply used again and again arrives whole every time.
    Fault reply;
    reply.kind = FaultKind::ReplaceReply;
    reply.match = "CHAN4:DATA?";
    reply.count = 0;
    reply.text = first;
    rig.core.faults.add(reply);
    EXPECT_EQ(first, rig.scope.ask("CHAN4:DATA?\n"));
    EXPECT_EQ(first, rig.scope.ask("CHAN4:DATA?\n"));
}

TEST(BenchModel, AnalyzerSweepsOnlyWhenArmed)
{
    Rig rig;
    rig.setUp(0, false);
    rig.sa.ask("INIT:CONT OFF;*OPC?\n");
    rig.scope.ask("*TRG\n");
    EXPECT_TRUE(last(rig.core).analyzerSwept);
    rig.scope.ask("*TRG\n");  // single sweep already taken
    EXPECT_FALSE(last(rig.core).analyzerSwept);
    rig.sa.ask("INIT:CONT ON\n");
    rig.scope.ask("*TRG\n");
    EXPECT_TRUE(last(rig.core).analyzerSwept);
    EXPECT_DOUBLE_EQ(-0.6, last(rig.core).sweepStart);
}

TEST(BenchModel, AnalyzerTunedAwayShowsNoLink)
{
    Rig rig;
    rig.setUp(1, false);
    rig.sa.ask("FREQ:CENT 2.4e9\n");
    std::vector<float> d1, d2, d3;
    rig.pass(1, false, d1, d2, d3);
    float mx = *std::max_element(d2.begin(), d2.end());
    EXPECT_LT(mx, -60.0f);
}

TEST(BenchModel, ModelFaults)
{
    Options o;
    Fault start;
    start.kind = FaultKind::StartLevelOutside;
    start.count = 2;
    start.level = 0.4;
    Fault flat;
    flat.kind = FaultKind::FlatRf;
    flat.skip = 2;
    Fault noSink;
    noSink.kind = FaultKind::NoSinkEdge;
    noSink.skip = 3;
    Fault video;
    video.kind = FaultKind::VideoStatusZero;
    video.instrument = Instrument::VideoAnalyzer;
    video.skip = 4;
    o.faults = {start, flat, noSink, video};
    Rig rig(o);
    rig.setUp(0, false);
    std::vector<float> d1, d2, d3;
    for (int i = 1; i <= 5; ++i) {
        rig.pass(0, false, d1, d2, d3);
        GroundTruth g = last(rig.core);
        bool outside = !(d1[0] > -0.05 && d1[0] < 0.3);
        EXPECT_EQ(i <= 2, outside) << i;
        bool isFlat = std::all_of(d2.begin(), d2.end(), [&](float v) { return v == d2[0]; });
        EXPECT_EQ(i == 3, isFlat) << i;
        EXPECT_EQ(i == 3, g.flatRf);
        bool sink = std::any_of(d3.begin(), d3.end(), [](float v) { return v >= 0.06f; });
        EXPECT_EQ(i != 4, sink) << i;
        EXPECT_EQ(i == 5 ? "0\n" : "1\n", rig.va.ask("READ:AVDA:TTV:STAT?\n")) << i;
    }
    // Channel 3 is flat too while the fault applies.
    Fault flat3;
    flat3.kind = FaultKind::FlatRf;
    rig.core.faults.add(flat3);
    rig.scope.ask("INIT:CONT OFF;*TRG\n");
    ASSERT_EQ(6u, rig.core.truth().size());
    ASSERT_TRUE(decodeBlock(rig.scope.ask("CHAN3:DATA?\n"), d2));
    EXPECT_TRUE(std::all_of(d2.begin(), d2.end(), [&](float v) { return v == d2[0]; }));
}

TEST(BenchModel, VideoThresholdOutsideThePictureChangeMeasuresNothing)
{
    Rig rig;
    rig.va.ask("CONF:AVDA:TTV:APL:THR 95;INIT:AVDA\n");
    rig.scope.ask("*TRG\n");
    EXPECT_EQ("0\n", rig.va.ask("READ:AVDA:TTV:STAT?\n"));
    EXPECT_EQ("0\n", rig.va.ask("READ:AVDA:TTV:COUN?\n"));
}

TEST(BenchFaults, MessageFaultsOnTheEngines)
{
    Rig rig;
    Fault noReply;
    noReply.match = "*trg";
    rig.core.faults.add(noReply);
    EXPECT_EQ("", rig.scope.ask("*TRG;*OPC?\n"));
    EXPECT_TRUE(rig.core.truth().empty());            // not executed
    EXPECT_EQ("1\n", rig.scope.ask("*TRG;*OPC?\n"));  // count 1: only the first

    Fault error;
    error.kind = FaultKind::CommandError;
    error.match = "FREQ:CENT";
    error.instrument = Instrument::SpectrumAnalyzer;
    rig.core.faults.add(error);
    EXPECT_EQ("", rig.sa.ask("FREQ:CENT 1e9;*OPC?\n"));
    EXPECT_EQ(5.192e9, rig.core.analyzer->state().centre);
    EXPECT_EQ("-200,\"Execution error;scripted\"\n", rig.sa.ask("SYST:ERR?\n"));

    Fault reply;
    reply.kind = FaultKind::ReplaceReply;
    reply.instrument = Instrument::VideoAnalyzer;
    reply.match = "STAT?";
    reply.text = "7\n";
    rig.core.faults.add(reply);
    EXPECT_EQ("7\n", rig.va.ask("READ:AVDA:TTV:STAT?\n"));

    Fault slow;
    slow.kind = FaultKind::SlowReply;
    slow.delayMs = 500;
    rig.core.faults.add(slow);
    rig.scope.ask("*OPC?\n");
    // ask() takes the text regardless; the reply's time is what the servers honour.
    Fault block;
    block.kind = FaultKind::MalformedBlock;
    block.match = "CHAN2:DATA?";
    block.block = BlockFault::NoHash;
    block.skip = 1;
    rig.core.faults.add(block);
    rig.scope.ask("FORM REAL,32\n");
    EXPECT_EQ('#', rig.scope.ask("CHAN1:DATA?\n")[0]);
    EXPECT_EQ('#', rig.scope.ask("CHAN2:DATA?\n")[0]);  // skipped once
    EXPECT_NE('#', rig.scope.ask("CHAN2:DATA?\n")[0]);
    EXPECT_EQ('#', rig.scope.ask("CHAN2:DATA?\n")[0]);
}

TEST(BenchFaults, SyntaxOfTheCommandLine)
{
    Fault f;
    std::string error;
    ASSERT_TRUE(parseFault("scope:drop:after=100:match=CHAN1:DATA?", f, &error)) << error;
    EXPECT_EQ(FaultKind::DropConnection, f.kind);
    EXPECT_EQ(100, f.afterBytes);
    EXPECT_EQ("CHAN1:DATA?", f.match);
    ASSERT_TRUE(parseFault("sa:block:block=far:skip=2:count=0:match=TRAC? TRACE1, 20000", f, &error));
    EXPECT_EQ(BlockFault::LengthFarBeyond, f.block);
    EXPECT_EQ(Instrument::SpectrumAnalyzer, f.instrument);
    EXPECT_EQ("TRAC? TRACE1, 20000", f.match);
    EXPECT_EQ(2, f.skip);
    EXPECT_EQ(0, f.count);
    ASSERT_TRUE(parseFault("va:reply:text=0\\n:match=STAT?", f, &error));
    EXPECT_EQ("0\n", f.text);
    ASSERT_TRUE(parseFault("scope:startlevel:count=3:level=-0.2", f, &error));
    EXPECT_DOUBLE_EQ(-0.2, f.level);
    for (const char* bad :
         {"scope", "printer:noreply", "scope:explode", "scope:slow:delay=soon", "scope:block:block=odd"})
        EXPECT_FALSE(parseFault(bad, f, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("odd"));
}
