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
#include <QtTest>

using namespace faults;
using qb::Instrument;

Q_DECLARE_METATYPE(qb::Fault)

namespace {

// The set-up of row `which`: the first family with channel 3, the second
// family, the analyzer, the video analyzer; each with its reset.
struct InitCase
{
    Instrument instrument;
    WindowConfig config;
};

InitCase initCase(int which)
{
    WindowConfig c;
    c.osTyp = which == 1 ? 1 : 0;
    c.scopeRf = which == 0;
    c.osRst = c.saRst = c.vaRst = true;
    const Instrument instruments[] = {Instrument::Oscilloscope, Instrument::Oscilloscope, Instrument::SpectrumAnalyzer,
                                      Instrument::VideoAnalyzer};
    return {instruments[which], c};
}

}  // namespace

class TstFaultInit : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> rig;
    DataGuard guard;

    void addColumns()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<qb::Fault>("fault");
        QTest::addColumn<QString>("outcome");
    }

    // The row's Init; then, the instrument back, the next Init works.
    void row()
    {
        QFETCH(int, which);
        QFETCH(qb::Fault, fault);
        QFETCH(QString, outcome);
        const InitCase c = initCase(which);
        fault.instrument = c.instrument;
        Watchdog dog(QTest::currentDataTag(), 60);
        rig->bench().clearFaults();
        rig->openWindow(c.config);
        rig->bench().clearLog();
        rig->bench().addFault(fault);
        QCOMPARE(rig->init(c.instrument), outcome);
        QCOMPARE(rig->startEnabled(), false);
        // A lost connection: nothing after the fault reached the instrument.
        const std::vector<std::string> got = rig->bench().messages(c.instrument);
        if (fault.kind == qb::FaultKind::DropConnection && fault.match == "create_link")
            QVERIFY(got.empty());
        else if (fault.kind == qb::FaultKind::DropConnection && fault.match != "device_local")
            QVERIFY(!got.empty() && occurrences({got.back()}, 1, fault.match) == 1);

        rig->bench().clearFaults();
        QCOMPARE(rig->init(c.instrument), QString("Ready"));
        QVERIFY2(guard.damaged().isEmpty(), qPrintable(guard.damaged().join("; ")));
        rig->cancelAndCheckSettings();
    }

private slots:
    void initTestCase()
    {
        rig.reset(new Rig);
        rig->seedEarlierResults(&guard);
    }

    void cleanupTestCase() { QVERIFY(guard.damaged().isEmpty()); }

    // Only the oscilloscope ignores the status of its go-to-local.
    void drop_data()
    {
        addColumns();
        const struct
        {
            const char* tag;
            int which;
            const char* match;
            const char* outcome;
        } rows[] = {
            {"os1/create_link", 0, "create_link", "Init"},
            {"os1/SYST:ERR?", 0, "SYST:ERR?", "Init"},
            {"os1/*RST", 0, "*RST", "Init"},
            {"os1/CHAN3:TYPE", 0, "CHAN3:TYPE", "Init"},
            {"os1/device_local", 0, "device_local", "Ready"},
            {"os2/TRIG:A:LEV1", 1, "TRIG:A:LEV1", "Init"},
            {"os2/device_local", 1, "device_local", "Ready"},
            {"sa/*IDN?", 2, "*IDN?", "Init"},
            {"sa/TRIG1:HOLD", 2, "TRIG1:HOLD", "Init"},
            {"sa/device_local", 2, "device_local", "Init"},
            {"va/create_link", 3, "create_link", "Init"},
            {"va/INIT:AVDA", 3, "INIT:AVDA", "Init"},
            {"va/device_local", 3, "device_local", "Init"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << r.which << dropAt(Instrument::Oscilloscope, r.match) << QString(r.outcome);
    }
    void drop() { row(); }

    // The instrument stops answering: a query (the set-up goes on, the
    // session lives), the link's creation (the open time-out bounds it) and
    // an RPC procedure.
    void noReply_data()
    {
        addColumns();
        const Instrument any = Instrument::Oscilloscope;  // the row's own instrument is set by row()
        QTest::newRow("sa/*IDN?") << 2 << noReplyAt(any, "*IDN?") << "Ready";
        QTest::newRow("os1/create_link") << 0 << noReplyAt(any, "create_link") << "Init";
        QTest::newRow("va/device_local") << 3 << noReplyAt(any, "device_local") << "Init";
    }
    void noReply() { row(); }
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
