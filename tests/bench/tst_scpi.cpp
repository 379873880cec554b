// SCPI parsing and the IEEE 488.2 behaviour of the engines.
#include "benchtestutil.h"

#include <gtest/gtest.h>

using namespace benchtest;
using namespace quarnel::bench::scpi;

TEST(Scpi, UnitsHeadersAndParameters)
{
    std::vector<ProgramUnit> units;
    int error = 0;
    size_t at = 0;
    ASSERT_TRUE(splitMessage("TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?", units, error, at));
    ASSERT_EQ(4u, units.size());
    EXPECT_EQ("TIM", units[0].nodes[0].mnemonic);
    EXPECT_EQ(std::vector<std::string>{"100e-3"}, units[0].params);
    EXPECT_EQ(3, units[2].nodes[0].suffix);
    EXPECT_TRUE(units[2].nodes[0].hasSuffix);
    EXPECT_TRUE(units[3].common && units[3].query);
    EXPECT_EQ("OPC", units[3].commonName);

    ASSERT_TRUE(splitMessage("trac? TRACE1, 20000", units, error, at));
    EXPECT_TRUE(units[0].query);
    EXPECT_EQ((std::vector<std::string>{"TRACE1", "20000"}), units[0].params);

    ASSERT_TRUE(splitMessage("SYST:DISP \"a;b, c\";:FORM REAL,32", units, error, at));
    ASSERT_EQ(2u, units.size());
    EXPECT_EQ("\"a;b, c\"", units[0].params[0]);
    EXPECT_TRUE(units[1].fromRoot);

    EXPECT_FALSE(splitMessage("*IDN?;CHAN1:RANG 1,,2", units, error, at));
    EXPECT_EQ(1u, units.size());
    EXPECT_EQ(1u, at);
    EXPECT_EQ(SyntaxError, error);
    EXPECT_FALSE(splitMessage("FOO \"open", units, error, at));
    EXPECT_FALSE(splitMessage("1ABC", units, error, at));
}

TEST(Scpi, PatternsShortLongOptionalSuffix)
{
    auto nodes = [](const std::string& text) {
        ProgramUnit u;
        EXPECT_EQ(0, parseUnit(text, u));
        return u.nodes;
    };
    std::vector<int> sfx;
    Pattern p("[SENSe:]FREQuency:CENTer");
    EXPECT_TRUE(p.match(nodes("FREQ:CENT 1"), sfx));
    EXPECT_TRUE(p.match(nodes("sense:frequency:center 1"), sfx));
    EXPECT_TRUE(p.match(nodes("Sens:Freq:Cent 1"), sfx));
    EXPECT_FALSE(p.match(nodes("FREQU:CENT 1"), sfx));  // neither short nor long
    EXPECT_FALSE(p.match(nodes("FREQ2:CENT 1"), sfx));  // no suffix allowed there
    Pattern q("TRIGger#:LEVel#[:VALue]");
    ASSERT_TRUE(q.match(nodes("TRIG1:LEV1 0.035"), sfx));
    EXPECT_EQ((std::vector<int>{1, 1}), sfx);
    ASSERT_TRUE(q.match(nodes("trigger2:level3:value 1"), sfx));
    EXPECT_EQ((std::vector<int>{2, 3}), sfx);
    ASSERT_TRUE(q.match(nodes("TRIG:LEV 1"), sfx));
    EXPECT_EQ((std::vector<int>{1, 1}), sfx);
    EXPECT_FALSE(q.match(nodes("TRIG:A:LEV1 1"), sfx));
}

TEST(Scpi, Numbers)
{
    double v;
    int special;
    const std::pair<const char*, double> good[] = {{"5.192e+09", 5.192e9}, {"100e-3", 0.1},  {"-0.6", -0.6},
                                                   {".5E3", 500},          {"50 MHz", 50e6}, {"20ms", 0.02}};
    for (const auto& g : good) {
        ASSERT_TRUE(parseNumber(g.first, v)) << g.first;
        EXPECT_DOUBLE_EQ(g.second, v) << g.first;
    }
    ASSERT_TRUE(parseNumber("MAX", v, &special));
    EXPECT_EQ(2, special);
    // MAX only where the caller allows it.
    for (const char* bad : {"MAX", "nan", "inf", "0x10", "1e999", "", "1.2.3"})
        EXPECT_FALSE(parseNumber(bad, v)) << bad;
    bool b;
    ASSERT_TRUE(parseBoolean("on", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(parseBoolean("0", b));
    EXPECT_FALSE(b);
    EXPECT_FALSE(parseBoolean("maybe", b));
}

TEST(Scpi, ErrorQueueAndCommonCommands)
{
    Core core{Options()};
    Talker t(core, Instrument::Oscilloscope);
    EXPECT_EQ("0,\"No error\"\n", t.ask("SYST:ERR?\n"));
    EXPECT_EQ("128\n", t.ask("*ESR?\n"));  // power-on
    // An unknown header queues -113 and ends the message: *OPC? stays unanswered.
    EXPECT_EQ("", t.ask("FOO:BAR 1;*OPC?\n"));
    // An execution error costs only its own unit.
    EXPECT_EQ("1\n", t.ask("CHAN1:POS 99;*OPC?\n"));
    EXPECT_EQ("-113,\"Undefined header;FOO:BAR 1\"\n", t.ask("SYST:ERR?\n"));
    EXPECT_EQ("-222,\"Data out of range;CHAN1:POS 99\"\n", t.ask("syst:err:next?\n"));
    EXPECT_EQ("0,\"No error\"\n", t.ask("SYST:ERR?\n"));
    EXPECT_EQ("48\n", t.ask("*ESR?\n"));  // CME + EXE
    EXPECT_EQ("0\n", t.ask("*ESR?\n"));
    // Several queries in one message answer in one reply.
    EXPECT_EQ("1;0,\"No error\";1\n", t.ask("*OPC?;SYST:ERR?;*OPC?\n"));
    // Compound headers resolve from the root and, failing that, below the
    // previous unit's path.
    EXPECT_EQ("1\n", t.ask("TIM:SCAL 0.2;REF 10;*OPC?\n"));
    EXPECT_EQ("10\n", t.ask("TIM:REF?\n"));
    // The queue is bounded; its last slot reports the overflow.
    for (int i = 0; i < 30; ++i)
        t.ask("NOPE\n");
    EXPECT_EQ("20\n", t.ask("SYST:ERR:COUN?\n"));
    t.ask("*CLS\n");
    EXPECT_EQ("0\n", t.ask("SYST:ERR:COUN?\n"));
    for (int i = 0; i < 30; ++i)
        t.ask("NOPE\n");
    for (int i = 0; i < 19; ++i)
        t.ask("SYST:ERR?\n");
    EXPECT_EQ("-350,\"Queue overflow\"\n", t.ask("SYST:ERR?\n"));
    // *RST restores the power-on settings.
    t.ask("ACQ:POIN 1234;FORM REAL,32\n");
    EXPECT_EQ("1234\n", t.ask("ACQ:POIN?\n"));
    t.ask("*RST\n");
    EXPECT_EQ("20000\n", t.ask("ACQ:POIN?\n"));
    EXPECT_EQ("ASC,0\n", t.ask("FORM?\n"));
    EXPECT_EQ("Tervane Bench,KLE Simulated Spectrum Analyzer,SIM0002,1.0\n",
              Talker(core, Instrument::SpectrumAnalyzer).ask("*IDN?\n"));
}

TEST(Scpi, MessagesEndAtLineFeedOrEnd)
{
    Core core{Options()};
    Talker t(core, Instrument::VideoAnalyzer);
    // Two messages in one write: each runs; the second's reply discards the
    // unread first one (query interrupted).
    std::string two = "*OPC?\nSYST:ERR:COUN?\n";
    core.feed(Instrument::VideoAnalyzer, t.link, two.data(), two.size(), true, Transport::Vxi11, 1, 1);
    ASSERT_TRUE(t.link.reply.data);
    EXPECT_EQ("1\n", *t.link.reply.data);
    t.link.reply.clear();
    EXPECT_EQ("-410,\"Query INTERRUPTED\"\n", t.ask("SYST:ERR?\n"));
    // A message split over writes without END waits for its terminator.
    std::string part = "*ID";
    core.feed(Instrument::VideoAnalyzer, t.link, part.data(), part.size(), false, Transport::Vxi11, 1, 1);
    EXPECT_FALSE(t.link.reply.active);
    EXPECT_EQ("Tervane Bench,Simulated Video Analyzer,SIM0003,1.0\n", t.ask("N?"));
    // The log holds every message exactly as received.
    auto log = core.logOf(Instrument::VideoAnalyzer);
    std::vector<std::string> texts;
    for (const auto& e : log)
        texts.push_back(e.text);
    EXPECT_EQ((std::vector<std::string>{"*OPC?\n", "SYST:ERR:COUN?\n", "SYST:ERR?\n", "*IDN?"}), texts);
    // An endless message is dropped with an input buffer overrun.
    std::string huge(kMaxProgramMessage + 10, 'A');
    core.feed(Instrument::VideoAnalyzer, t.link, huge.data(), huge.size(), false, Transport::Socket, 1, 0);
    EXPECT_TRUE(t.link.input.empty());
    t.ask("rest of it\n");  // still the overlong message: skipped
    EXPECT_EQ("-363,\"Input buffer overrun\"\n", t.ask("SYST:ERR?\n"));
}
