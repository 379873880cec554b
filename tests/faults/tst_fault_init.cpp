// Fault matrix, Init sequences: the instrument drops the connection at every
// step of each set-up (one row per step, taken from the traffic of a clean
// set-up against the bench), and stops answering at representative steps.
// Every row: the set-up ends in bounded time with the outcome its failure
// rules give, the instrument received nothing after the fault, the next
// Init works, the files already written stay intact, and Cancel saves the
// settings.
#include "faultrig.h"
#include "visabinding.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QtTest>

using namespace faults;
using qb::Instrument;

namespace {

// One of the set-ups the matrix walks through.
struct InitCase
{
    const char* tag;
    Instrument instrument;
    WindowConfig config;
};

InitCase initCase(int i)
{
    WindowConfig os1;  // first family with channel 3 and reset: the longest sequence
    os1.osTyp = 0;
    os1.scopeRf = true;
    os1.osRst = true;
    WindowConfig os2;
    os2.osTyp = 1;
    os2.osRst = true;
    WindowConfig sa;
    sa.osTyp = 0;
    sa.saRst = true;
    WindowConfig va;
    va.vaRst = true;
    switch (i) {
    case 0: return {"os1", Instrument::Oscilloscope, os1};
    case 1: return {"os2", Instrument::Oscilloscope, os2};
    case 2: return {"sa", Instrument::SpectrumAnalyzer, sa};
    default: return {"va", Instrument::VideoAnalyzer, va};
    }
}

}  // namespace

class TstFaultInit : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> rig;
    DataGuard guard;
    QStringList timings;

private slots:
    void initTestCase()
    {
        rig.reset(new Rig);
        rig->seedEarlierResults(&guard);
    }

    void cleanupTestCase()
    {
        qInfo("%s", qPrintable(timings.join("\n")));
        QVERIFY(guard.damaged().isEmpty());
    }

    void drop_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("match");
        QTest::addColumn<QString>("outcome");
        // Only the oscilloscope ignores the status of its go-to-local.
        const struct { const char* tag; int which; const char* match; const char* outcome; } rows[] = {
            {"os1/create_link", 0, "create_link", "Init"}, {"os1/SYST:ERR?", 0, "SYST:ERR?", "Init"},
            {"os1/*RST", 0, "*RST", "Init"},               {"os1/CHAN3:TYPE", 0, "CHAN3:TYPE", "Init"},
            {"os1/device_local", 0, "device_local", "Ready"}, {"os2/TRIG:A:LEV1", 1, "TRIG:A:LEV1", "Init"},
            {"os2/device_local", 1, "device_local", "Ready"}, {"sa/*IDN?", 2, "*IDN?", "Init"},
            {"sa/TRIG1:HOLD", 2, "TRIG1:HOLD", "Init"},     {"sa/device_local", 2, "device_local", "Init"},
            {"va/create_link", 3, "create_link", "Init"},   {"va/INIT:AVDA", 3, "INIT:AVDA", "Init"},
            {"va/device_local", 3, "device_local", "Init"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << r.which << QString(r.match) << QString(r.outcome);
    }

    void drop()
    {
        QFETCH(int, which);
        QFETCH(QString, match);
        QFETCH(QString, outcome);
        const InitCase c = initCase(which);
        Watchdog dog(QTest::currentDataTag(), 60);
        rig->bench().clearFaults();
        rig->openWindow(c.config);
        rig->bench().clearLog();
        rig->bench().addFault(dropAt(c.instrument, match.toStdString()));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig->init(c.instrument), outcome);
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(clock.elapsed());
        QCOMPARE(rig->startEnabled(), false);
        // Nothing after the fault reached the instrument.
        const std::vector<std::string> got = rig->bench().messages(c.instrument);
        if (match == "create_link")
            QVERIFY(got.empty());
        else if (match != "device_local")
            QVERIFY(!got.empty() && occurrences({got.back()}, 1, match.toStdString()) == 1);

        // The instrument is back: the next Init opens a new session and works.
        rig->bench().clearFaults();
        QCOMPARE(rig->init(c.instrument), QString("Ready"));
        QVERIFY2(guard.damaged().isEmpty(), qPrintable(guard.damaged().join("; ")));
        rig->cancelAndCheckSettings();
    }

    // The instrument stops answering: a query (the set-up goes on, the
    // session lives), the link's creation (the open time-out bounds it) and
    // an RPC procedure. What each step's failure means is the sequence's
    // business (tested there); here the library's time-outs end the waits.
    void noReply_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("match");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("bound");
        QTest::newRow("sa/*IDN?") << 2 << "*IDN?" << "Ready" << 30;
        QTest::newRow("os1/create_link") << 0 << "create_link" << "Init" << 40;
        QTest::newRow("va/device_local") << 3 << "device_local" << "Init" << 40;
    }

    void noReply()
    {
        QFETCH(int, which);
        QFETCH(QString, match);
        QFETCH(QString, outcome);
        QFETCH(int, bound);
        const InitCase c = initCase(which);
        Watchdog dog(QTest::currentDataTag(), bound + 30);

        rig->bench().clearFaults();
        rig->openWindow(c.config);
        rig->bench().addFault(noReplyAt(c.instrument, match.toStdString()));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig->init(c.instrument), outcome);
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(clock.elapsed());

        rig->bench().clearFaults();
        QCOMPARE(rig->init(c.instrument), QString("Ready"));
        QVERIFY(guard.damaged().isEmpty());
        rig->cancelAndCheckSettings();
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
    TstFaultInit t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fault_init.moc"
