// The Init sequences and their runner through a scripted send function:
// every failure rule of both oscilloscope families, the analyzer's groups and
// model tests, the video analyzer's chain. Whether the commands set what they
// should is the bench's to say (tst_init_bench).
#include "sequence.h"

#include <QtTest>

using namespace setup;

namespace {

const ViStatus kFail = VI_ERROR_TMO;

// Stands in for the instrument: logs what is sent, fails what it is told to.
struct Script
{
    QStringList sent;     // query commands only
    QStringList actions;  // everything: "open", "tmo 5000", commands, "local"
    QString identity = "Maker,KLE 3,100,1.0\n";
    QMap<QString, ViStatus> failures;  // by command text, "open", "tmo", "local"
    int failNth = -1;                  // fail the n-th query (0-based) instead
    ViStatus failStatus = kFail;

    Result run(const Sequence& seq)
    {
        return setup::run(seq, [this](const Step* s, QString* reply) -> ViStatus {
            const QString key = !s                                ? "local"
                                : s->kind == StepKind::Open       ? "open"
                                : s->kind == StepKind::SetTimeout ? "tmo"
                                                                  : s->command;
            actions << (key == "tmo" ? QString("tmo %1").arg(s->timeoutMs) : key);
            if (s && s->kind == StepKind::Query) {
                sent << s->command;
                if (sent.size() - 1 == failNth)
                    return failStatus;
                *reply = s->command == "*IDN?\n" && !failures.contains(key) ? identity : "1\n";
            }
            return failures.value(key, VI_SUCCESS);
        });
    }
};

Sequence os(int type, bool ifDemod = false, bool reset = false, double level = 0.035)
{
    return oscilloscopeSequence({type, reset, ifDemod, level});
}

Sequence sa(int osTyp = 0, double centre = 5.192e9, bool reset = false)
{
    return analyzerSequence({osTyp, reset, centre});
}

Sequence va(bool reset, double threshold = 35.0)
{
    return videoSequence({reset, threshold});
}

}  // namespace

class TstSequence : public QObject
{
    Q_OBJECT

private slots:
    // Step i (1-based, the sequence with channel 3) failing: step 14 is
    // ignored, steps up to 13 end in remote, later ones after the go-to-local.
    void oscilloscopeFirstFamily()
    {
        Script ok;
        QCOMPARE(ok.run(os(0, true)).status, VI_SUCCESS);
        QCOMPARE(ok.actions.mid(0, 2), (QStringList{"open", "tmo 5000"}));
        QCOMPARE(ok.actions.last(), QString("local"));
        const int steps = 26;
        for (int i = 1; i <= steps; ++i) {
            Script s;
            s.failNth = i;  // query 0 is SYST:ERR?
            const Result r = s.run(os(0, true));
            const QString where = QString("step %1").arg(i);
            QVERIFY2(r.status == (i == 14 ? VI_SUCCESS : kFail), qPrintable(where));
            QVERIFY2(s.sent.size() == (i == 14 ? steps : i) + 1, qPrintable(where));
            QVERIFY2(r.localSent == (i >= 14), qPrintable(where));
        }
    }

    void oscilloscopeSecondFamily()
    {
        Script ok;  // any index but 0 is the second family
        QCOMPARE(ok.run(os(7, true, true, -0.0125)).status, VI_SUCCESS);
        QCOMPARE(ok.sent.size(), 27);
        QCOMPARE(ok.sent.mid(0, 2), (QStringList{"SYST:ERR?\n", "*RST;*OPC?\n"}));
        QVERIFY(ok.sent.contains("TRIG:A:LEV1 -0.0125;*OPC?\n"));
        QCOMPARE(ok.actions.last(), QString("local"));
        for (int i = 1; i <= 25; ++i) {  // every step ends it, in remote
            Script s;
            s.failNth = i;
            const Result r = s.run(os(1));
            QCOMPARE(r.status, kFail);
            QCOMPARE(s.sent.size(), i + 1);
            QVERIFY(!r.localSent);
        }
        Script p;  // a positive completion code is a failure too
        p.failNth = 3;
        p.failStatus = VI_SUCCESS_MAX_CNT;
        QCOMPARE(p.run(os(1)).status, VI_SUCCESS_MAX_CNT);
        QCOMPARE(p.sent.size(), 4);
    }

    void oscilloscopePreambleNeverStopsTheSequence()
    {
        Script noSession;  // the family sequence still gets its first try
        noSession.failures["open"] = VI_ERROR_RSRC_NFOUND;
        noSession.failNth = 0;
        Result r = noSession.run(os(0, false, true));
        QCOMPARE(noSession.actions, (QStringList{"open", "ACQ:POIN:AUTO 1;*OPC?\n"}));
        QCOMPARE(r.status, kFail);
        QVERIFY(!r.localSent);

        Script noTimeout;  // no SYST:ERR?, no reset without a time-out
        noTimeout.failures["tmo"] = VI_ERROR_NSUP_ATTR;
        QCOMPARE(noTimeout.run(os(1, false, true)).status, VI_SUCCESS);
        QCOMPARE(noTimeout.sent.size(), 25);
        QCOMPARE(noTimeout.sent.first(), QString("TRIG:B:ENAB OFF;*OPC?\n"));

        Script noErrorQuery;
        noErrorQuery.failures["SYST:ERR?\n"] = VI_ERROR_TMO;
        noErrorQuery.run(os(1, false, true));
        QVERIFY(!noErrorQuery.sent.contains("*RST;*OPC?\n"));

        Script resetFails;  // ignored; so is the go-to-local's status here
        resetFails.failures["*RST;*OPC?\n"] = VI_ERROR_TMO;
        resetFails.failures["local"] = VI_ERROR_NSUP_OPER;
        r = resetFails.run(os(1, false, true));
        QCOMPARE(r.status, VI_SUCCESS);
        QVERIFY(r.localSent);
    }

    void analyzerModels_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::addColumn<bool>("kle");
        QTest::addColumn<bool>("zol");
        // ZOL is also a bench row.
        QTest::newRow("KLE") << "Maker,KLE 3,100,1.0\n" << true << false;
        QTest::newRow("lower-case kle") << "maker,kle,1,1\n" << true << false;
        QTest::newRow("both") << "Maker,KLE-ZOL,1,1\n" << true << true;
        QTest::newRow("neither") << "Maker,Other,1,1\n" << false << false;
    }
    void analyzerModels()
    {
        QFETCH(QString, identity);
        QFETCH(bool, kle);
        QFETCH(bool, zol);
        Script s;
        s.identity = identity;
        const Result r = s.run(sa());
        QCOMPARE(r.status, VI_SUCCESS);
        QCOMPARE(r.identification, identity);
        QCOMPARE(s.sent.contains("FREQ:MODE SW;*OPC?\n"), kle);
        QCOMPARE(s.sent.contains("OUTP:IF VID;*OPC?\n"), !zol);
        QCOMPARE(s.sent.size(), 14 + int(kle) + (zol ? 0 : 2));
        QCOMPARE(s.actions.at(1), QString("tmo 5000"));
        QCOMPARE(s.actions.last(), QString("local"));
    }

    void analyzerParameters()
    {
        Script s;
        s.failures["*RST;*OPC?\n"] = VI_ERROR_TMO;  // ignored like the other resets
        QCOMPARE(s.run(sa(1, 2.412345678e9, true)).status, VI_SUCCESS);
        QCOMPARE(s.sent.mid(0, 3), (QStringList{"*IDN?\n", "*RST;*OPC?\n", "FREQ:MODE SW;*OPC?\n"}));
        QVERIFY(s.sent.contains("FREQ:CENT 2.41235e+09;*OPC?\n"));
        QVERIFY(s.sent.contains("SWE:TIME 1.2;*OPC?\n"));
    }

    // First group: a failure skips the rest of it (the trigger source, last,
    // is ignored anyway). Second group: ends it in remote. Third group: skips
    // the rest, the go-to-local follows and decides the result.
    void analyzerGroups()
    {
        Script ok;  // *IDN?, the mode, then three groups of five
        ok.run(sa());
        const QStringList all = ok.sent, pre = all.mid(0, 2), level = all.mid(2, 5), sweep = all.mid(7, 5),
                          trig = all.mid(12);
        QCOMPARE(trig.size(), 5);
        for (int i = 0; i < level.size(); ++i) {
            Script s;
            s.failures[level[i]] = kFail;
            QCOMPARE(s.run(sa()).status, VI_SUCCESS);
            QCOMPARE(s.sent, pre + level.mid(0, i + 1) + sweep + trig);
        }
        for (int i = 0; i < sweep.size(); ++i) {
            Script s;
            s.failures[sweep[i]] = kFail;
            const Result r = s.run(sa());
            QCOMPARE(r.status, kFail);
            QVERIFY(!r.localSent);
            QCOMPARE(s.sent, pre + level + sweep.mid(0, i + 1));
        }
        const int before = pre.size() + level.size() + sweep.size();
        for (int j = 0; j < trig.size(); ++j) {
            Script s;
            s.failNth = before + j;  // by position: the slope command comes twice
            const Result r = s.run(sa());
            QCOMPARE(r.status, VI_SUCCESS);
            QVERIFY(r.localSent);
            QCOMPARE(s.sent, all.mid(0, before + j + 1));
        }
        Script local;
        local.failures["local"] = VI_ERROR_CONN_LOST;
        QCOMPARE(local.run(sa()).status, VI_ERROR_CONN_LOST);
    }

    void analyzerWithoutIdentification()
    {
        Script s;
        s.failures["*IDN?\n"] = VI_ERROR_TMO;
        s.identity = "Maker,ZOL,1,1\n";  // never seen: the query failed
        QCOMPARE(s.run(sa()).identification, QString());
        QCOMPARE(s.sent.size(), 16);  // no mode, the IF output commands
        QVERIFY(!s.sent.contains("FREQ:MODE SW;*OPC?\n"));

        Script o;  // no session at all: the sweep group ends it
        o.failures["open"] = VI_ERROR_RSRC_NFOUND;
        o.failures["SWE:TIME 1;*OPC?\n"] = VI_ERROR_INV_OBJECT;
        const Result r = o.run(sa());
        QCOMPARE(r.status, VI_ERROR_INV_OBJECT);
        QVERIFY(!o.sent.contains("*IDN?\n"));
        QVERIFY(!r.localSent);
    }

    void videoChain()
    {
        QStringList chain;
        for (bool reset : {false, true}) {
            Script s;
            QCOMPARE(s.run(va(reset)).status, VI_SUCCESS);
            QCOMPARE(s.sent.size(), 4 + int(reset));
            QCOMPARE(s.sent.first() == "*RST;*OPC?\n", reset);
            QVERIFY(s.sent.contains("CONF:AVDA:TTV:APL:THR 35;*OPC?\n"));
            chain = s.sent;
            QCOMPARE(s.actions.at(1), QString("tmo 10000"));
            QCOMPARE(s.actions.last(), QString("local"));
        }
        // Every step but the reset ends the set-up, in remote; the go-to-local decides.
        for (const QString& k : QStringList{"open", "tmo", "local"} + chain) {
            Script f;
            f.failures[k] = kFail;
            const Result r = f.run(va(true));
            QCOMPARE(r.status, k == "*RST;*OPC?\n" ? VI_SUCCESS : kFail);
            QCOMPARE(r.localSent, k == "*RST;*OPC?\n" || k == "local");
            if (r.status != VI_SUCCESS)
                QCOMPARE(f.actions.last(), k == "tmo" ? QString("tmo 10000") : k);
        }
    }

    void noCommandCanCarryAFormatDirective()
    {
        for (const Sequence& seq :
             {os(0, true, true, -1e-30), os(1, true, true, 1e300), sa(1, -1e-300, true), va(true, qQNaN())})
            for (const Group& g : seq.groups)
                for (const Step& s : g.steps)
                    QVERIFY2(!s.command.contains('%'), qPrintable(s.command));
    }
};

QTEST_APPLESS_MAIN(TstSequence)
#include "tst_sequence.moc"
