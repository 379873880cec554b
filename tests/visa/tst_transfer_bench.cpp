// End to end: the program's ReadArray and VisaQuery through our LAN VISA
// library against the simulated bench, with well-formed, edge-case and
// malformed replies. After each: no trace file left, the session usable.
#include "bench.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "tracefile.h"
#include "tracetransfer.h"
#include "visabinding.h"
#include "visaquery.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cmath>
#include <cstring>

using namespace quarnel::bench;
using testsupport::floatBytes;

Q_DECLARE_METATYPE(BlockFault)

namespace {
Fault fault(FaultKind kind, const char* match)
{
    Fault f;
    f.kind = kind;
    f.match = match;
    return f;
}
}  // namespace

class TstTransferBench : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> bench;
    MainWindow* w = nullptr;
    ViSession rm = 0;
    ViSession vi = 0;

    bool readArray(QVector<double>* arr, const char* cmd = "CHAN1:DATA?\n")
    {
        return testsupport::readArray(w, vi, cmd, arr);
    }

    // The next command gets its own reply, not leftovers of an earlier one.
    void verifySessionUsable()
    {
        QString idn;
        QCOMPARE(VisaQuery(vi, "*IDN?\n", &idn), VI_SUCCESS);
        QCOMPARE(idn.toStdString(), bench->options().scopeIdentity + "\n");
        QVector<double> arr;
        QVERIFY(readArray(&arr));
        QCOMPARE(arr.size(), 20000);
    }

private slots:
    void initTestCase()
    {
        bench.reset(new Bench(testOptions()));
        std::string error;
        QVERIFY2(bench->start(&error), error.c_str());
        setVisaCandidates({QStringLiteral(LANVISA_PATH)});
        w = new MainWindow;
        QCOMPARE(VisaOpenDefaultRM(&rm), VI_SUCCESS);
    }

    void cleanupTestCase()
    {
        delete w;
        bench.reset();
    }

    void init()
    {
        bench->clearFaults();
        const QString rsrc = QString::fromStdString(bench->resourceString(Instrument::Oscilloscope));
        QCOMPARE(VisaOpen(rm, rsrc, VI_NO_LOCK, 10000, &vi), VI_SUCCESS);
        QCOMPARE(VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);  // quick time-outs
        QString reply;
        QCOMPARE(VisaQuery(vi, "FORM REAL,32;*OPC?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("1\n"));
    }

    void cleanup()
    {
        VisaClose(vi);
        QVERIFY(!QFileInfo::exists(traceTempFile()));
        QVERIFY(!QFileInfo::exists(QDir::current().filePath("Trace.tmp")));
    }

    void wellFormedTrace()
    {
        QVector<double> arr;
        QVERIFY(readArray(&arr));
        QCOMPARE(arr.size(), 20000);
        for (double v : arr)  // single-precision values widened, in range
            QVERIFY(std::fabs(v) < 10.0 && double(float(v)) == v);
        QCOMPARE(bench->messages(Instrument::Oscilloscope).back(), std::string("CHAN1:DATA?\n"));
    }

    // The bench sends `reply` in place of the trace.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVector<double>>("values");
        QTest::newRow("five bytes give one value") << "#15" + floatBytes(-0.75f) + "Z\n"
                                                   << true << QVector<double>{-0.75};
        for (int l = 0; l <= 3; ++l)
            QTest::addRow("L = %d", l) << "#1" + QByteArray::number(l) + QByteArray(l, 'q') + "\n"
                                       << true << QVector<double>{};
        QTest::newRow("surplus dropped") << "#18" + floatBytes(1.5f) + floatBytes(-2.0f) + QByteArray(100, 'x') + "\n"
                                         << true << QVector<double>{1.5, -2.0};
        QTest::newRow("ascii") << QByteArray("1.0,2.0,3.0\n") << false << QVector<double>{};
        QTest::newRow("length cut short") << QByteArray("#508\n") << false << QVector<double>{};
    }
    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QFETCH(QVector<double>, values);
        Fault f = fault(FaultKind::ReplaceReply, "CHAN1:DATA?");
        f.text = reply.toStdString();
        bench->addFault(f);
        QVector<double> arr{9, 8};
        QCOMPARE(readArray(&arr), ok);
        if (ok) {
            QCOMPARE(arr.size(), values.size());
            QVERIFY(std::memcmp(arr.constData(), values.constData(), 8 * size_t(arr.size())) == 0);
        } else {
            QCOMPARE(arr, (QVector<double>{9, 8}));
        }
        verifySessionUsable();
    }

    void malformedBlocks_data()
    {
        QTest::addColumn<BlockFault>("kind");
        QTest::addColumn<bool>("ok");
        QTest::newRow("no hash") << BlockFault::NoHash << false;
        QTest::newRow("indefinite length") << BlockFault::IndefiniteLength << false;
        QTest::newRow("letter for the digit count") << BlockFault::NonDigitCount << false;
        QTest::newRow("letter in the length") << BlockFault::NonDigitLength << false;
        QTest::newRow("short data") << BlockFault::ShortData << false;
        QTest::newRow("length far beyond") << BlockFault::LengthFarBeyond << false;
        QTest::newRow("newline inside the data") << BlockFault::NewlineInData << true;
    }
    void malformedBlocks()
    {
        QFETCH(BlockFault, kind);
        QFETCH(bool, ok);
        Fault f = fault(FaultKind::MalformedBlock, "CHAN1:DATA?");
        f.block = kind;
        bench->addFault(f);
        QVector<double> arr{1.0, 2.0, 3.0};
        QString why;
        QCOMPARE(queryTraceBlock(vi, "CHAN1:DATA?\n", &arr, &why), ok);
        QCOMPARE(why.isEmpty(), ok);
        QCOMPARE(arr.size(), ok ? 20000 : 3);
        if (!ok)
            QCOMPARE(arr, (QVector<double>{1.0, 2.0, 3.0}));
        verifySessionUsable();
    }

    void transportFailures()
    {
        QVector<double> arr{4.0};
        bench->addFault(fault(FaultKind::NoReply, "CHAN2:DATA?"));
        QVERIFY(!readArray(&arr, "CHAN2:DATA?\n"));
        verifySessionUsable();
        arr = {4.0};
        const ViSession saved = vi;
        vi = 0xdead;  // no such session: the write fails
        QVERIFY(!readArray(&arr));
        vi = saved;
        Fault drop = fault(FaultKind::DropConnection, "CHAN1:DATA?");
        drop.afterBytes = 1000;  // inside the block
        bench->addFault(drop);
        QVERIFY(!readArray(&arr));
        QCOMPARE(arr, QVector<double>{4.0});
    }

    // A block, then a stream that never ends (a piece every 300 ms, faster
    // than the time-out): dropping the rest gives up after the session's
    // time-out in all, or at once when the check says stop; the session is
    // cleared and keeps its time-out.
    void endlessReply()
    {
        Fault f = fault(FaultKind::EndlessReply, "CHAN1:DATA?");
        f.delayMs = 300;
        bench->addFault(f);
        QVector<double> arr{7.0};
        QString why;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!queryTraceBlock(vi, "CHAN1:DATA?\n", &arr, &why));
        QVERIFY2(clock.elapsed() < 3 * 2000, qPrintable(QString::number(clock.elapsed())));  // no hang
        QCOMPARE(arr, QVector<double>{7.0});
        QVERIFY2(why.contains("did not end"), qPrintable(why));
        ViUInt32 tmo = 0;
        QCOMPARE(VisaGetAttribute(vi, VI_ATTR_TMO_VALUE, &tmo), VI_SUCCESS);
        QCOMPARE(tmo, ViUInt32(2000));
        verifySessionUsable();

        bench->addFault(f);
        int asked = 0;
        QVERIFY(!queryTraceBlock(vi, "CHAN1:DATA?\n", &arr, &why, [&] { return ++asked > 1; }));
        QCOMPARE(asked, 1);
        verifySessionUsable();
    }

    void textReplies()
    {
        Fault big = fault(FaultKind::ReplaceReply, "*IDN?");
        big.text = std::string(19999, 'a') + "b" + std::string(50, 'c') + "\n";
        bench->addFault(big);
        QString reply = "before";
        QCOMPARE(VisaQuery(vi, "*IDN?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply.size(), 20000);  // the whole buffer, no terminating zero needed
        QCOMPARE(reply.at(19999), QChar('b'));

        bench->addFault(fault(FaultKind::NoReply, "*IDN?"));
        reply = "before";
        QVERIFY(VisaQuery(vi, "*IDN?\n", &reply) != VI_SUCCESS);
        QCOMPARE(reply, QString("before"));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstTransferBench tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_transfer_bench.moc"
