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

// One step of a recorded set-up: a program message or a VXI-11 procedure.
struct Step
{
    bool procedure = false;
    std::string text;
    int messageIndex = -1;  // messages before it (for a message: its index)
};

QString shortText(const std::string& s)
{
    QString t = QString::fromStdString(s).trimmed();
    t.replace(";*OPC?", "");
    return t.left(40);
}

}  // namespace

class TstFaultInit : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> rig;
    DataGuard guard;
    std::vector<Step> steps[4];
    std::vector<std::string> cleanMessages[4];
    QStringList timings;

    void recordSetups()
    {
        for (int i = 0; i < 4; ++i) {
            const InitCase c = initCase(i);
            rig->openWindow(c.config);
            rig->bench().clearLog();
            QCOMPARE(rig->init(c.instrument), QString("Ready"));
            int messages = 0;
            for (const qb::LogEntry& e : rig->bench().log(c.instrument)) {
                Step s;
                if (e.kind == qb::LogKind::Message) {
                    s.text = e.text;
                    s.messageIndex = messages++;
                    cleanMessages[i].push_back(e.text);
                } else if (e.kind == qb::LogKind::Procedure
                           && (e.text == "create_link" || e.text == "device_local")) {
                    s.procedure = true;
                    s.text = e.text;
                    s.messageIndex = messages;
                } else {
                    continue;
                }
                steps[i].push_back(s);
            }
            rig->cancelAndCheckSettings();
        }
    }

    void addDropRows(int which)
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("step");
        const InitCase c = initCase(which);
        for (size_t k = 0; k < steps[which].size(); ++k)
            QTest::addRow("%s/%02d %s", c.tag, int(k), qPrintable(shortText(steps[which][k].text)))
                << which << int(k);
    }

    void dropRow()
    {
        QFETCH(int, which);
        QFETCH(int, step);
        const InitCase c = initCase(which);
        const Step& s = steps[which][size_t(step)];
        const std::vector<std::string>& clean = cleanMessages[which];
        Watchdog dog(QTest::currentDataTag(), 60);

        rig->bench().clearFaults();
        rig->openWindow(c.config);
        rig->bench().clearLog();
        const int skip = s.procedure ? 0 : occurrences(clean, size_t(s.messageIndex), s.text);
        rig->bench().addFault(dropAt(c.instrument, s.text, skip));
        QElapsedTimer clock;
        clock.start();
        const QString outcome = rig->init(c.instrument);
        timings << QString("%1 %2 ms").arg(QTest::currentDataTag()).arg(clock.elapsed());

        // Only the oscilloscope ignores the status of its go-to-local; a
        // connection lost anywhere else fails the set-up.
        const bool ready = c.instrument == Instrument::Oscilloscope && s.text == "device_local";
        QCOMPARE(outcome, QString(ready ? "Ready" : "Init"));
        QCOMPARE(rig->startEnabled(), false);
        // Nothing after the fault reached the instrument.
        const std::vector<std::string> got = rig->bench().messages(c.instrument);
        const size_t expected = s.procedure ? size_t(s.messageIndex) : size_t(s.messageIndex) + 1;
        QCOMPARE(got.size(), expected);
        for (size_t i = 0; i < got.size(); ++i)
            QCOMPARE(QString::fromStdString(got[i]), QString::fromStdString(clean[i]));

        // The instrument is back: the next Init opens a new session and works.
        rig->bench().clearFaults();
        rig->bench().clearLog();
        QCOMPARE(rig->init(c.instrument), QString("Ready"));
        QCOMPARE(rig->bench().messages(c.instrument).size(), clean.size());

        QVERIFY2(guard.damaged().isEmpty(), qPrintable(guard.damaged().join("; ")));
        rig->cancelAndCheckSettings();
    }

private slots:
    void initTestCase()
    {
        rig.reset(new Rig);
        rig->seedEarlierResults(&guard);
        recordSetups();
        // Open and go-to-local around the messages: SYST:ERR?, *RST and the
        // 26 commands of the first family with channel 3.
        QCOMPARE(int(steps[0].size()), 1 + 2 + 26 + 1);
        for (const auto& s : steps) {
            QCOMPARE(s.front().text, std::string("create_link"));
            QCOMPARE(s.back().text, std::string("device_local"));
        }
    }

    void cleanupTestCase()
    {
        qInfo("%s", qPrintable(timings.join("\n")));
        QVERIFY(guard.damaged().isEmpty());
    }

    void dropScopeFirstFamily_data() { addDropRows(0); }
    void dropScopeFirstFamily() { dropRow(); }
    void dropScopeSecondFamily_data() { addDropRows(1); }
    void dropScopeSecondFamily() { dropRow(); }
    void dropAnalyzer_data() { addDropRows(2); }
    void dropAnalyzer() { dropRow(); }
    void dropVideo_data() { addDropRows(3); }
    void dropVideo() { dropRow(); }

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
