// The Init sequences and their runner through a scripted send function:
// every failure rule of both oscilloscope families, the analyzer's groups and
// model tests, the video analyzer's chain.
#include "expected.h"
#include "sequence.h"

#include <QtTest>

using namespace setup;

namespace {

const ViStatus kFail = VI_ERROR_TMO;

// Stands in for the instrument: logs what is sent, fails what it is told to.
struct Script
{
    QStringList sent;  // query commands only
    QStringList actions;  // everything: "open", "tmo 5000", commands, "local"
    QString identity = "Maker,KLE 3,100,1.0\n";
    QMap<QString, ViStatus> failures;  // by command text, "open", "tmo", "local"
    int failNth = -1;  // fail the n-th query (0-based) instead
    ViStatus failStatus = kFail;

    SendFn fn()
    {
        return [this](const Step* s, QString* reply) -> ViStatus {
            QString key;
            if (!s)
                key = "local";
            else if (s->kind == StepKind::Open)
                key = "open";
            else if (s->kind == StepKind::SetTimeout)
                key = "tmo";
            else
                key = s->command;
            actions << (s && s->kind == StepKind::SetTimeout
                            ? QString("tmo %1").arg(s->timeoutMs) : key);
            if (s && s->kind == StepKind::Query) {
                const int n = sent.size();
                sent << s->command;
                if (n == failNth)
                    return failStatus;
                if (s->command == "*IDN?\n" && !failures.contains(key))
                    *reply = identity;
                else
                    *reply = "1\n";
            }
            return failures.value(key, VI_SUCCESS);
        };
    }
};

OscilloscopeParams os(int type, bool ifDemod = false, bool reset = false, double level = 0.035)
{
    OscilloscopeParams p;
    p.type = type;
    p.ifDemod = ifDemod;
    p.reset = reset;
    p.triggerLevel = level;
    return p;
}

AnalyzerParams sa(int osTyp = 0, double centre = 5.192e9, bool reset = false)
{
    AnalyzerParams p;
    p.oscilloscopeType = osTyp;
    p.centreFrequency = centre;
    p.reset = reset;
    return p;
}

bool noPercent(const Sequence& seq)
{
    for (const Group& g : seq.groups)
        for (const Step& s : g.steps)
            if (s.command.contains('%'))
                return false;
    return true;
}

}  // namespace

class TestSequence : public QObject
{
    Q_OBJECT

private slots:
    void numbersInCommands()
    {
        QCOMPARE(formatValue(5.192e9), QString("5.192e+09"));
        QCOMPARE(formatValue(2.412345678e9), QString("2.41235e+09"));
        QCOMPARE(formatValue(0.035), QString("0.035"));
        QCOMPARE(formatValue(1.0), QString("1"));
        QCOMPARE(formatValue(-0.6), QString("-0.6"));
        QCOMPARE(formatValue(35.0), QString("35"));
    }

    void oscilloscopeFirstFamilyStreams()
    {
        for (bool ifDemod : {false, true}) {
            Script s;
            const Result r = run(oscilloscopeSequence(os(0, ifDemod)), s.fn());
            QCOMPARE(r.status, VI_SUCCESS);
            QVERIFY(r.localSent);
            const QStringList body = s.sent.mid(1);
            QCOMPARE(body.size(), ifDemod ? 26 : 23);
            QCOMPARE(s.sent, expected::osPreamble(false) + expected::osFirstFamily(ifDemod, "0.035"));
            QCOMPARE(s.actions.first(), QString("open"));
            QCOMPARE(s.actions.at(1), QString("tmo 5000"));
            QCOMPARE(s.actions.last(), QString("local"));
        }
    }

    void oscilloscopeSecondFamilyWithReset()
    {
        for (int type : {1, 7}) {  // any index but 0 is the second family
            Script s;
            const Result r = run(oscilloscopeSequence(os(type, true, true, -0.0125)), s.fn());
            QCOMPARE(r.status, VI_SUCCESS);
            QCOMPARE(s.sent, expected::osPreamble(true) + expected::osSecondFamily("-0.0125"));
            QCOMPARE(s.actions.last(), QString("local"));
        }
    }

    // Step i (1-based, type sequence with channel 3) failing.
    void oscilloscopeFirstFamilyRules()
    {
        const QStringList cmds = expected::osFirstFamily(true, "0.035");
        for (int i = 1; i <= cmds.size(); ++i) {
            Script s;
            s.failNth = i;  // query 0 is SYST:ERR?
            const Result r = run(oscilloscopeSequence(os(0, true)), s.fn());
            const bool ignored = i == 14;
            const bool endsRemote = i <= 13;
            const QString where = QString("step %1").arg(i);
            if (ignored) {
                QVERIFY2(r.status == VI_SUCCESS, qPrintable(where));
                QCOMPARE(s.sent.size(), cmds.size() + 1);
            } else {
                QVERIFY2(r.status == kFail, qPrintable(where));
                QVERIFY2(s.sent.size() == i + 1, qPrintable(where));  // nothing after it
            }
            QVERIFY2(r.localSent == !endsRemote, qPrintable(where));
        }
    }

    void oscilloscopeSecondFamilyEveryStepEnds()
    {
        for (int i = 1; i <= 25; ++i) {
            Script s;
            s.failNth = i;
            const Result r = run(oscilloscopeSequence(os(1)), s.fn());
            QCOMPARE(r.status, kFail);
            QCOMPARE(s.sent.size(), i + 1);
            QVERIFY(!r.localSent);
        }
    }

    void oscilloscopePreambleNeverStopsTheSequence()
    {
        {
            Script s;  // no session: the family sequence still gets its first try
            s.failures["open"] = VI_ERROR_RSRC_NFOUND;
            s.failNth = 0;
            const Result r = run(oscilloscopeSequence(os(0, false, true)), s.fn());
            QCOMPARE(s.actions, (QStringList{"open", "ACQ:POIN:AUTO 1;*OPC?\n"}));
            QCOMPARE(r.status, kFail);
            QVERIFY(!r.localSent);
        }
        {
            Script s;
            s.failures["tmo"] = VI_ERROR_NSUP_ATTR;
            const Result r = run(oscilloscopeSequence(os(1, false, true)), s.fn());
            QCOMPARE(s.sent, expected::osSecondFamily("0.035"));  // no SYST:ERR?, no reset
            QCOMPARE(r.status, VI_SUCCESS);
        }
        {
            Script s;
            s.failures["SYST:ERR?\n"] = VI_ERROR_TMO;
            run(oscilloscopeSequence(os(1, false, true)), s.fn());
            QVERIFY(!s.sent.contains("*RST;*OPC?\n"));
        }
        {
            Script s;  // a failing reset is ignored; so is the go-to-local's status here
            s.failures["*RST;*OPC?\n"] = VI_ERROR_TMO;
            s.failures["local"] = VI_ERROR_NSUP_OPER;
            const Result r = run(oscilloscopeSequence(os(1, false, true)), s.fn());
            QCOMPARE(r.status, VI_SUCCESS);
            QVERIFY(r.localSent);
        }
    }

    void positiveStatusIsAFailure()
    {
        Script s;
        s.failNth = 3;
        s.failStatus = VI_SUCCESS_MAX_CNT;
        const Result r = run(oscilloscopeSequence(os(1)), s.fn());
        QCOMPARE(r.status, VI_SUCCESS_MAX_CNT);
        QCOMPARE(s.sent.size(), 4);
    }

    void analyzerStreams_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::addColumn<bool>("kle");
        QTest::addColumn<bool>("zol");
        QTest::newRow("KLE") << "Maker,KLE 3,100,1.0\n" << true << false;
        QTest::newRow("KLEM") << "Maker,KLEM,100,1.0\n" << true << false;
        QTest::newRow("ZOL") << "Maker,ZOL 8,100,1.0\n" << false << true;
        QTest::newRow("lower-case kle") << "maker,kle,1,1\n" << true << false;
        QTest::newRow("lower-case zol") << "maker,zol,1,1\n" << false << true;
        QTest::newRow("both") << "Maker,KLE-ZOL,1,1\n" << true << true;
        QTest::newRow("neither") << "Maker,Other,1,1\n" << false << false;
    }
    void analyzerStreams()
    {
        QFETCH(QString, identity);
        QFETCH(bool, kle);
        QFETCH(bool, zol);
        Script s;
        s.identity = identity;
        const Result r = run(analyzerSequence(sa(0)), s.fn());
        QCOMPARE(r.status, VI_SUCCESS);
        QCOMPARE(r.identification, identity);
        QCOMPARE(s.sent, expected::saAll(kle, zol, 0, "5.192e+09"));
        QCOMPARE(s.actions.at(1), QString("tmo 5000"));
        QCOMPARE(s.actions.last(), QString("local"));
    }

    void analyzerValues()
    {
        Script s;
        run(analyzerSequence(sa(1, 2.412345678e9)), s.fn());
        QVERIFY(s.sent.contains("FREQ:CENT 2.41235e+09;*OPC?\n"));
        QVERIFY(s.sent.contains("SWE:TIME 1.2;*OPC?\n"));
        Script s0;
        run(analyzerSequence(sa(0)), s0.fn());
        QVERIFY(s0.sent.contains("SWE:TIME 1;*OPC?\n"));
    }

    void analyzerResetWhenTicked()
    {
        Script s;
        s.failures["*RST;*OPC?\n"] = VI_ERROR_TMO;  // ignored like the other resets
        const Result r = run(analyzerSequence(sa(0, 5.192e9, true)), s.fn());
        QCOMPARE(r.status, VI_SUCCESS);
        QCOMPARE(s.sent.mid(0, 3), expected::saPreamble(true, true));
    }

    void analyzerFirstGroupSkipsOnlyItself()
    {
        // Each failure skips the rest of the first group; the sweep settings
        // follow. The trigger source (last) is ignored anyway.
        const QStringList level = expected::saLevel("5.192e+09");
        for (int i = 0; i < level.size(); ++i) {
            Script s;
            s.failures[level[i]] = kFail;
            const Result r = run(analyzerSequence(sa()), s.fn());
            QCOMPARE(r.status, VI_SUCCESS);
            QCOMPARE(s.sent, expected::saPreamble(true) + level.mid(0, i + 1)
                                 + expected::saSweep(0) + expected::saTrigger(false));
        }
    }

    void analyzerSecondGroupEndsRemote()
    {
        const QStringList sweep = expected::saSweep(0);
        for (int i = 0; i < sweep.size(); ++i) {
            Script s;
            s.failures[sweep[i]] = kFail;
            const Result r = run(analyzerSequence(sa()), s.fn());
            QCOMPARE(r.status, kFail);
            QVERIFY(!r.localSent);
            QCOMPARE(s.sent.last(), sweep[i]);
        }
    }

    void analyzerThirdGroupSkipsButEndsWithLocal()
    {
        const int before = expected::saPreamble(true).size() + 10;
        const QStringList trig = expected::saTrigger(false);
        for (int j = 0; j < trig.size(); ++j) {
            Script s;
            s.failNth = before + j;  // by position: the slope command comes twice
            const Result r = run(analyzerSequence(sa()), s.fn());
            QCOMPARE(r.status, VI_SUCCESS);
            QVERIFY(r.localSent);
            QCOMPARE(s.sent, expected::saAll(true, false, 0, "5.192e+09").mid(0, before + j + 1));
        }
    }

    void analyzerGoToLocalDecides()
    {
        Script s;
        s.failures["local"] = VI_ERROR_CONN_LOST;
        QCOMPARE(run(analyzerSequence(sa()), s.fn()).status, VI_ERROR_CONN_LOST);
    }

    void analyzerWithoutIdentification()
    {
        Script s;
        s.failures["*IDN?\n"] = VI_ERROR_TMO;
        s.identity = "Maker,ZOL,1,1\n";  // never seen: the query failed
        const Result r = run(analyzerSequence(sa()), s.fn());
        QCOMPARE(r.identification, QString());
        QCOMPARE(s.sent, expected::saAll(false, false, 0, "5.192e+09"));

        Script o;  // no session at all: the sweep group ends it
        o.failures["open"] = VI_ERROR_RSRC_NFOUND;
        o.failures[expected::saSweep(0).first()] = VI_ERROR_INV_OBJECT;
        const Result ro = run(analyzerSequence(sa()), o.fn());
        QCOMPARE(ro.status, VI_ERROR_INV_OBJECT);
        QVERIFY(!o.sent.contains("*IDN?\n"));
        QVERIFY(!ro.localSent);
    }

    void videoChain()
    {
        VideoParams p;
        p.reset = true;
        p.threshold = 35.0;
        Script s;
        Result r = run(videoSequence(p), s.fn());
        QCOMPARE(r.status, VI_SUCCESS);
        QCOMPARE(s.sent, expected::vaChain(true, "35"));
        QCOMPARE(s.actions.at(1), QString("tmo 10000"));
        QCOMPARE(s.actions.last(), QString("local"));

        // Every step but the reset ends the set-up, in remote.
        const QStringList keys = QStringList{"open", "tmo"} + expected::vaChain(true, "35");
        for (const QString& k : keys) {
            Script f;
            f.failures[k] = kFail;
            r = run(videoSequence(p), f.fn());
            if (k == "*RST;*OPC?\n") {
                QCOMPARE(r.status, VI_SUCCESS);
                continue;
            }
            QCOMPARE(r.status, kFail);
            QVERIFY(!r.localSent);
            QCOMPARE(f.actions.last(), k == "tmo" ? QString("tmo 10000") : k);
        }

        Script l;
        l.failures["local"] = VI_ERROR_NSUP_OPER;
        QCOMPARE(run(videoSequence(p), l.fn()).status, VI_ERROR_NSUP_OPER);

        p.reset = false;
        Script n;
        run(videoSequence(p), n.fn());
        QCOMPARE(n.sent, expected::vaChain(false, "35"));
    }

    void noCommandCanCarryAFormatDirective()
    {
        QVERIFY(noPercent(oscilloscopeSequence(os(0, true, true, -1e-30))));
        QVERIFY(noPercent(oscilloscopeSequence(os(1, true, true, 1e300))));
        QVERIFY(noPercent(analyzerSequence(sa(1, -1e-300, true))));
        VideoParams p;
        p.threshold = qQNaN();
        QVERIFY(noPercent(videoSequence(p)));
    }
};

QTEST_APPLESS_MAIN(TestSequence)
#include "tst_sequence.moc"
