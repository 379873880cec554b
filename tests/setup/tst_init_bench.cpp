// End to end: the three Init buttons of a real MainWindow through our LAN
// VISA library against the simulated bench. What the instruments receive,
// whether they are returned to local control, what the buttons show.
//
// The failure cases need a session that stays alive while one command goes
// unanswered, so each costs one I/O time-out (5 s, 10 s for the video
// analyzer); ctest runs the groups as separate tests.
#include "bench.h"
#include "expected.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace quarnel::bench;

namespace {

QStringList toList(const std::vector<std::string>& v)
{
    QStringList out;
    for (const std::string& s : v)
        out << QString::fromStdString(s);
    return out;
}

Fault refuse(Instrument inst, const char* match)
{
    Fault f;
    f.instrument = inst;
    f.kind = FaultKind::CommandError;
    f.match = match;
    return f;
}

Fault identity(const std::string& idn)
{
    Fault f;
    f.instrument = Instrument::SpectrumAnalyzer;
    f.kind = FaultKind::ReplaceReply;
    f.match = "*IDN?";
    f.text = idn;
    f.count = 0;
    return f;
}

}  // namespace

class TestInitBench : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> bench;
    MainWindow* w = nullptr;

    template <typename T>
    T* child(const char* name)
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }
    QString text(const char* button) { return child<QPushButton>(button)->text(); }

    struct Outcome
    {
        QStringList messages;
        bool local = false;
        QString button;
    };

    // One press; what the instrument received during it.
    Outcome press(const char* button, Instrument inst)
    {
        bench->clearLog();
        child<QPushButton>(button)->click();
        Outcome o;
        o.messages = toList(bench->messages(inst));
        for (const LogEntry& e : bench->log(inst))
            if (e.kind == LogKind::Procedure && e.text == "device_local")
                o.local = true;
        o.button = text(button);
        return o;
    }

    void setResources(const QString& os, const QString& sa, const QString& va)
    {
        child<QLineEdit>("OsIp")->setText(os);
        child<QLineEdit>("SaIp")->setText(sa);
        child<QLineEdit>("VaIp")->setText(va);
    }

    QString rsrc(Instrument i) { return QString::fromStdString(bench->resourceString(i)); }

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

    void init()
    {
        bench->clearFaults();
        child<QComboBox>("OsTyp")->setCurrentIndex(0);
        child<QCheckBox>("OsRst")->setChecked(false);
        child<QCheckBox>("SaRst")->setChecked(false);
        child<QCheckBox>("SaIfDem")->setChecked(false);
        child<QCheckBox>("VaRst")->setChecked(false);
        child<QLineEdit>("OsTrgLvl")->setText("35e-3");
        child<QLineEdit>("SaFrq")->setText("5.192e9");
        child<QLineEdit>("VaThres")->setText("35.0");
    }

    // ---- complete set-ups ------------------------------------------------------

    void oscilloscopeFirstFamily()
    {
        for (bool ifDemod : {false, true}) {
            child<QCheckBox>("SaIfDem")->setChecked(ifDemod);
            const Outcome o = press("OsInit", Instrument::Oscilloscope);
            QCOMPARE(o.messages, expected::osPreamble(false) + expected::osFirstFamily(ifDemod, "0.035"));
            QCOMPARE(o.messages.size() - 1, ifDemod ? 26 : 23);
            QVERIFY(o.local);
            QCOMPARE(o.button, QString("Ready"));
        }
        QCOMPARE(bench->scopeState().triggerLevel, 0.035);
    }

    void oscilloscopeSecondFamilyWithReset()
    {
        child<QComboBox>("OsTyp")->setCurrentIndex(1);
        child<QCheckBox>("OsRst")->setChecked(true);
        child<QLineEdit>("OsTrgLvl")->setText("-12.5e-3");
        const Outcome o = press("OsInit", Instrument::Oscilloscope);
        QCOMPARE(o.messages, expected::osPreamble(true) + expected::osSecondFamily("-0.0125"));
        QVERIFY(o.local);
        QCOMPARE(o.button, QString("Ready"));
    }

    void analyzerModels_data()
    {
        QTest::addColumn<QString>("idn");
        QTest::addColumn<bool>("kle");
        QTest::addColumn<bool>("zol");
        QTest::newRow("bench default (KLE)") << QString() << true << false;
        QTest::newRow("KLEM") << "Maker,KLEM 30,7,2.1\n" << true << false;
        QTest::newRow("ZOL") << "Maker,ZOL 4,7,2.1\n" << false << true;
        QTest::newRow("lower-case zol") << "maker,zol 4,7,2.1\n" << false << true;
    }
    void analyzerModels()
    {
        QFETCH(QString, idn);
        QFETCH(bool, kle);
        QFETCH(bool, zol);
        if (!idn.isEmpty())
            bench->addFault(identity(idn.toStdString()));
        child<QCheckBox>("SaIfDem")->setChecked(zol);  // no bearing on this set-up
        const Outcome o = press("SaInit", Instrument::SpectrumAnalyzer);
        QCOMPARE(o.messages, expected::saAll(kle, zol, 0, "5.192e+09"));
        QVERIFY(o.local);
        QCOMPARE(o.button, QString("Ready"));
        QCOMPARE(bench->analyzerState().centre, 5.192e9);
    }

    void analyzerForSecondFamilyWithReset()
    {
        child<QComboBox>("OsTyp")->setCurrentIndex(1);
        child<QCheckBox>("SaRst")->setChecked(true);
        child<QLineEdit>("SaFrq")->setText("2.412345678e9");
        const Outcome o = press("SaInit", Instrument::SpectrumAnalyzer);
        QCOMPARE(o.messages, expected::saPreamble(true, true) + expected::saLevel("2.41235e+09")
                                 + expected::saSweep(1) + expected::saTrigger(false));
        QCOMPARE(o.button, QString("Ready"));
    }

    void videoWithReset()
    {
        child<QCheckBox>("VaRst")->setChecked(true);
        const Outcome o = press("VaInit", Instrument::VideoAnalyzer);
        QCOMPARE(o.messages, expected::vaChain(true, "35"));
        QVERIFY(o.local);
        QCOMPARE(o.button, QString("Ready"));
        QVERIFY(bench->videoState().running);
    }

    void startFollowsReadiness()
    {
        press("OsInit", Instrument::Oscilloscope);
        press("SaInit", Instrument::SpectrumAnalyzer);
        press("VaInit", Instrument::VideoAnalyzer);
        QVERIFY(child<QPushButton>("Start")->isEnabled());
    }

    void repeatedPressReplacesTheSession()
    {
        press("OsInit", Instrument::Oscilloscope);
        bench->clearLog();
        child<QPushButton>("OsInit")->click();
        // The earlier link is destroyed before a new one is created.
        int destroyed = -1, created = -1, i = 0;
        for (const LogEntry& e : bench->log(Instrument::Oscilloscope)) {
            if (e.kind == LogKind::Procedure && e.text == "destroy_link" && destroyed < 0)
                destroyed = i;
            if (e.kind == LogKind::Procedure && e.text == "create_link" && created < 0)
                created = i;
            ++i;
        }
        QVERIFY(destroyed >= 0);
        QVERIFY(created > destroyed);
        QCOMPARE(text("OsInit"), QString("Ready"));
    }

    void openFailsWithoutInstrument()
    {
        const std::vector<std::string> nobody = uniqueLoopbackAddresses(1);
        const QString none = QString("TCPIP::%1::INSTR").arg(QString::fromStdString(nobody[0]));
        setResources(none, none, none);
        bench->clearLog();
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            child<QPushButton>(b)->click();
            QCOMPARE(text(b), QString("Init"));
        }
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        for (Instrument i : {Instrument::Oscilloscope, Instrument::SpectrumAnalyzer,
                             Instrument::VideoAnalyzer})
            QVERIFY(bench->messages(i).empty());
        setResources(rsrc(Instrument::Oscilloscope), rsrc(Instrument::SpectrumAnalyzer),
                     rsrc(Instrument::VideoAnalyzer));
    }

    // ---- failures (each waits for one time-out) ---------------------------------

    void oscilloscopeFailures_data()
    {
        QTest::addColumn<QString>("match");
        QTest::addColumn<int>("lastSent");  // index in the family sequence, 0-based
        QTest::addColumn<bool>("local");
        QTest::addColumn<QString>("button");
        QTest::newRow("step 5 ends in remote") << "CHAN1 ON;STOP" << 4 << false << "Init";
        QTest::newRow("step 14 ignored") << "TRIG3:OFFS:LIM" << 22 << true << "Ready";
        QTest::newRow("step 16 ends after go-to-local") << "CHAN:DIGF:CUT" << 12 << true << "Init";
    }
    void oscilloscopeFailures()
    {
        QFETCH(QString, match);
        QFETCH(int, lastSent);
        QFETCH(bool, local);
        QFETCH(QString, button);
        child<QPushButton>("OsInit")->click();  // a Ready to lose
        bench->addFault(refuse(Instrument::Oscilloscope, qPrintable(match)));
        const Outcome o = press("OsInit", Instrument::Oscilloscope);
        const QStringList all = expected::osPreamble(false) + expected::osFirstFamily(false, "0.035");
        QCOMPARE(o.messages, all.mid(0, lastSent + 2));
        QCOMPARE(o.local, local);
        QCOMPARE(o.button, button);
    }

    void analyzerFailures_data()
    {
        QTest::addColumn<QString>("match");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("local");
        QTest::addColumn<QString>("button");
        const QStringList pre = expected::saPreamble(true);
        const QStringList level = expected::saLevel("5.192e+09");
        const QStringList sweep = expected::saSweep(0);
        const QStringList trig = expected::saTrigger(false);
        QTest::newRow("first group") << "DISP:TRAC:Y:RLEV" << pre + level.mid(0, 1) + sweep + trig
                                     << true << "Ready";
        QTest::newRow("second group") << "SWE:POIN" << pre + level + sweep.mid(0, 2) << false
                                       << "Init";
        QTest::newRow("third group") << "TRIG1:HOLD" << pre + level + sweep + trig.mid(0, 1) << true
                                     << "Ready";
    }
    void analyzerFailures()
    {
        QFETCH(QString, match);
        QFETCH(QStringList, sent);
        QFETCH(bool, local);
        QFETCH(QString, button);
        bench->addFault(refuse(Instrument::SpectrumAnalyzer, qPrintable(match)));
        const Outcome o = press("SaInit", Instrument::SpectrumAnalyzer);
        QCOMPARE(o.messages, sent);
        QCOMPARE(o.local, local);
        QCOMPARE(o.button, button);
    }

    void videoFailures_data()
    {
        QTest::addColumn<QString>("match");
        QTest::addColumn<int>("lastSent");
        QTest::addColumn<bool>("local");
        QTest::addColumn<QString>("button");
        QTest::newRow("reset-ignored") << "*RST" << 4 << true << "Ready";
        QTest::newRow("display-update") << "SYST:DISP:UPD" << 1 << false << "Init";
        QTest::newRow("threshold") << "APL:THR" << 2 << false << "Init";
        QTest::newRow("hysteresis") << "APL:HYST" << 3 << false << "Init";
        QTest::newRow("start-analysis") << "INIT:AVDA" << 4 << false << "Init";
    }
    void videoFailures()
    {
        QFETCH(QString, match);
        QFETCH(int, lastSent);
        QFETCH(bool, local);
        QFETCH(QString, button);
        child<QCheckBox>("VaRst")->setChecked(true);
        bench->addFault(refuse(Instrument::VideoAnalyzer, qPrintable(match)));
        const Outcome o = press("VaInit", Instrument::VideoAnalyzer);
        QCOMPARE(o.messages, expected::vaChain(true, "35").mid(0, lastSent + 1));
        QCOMPARE(o.local, local);
        QCOMPARE(o.button, button);
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TestInitBench tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_init_bench.moc"
