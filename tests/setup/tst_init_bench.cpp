// End to end: the three Init buttons of a real MainWindow through our LAN
// VISA library against the simulated bench: what the instruments receive,
// whether they are returned to local control, what the buttons show; and
// the settings the set-ups leave in the instruments, read back from the
// bench, which parses the commands on its own.
// The failure rules are the sequence test's and the fault matrix's.
#include "bench.h"
#include "core.h"
#include "mainwindow.h"
#include "sequence.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace quarnel::bench;

Q_DECLARE_METATYPE(Instrument)

class TstInitBench : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> bench;
    MainWindow* w = nullptr;

    template <typename T>
    T* child(const char* name)
    {
        return testsupport::child<T>(w, name);
    }

    void setResources(const QString& os, const QString& sa, const QString& va)
    {
        child<QLineEdit>("OsIp")->setText(os);
        child<QLineEdit>("SaIp")->setText(sa);
        child<QLineEdit>("VaIp")->setText(va);
    }
    QString rsrc(Instrument i) { return QString::fromStdString(bench->resourceString(i)); }

    void press()
    {
        QFETCH(Instrument, inst);
        QFETCH(int, osTyp);
        QFETCH(QStringList, ticked);
        QFETCH(QString, idn);
        QFETCH(int, sent);
        const char* button = inst == Instrument::Oscilloscope       ? "OsInit"
                             : inst == Instrument::SpectrumAnalyzer ? "SaInit"
                                                                    : "VaInit";
        const QString reset = QString(button).left(2) + "Rst";
        child<QComboBox>("OsTyp")->setCurrentIndex(osTyp);
        for (const char* box : {"OsRst", "SaRst", "SaIfDem", "VaRst"})
            child<QCheckBox>(box)->setChecked(ticked.contains(box));
        child<QLineEdit>("OsTrgLvl")->setText(osTyp ? "-12.5e-3" : "35e-3");
        child<QLineEdit>("SaFrq")->setText(osTyp ? "2.412345678e9" : "5.192e9");
        child<QLineEdit>("VaThres")->setText("35.0");
        bench->clearFaults();
        child<QPushButton>(button)->click();  // a Ready to lose
        if (!idn.isEmpty()) {
            Fault f;
            f.instrument = inst;
            f.kind = FaultKind::ReplaceReply;
            f.match = "*IDN?";
            f.text = idn.toStdString();
            bench->addFault(f);
        }
        bench->clearLog();

        child<QPushButton>(button)->click();
        const QStringList messages = testsupport::toQt(bench->messages(inst));
        QCOMPARE(messages.size(), sent);
        QCOMPARE(messages.contains("*RST;*OPC?\n"), ticked.contains(reset));
        bool wentLocal = false;
        for (const LogEntry& e : bench->log(inst))
            wentLocal |= e.kind == LogKind::Procedure && e.text == "device_local";
        QVERIFY(wentLocal);
        QCOMPARE(child<QPushButton>(button)->text(), QString("Ready"));
        QVERIFY(child<QPushButton>(button)->toolTip().isEmpty());
        // The instrument took the form's settings; the sweep spans the family's window.
        if (inst == Instrument::Oscilloscope)
            QCOMPARE(bench->scopeState().triggerLevel, osTyp ? -0.0125 : 0.035);
        if (inst == Instrument::SpectrumAnalyzer) {
            QCOMPARE(bench->analyzerState().centre, osTyp ? 2.41235e9 : 5.192e9);
            QCOMPARE(bench->analyzerState().sweepTime, osTyp ? 1.2 : 1.0);
        }
        if (inst == Instrument::VideoAnalyzer)
            QVERIFY(bench->videoState().running);
    }

private slots:
    void initTestCase()
    {
        bench.reset(new Bench(testOptions()));
        std::string error;
        QVERIFY2(bench->start(&error), error.c_str());
        setVisaCandidates({QStringLiteral(LANVISA_PATH)});
        w = new MainWindow;
        setResources(rsrc(Instrument::Oscilloscope), rsrc(Instrument::SpectrumAnalyzer),
                     rsrc(Instrument::VideoAnalyzer));
        if (!child<QCheckBox>("VaHdmi")->isChecked())
            child<QCheckBox>("VaHdmi")->click();
    }

    void cleanupTestCase()
    {
        delete w;
        bench.reset();
    }

private:
    // One press with the form as the row sets it: `ticked` names the check
    // boxes to tick, `idn` the analyzer's identification.
    void rows()
    {
        QTest::addColumn<Instrument>("inst");
        QTest::addColumn<int>("osTyp");
        QTest::addColumn<QStringList>("ticked");
        QTest::addColumn<QString>("idn");
        QTest::addColumn<int>("sent");  // messages the instrument receives
        const auto os = Instrument::Oscilloscope, sa = Instrument::SpectrumAnalyzer, va = Instrument::VideoAnalyzer;
        const QStringList none;
        // SYST:ERR? (and the reset) before the family's 23, 26 or 25 commands.
        QTest::newRow("os first family") << os << 0 << none << "" << 24;
        QTest::newRow("os first family, channel 3") << os << 0 << QStringList{"SaIfDem"} << "" << 27;
        QTest::newRow("os second family, reset") << os << 1 << QStringList{"OsRst", "SaIfDem"} << "" << 27;
        // *IDN? (the reset, the mode) before three groups of five, the IF output's two left out for ZOL.
        QTest::newRow("sa bench default KLE") << sa << 0 << none << "" << 17;
        QTest::newRow("sa ZOL") << sa << 0 << QStringList{"SaIfDem"} << "Maker,ZOL 4,7,2.1\n" << 14;
        QTest::newRow("sa second family, reset") << sa << 1 << QStringList{"SaRst"} << "" << 18;
        QTest::newRow("va reset") << va << 0 << QStringList{"VaRst"} << "" << 5;
    }

private slots:
    void setUps_data() { rows(); }
    void setUps() { press(); }

    // The program's set-ups on an in-process bench; each row a set-up and the
    // settings it leaves, as "query reply" (the documented values).
    void settingsTaken_data()
    {
        QTest::addColumn<Instrument>("inst");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QStringList>("settings");
        const QString kle = QString::fromStdString(Options().analyzerIdentity);
        QTest::newRow("os first family, channel 3") << Instrument::Oscilloscope << kle
                                                    << QStringList{"ACQ:POIN? 20000",
                                                                   "TIM:RANG? 1",
                                                                   "TIM:REF? 50",
                                                                   "EXP:WAV:RAW? 1",
                                                                   "SYST:DISP:UPD? 1",
                                                                   "CHAN1:SCAL? 0.05",
                                                                   "CHAN1:POS? -2",
                                                                   "CHAN1:COUP? DC",
                                                                   "CHAN1:BAND? B20",
                                                                   "CHAN2:SCAL? 0.05",
                                                                   "CHAN2:POS? -2",
                                                                   "CHAN2:COUP? DC",
                                                                   "CHAN3? 1",
                                                                   "CHAN3:SCAL? 0.2",
                                                                   "CHAN3:POS? -3",
                                                                   "CHAN3:COUP? DC",
                                                                   "CHAN3:TYPE? RMS",
                                                                   "TRIG3:OFFS:LIM? 0",
                                                                   "CHAN1:DIGF:CUT? 100000",
                                                                   "TRIG1:LEV1? 0.035",
                                                                   "TRIG1:MODE? NORM",
                                                                   "TRIG1:ANED:NREJ? 1",
                                                                   "TRIG1:HOLD:MODE? TIME",
                                                                   "TRIG1:HOLD:TIME? 1.3",
                                                                   "TRIG1:OUT:STAT? 1",
                                                                   "FORM? ASC,0",
                                                                   "EXP:WAV:INCX? 0",
                                                                   "INIT:CONT? 1"};
        QTest::newRow("os second family")
            << Instrument::Oscilloscope << kle
            << QStringList{
                   "TRIG:B:ENAB? 0",       "TRIG:A:TYPE? EDGE",     "TRIG:A:SOUR? CH1",     "TRIG:A:ENAB? 1",
                   "TRIG:A:MODE? NORM",    "TRIG:A:EDGE:SLOP? POS", "TRIG:A:EDGE:COUP? DC", "TRIG:A:EDGE:FILT:LPAS? 1",
                   "TRIG:A:LEV1? -0.0125", "ACQ:WRAT? MSAM",        "TIM:SCAL? 0.1",        "TIM:POS? 0",
                   "TIM:REF? 50",          "CHAN2:STAT? 1",         "CHAN2:SCAL? 0.05",     "CHAN2:POS? -3",
                   "CHAN2:COUP? DCL",      "CHAN2:TYPE? SAMP",      "CHAN2:BAND? B20",      "CHAN1:STAT? 1",
                   "CHAN1:SCAL? 0.05",     "CHAN1:POS? -3",         "CHAN1:COUP? DCL",      "CHAN1:TYPE? SAMP",
                   "CHAN1:BAND? B20"};
        const QStringList analyzer{"DISP:TRAC:Y:RLEV? 0", "INP1:ATT? 0",      "FREQ:SPAN? 0",   "TRIG1:SOUR? EXT",
                                   "SWE:POIN? 20001",     "SWE:TYPE? SWE",    "BWID:FFT? AUTO", "BWID? 5e+07",
                                   "BWID:VID? 20000",     "TRIG1:HOLD? -0.6", "TRIG1:SLOP? POS"};
        QTest::newRow("sa first family, KLE")
            << Instrument::SpectrumAnalyzer << kle
            << analyzer + QStringList{"FREQ:CENT? 5.192e+09", "SWE:TIME? 1", "OUTP:IF? VID", "OUTP:IF:IFFR? 2"};
        QTest::newRow("sa second family, ZOL")
            << Instrument::SpectrumAnalyzer << "Maker,ZOL 4,7,2.1"
            << analyzer + QStringList{"FREQ:CENT? 2.41235e+09", "SWE:TIME? 1.2", "OUTP:IF? IF"};
        QTest::newRow("va") << Instrument::VideoAnalyzer << kle
                            << QStringList{"SYST:DISP:UPD? 1", "CONF:AVDA:TTV:APL:THR? 35",
                                           "CONF:AVDA:TTV:APL:HYST? 5"};
    }
    void settingsTaken()
    {
        QFETCH(Instrument, inst);
        QFETCH(QString, identity);
        QFETCH(QStringList, settings);
        Options o;
        o.analyzerIdentity = identity.toStdString();
        Core core(o);
        LinkState link;
        auto ask = [&](const QString& message) {
            const std::string m = message.toStdString();
            core.feed(inst, link, m.data(), m.size(), true, Transport::Vxi11, 1, 1);
            const QString reply = QString::fromStdString(link.reply.data ? *link.reply.data : std::string());
            link.reply.clear();
            return reply;
        };
        const bool second = QString(QTest::currentDataTag()).contains("second");
        setup::Sequence seq;
        if (inst == Instrument::Oscilloscope)
            seq = setup::oscilloscopeSequence({second ? 1 : 0, true, true, second ? -0.0125 : 0.035});
        else if (inst == Instrument::SpectrumAnalyzer)
            seq = setup::analyzerSequence({second ? 1 : 0, true, second ? 2.412345678e9 : 5.192e9});
        else
            seq = setup::videoSequence({true, 35.0});
        setup::run(seq, [&](const setup::Step* step, QString* reply) {
            if (step && step->kind == setup::StepKind::Query)
                *reply = ask(step->command);  // the identification decides the model's steps
            return ViStatus(VI_SUCCESS);
        });
        QCOMPARE(ask("SYST:ERR?\n"), QString("0,\"No error\"\n"));  // every command understood
        for (const QString& s : settings) {
            const int blank = s.indexOf(' ');
            QCOMPARE(ask(s.left(blank) + '\n'), s.mid(blank + 1) + '\n');
        }
    }

    void openFailsWithoutInstrument()
    {
        const QString none = QString("TCPIP::%1::INSTR").arg(uniqueLoopbackAddresses(1)[0].c_str());
        setResources(none, none, none);
        bench->clearLog();
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            child<QPushButton>(b)->click();
            QCOMPARE(child<QPushButton>(b)->text(), QString("Init"));
            // Refused connection: the open is named, even where a later step ended the set-up.
            const QString tip = child<QPushButton>(b)->toolTip();
            QVERIFY2(tip.contains("viOpen") && tip.contains("VI_ERROR_RSRC_NFOUND: ") && tip.contains(none),
                     qPrintable(tip));
        }
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        for (Instrument i : {Instrument::Oscilloscope, Instrument::SpectrumAnalyzer, Instrument::VideoAnalyzer})
            QVERIFY(bench->messages(i).empty());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstInitBench tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_init_bench.moc"
