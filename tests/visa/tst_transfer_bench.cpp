// End to end: the program's ReadArray and VisaQuery through our LAN VISA
// library against the simulated bench, well-formed and malformed blocks.
#include "bench.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "tracefile.h"
#include "visabinding.h"
#include "visaquery.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cmath>

using namespace quarnel::bench;

Q_DECLARE_METATYPE(BlockFault)

class TestTransferBench : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> bench;
    MainWindow* w = nullptr;
    ViSession rm = 0;
    ViSession vi = 0;

    bool readArray(const QString& cmd, QVector<double>* arr)
    {
        bool ok = false;
        if (!QMetaObject::invokeMethod(w, "ReadArray", Qt::DirectConnection,
                                       Q_RETURN_ARG(bool, ok), Q_ARG(ViSession, vi),
                                       Q_ARG(QString, cmd), Q_ARG(QVector<double>*, arr)))
            qFatal("ReadArray not invocable");
        return ok;
    }

    void addFault(const Fault& f)
    {
        bench->addFault(f);
    }

    Fault blockFault(BlockFault kind)
    {
        Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = FaultKind::MalformedBlock;
        f.match = "CHAN1:DATA?";
        f.block = kind;
        return f;
    }

    // The session answers the next command with its own reply, not with
    // leftovers of an earlier one.
    void verifySessionUsable()
    {
        QString idn;
        QCOMPARE(VisaQuery(vi, "*IDN?\n", &idn), VI_SUCCESS);
        QCOMPARE(idn.toStdString(), bench->options().scopeIdentity + "\n");
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr.size(), 20000);
    }

    static void verifyNoTraceFileLeft()
    {
        QVERIFY(!QFileInfo::exists(traceTempFile()));
        QVERIFY(!QFileInfo::exists(QDir::current().filePath("Trace.tmp")));
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
        // Short enough that the time-out cases stay quick.
        QCOMPARE(VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
        QString reply;
        QCOMPARE(VisaQuery(vi, "FORM REAL,32;*OPC?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("1\n"));
    }

    void cleanup()
    {
        VisaClose(vi);
        vi = 0;
        verifyNoTraceFileLeft();
    }

    void wellFormedTrace()
    {
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr.size(), 20000);
        for (double v : arr)
            QVERIFY(std::isfinite(v) && std::fabs(v) < 10.0);
        // Every value is a single-precision value widened.
        for (double v : arr)
            QCOMPARE(double(float(v)), v);
        verifyNoTraceFileLeft();
        QCOMPARE(bench->messages(Instrument::Oscilloscope).back(), std::string("CHAN1:DATA?\n"));
    }

    void asciiReplyIsRejectedAndDiscarded()
    {
        QString reply;
        QCOMPARE(VisaQuery(vi, "FORM ASC;*OPC?\n", &reply), VI_SUCCESS);
        QVector<double> arr{1.5};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{1.5});
        QCOMPARE(VisaQuery(vi, "FORM REAL,32;*OPC?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("1\n"));
        verifySessionUsable();
    }

    void malformedHeaders_data()
    {
        QTest::addColumn<BlockFault>("kind");
        QTest::newRow("no hash") << BlockFault::NoHash;
        QTest::newRow("indefinite length") << BlockFault::IndefiniteLength;
        QTest::newRow("letter for the digit count") << BlockFault::NonDigitCount;
        QTest::newRow("letter in the length") << BlockFault::NonDigitLength;
    }
    void malformedHeaders()
    {
        QFETCH(BlockFault, kind);
        addFault(blockFault(kind));
        QVector<double> arr{1.0, 2.0, 3.0};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, (QVector<double>{1.0, 2.0, 3.0}));
        verifyNoTraceFileLeft();
        verifySessionUsable();
    }

    // The data part holds fewer bytes than declared, or the header claims far
    // more than is sent: a failed transfer, the trace as it was, nothing
    // allocated for the claim, the session still usable.
    void shortOrOverclaimedData_data()
    {
        QTest::addColumn<BlockFault>("kind");
        QTest::newRow("short data") << BlockFault::ShortData;
        QTest::newRow("length far beyond") << BlockFault::LengthFarBeyond;
    }
    void shortOrOverclaimedData()
    {
        QFETCH(BlockFault, kind);
        addFault(blockFault(kind));
        QVector<double> arr{1.0, 2.0};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, (QVector<double>{1.0, 2.0}));
        verifyNoTraceFileLeft();
        verifySessionUsable();
    }

    void newlineInsideTheData()
    {
        addFault(blockFault(BlockFault::NewlineInData));
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr.size(), 20000);
        verifySessionUsable();
    }

    void connectionDroppedInsideTheBlock()
    {
        Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = FaultKind::DropConnection;
        f.match = "CHAN1:DATA?";
        f.afterBytes = 1000;
        addFault(f);
        QVector<double> arr{4.0};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{4.0});
    }

    void noReplyTimesOut()
    {
        Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = FaultKind::NoReply;
        f.match = "CHAN2:DATA?";
        addFault(f);
        QVector<double> arr{4.0};
        QVERIFY(!readArray("CHAN2:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{4.0});
        verifySessionUsable();
    }

    void unknownSessionFailsTheWrite()
    {
        QVector<double> arr{4.0};
        const ViSession saved = vi;
        vi = 0xdead;
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        vi = saved;
        QCOMPARE(arr, QVector<double>{4.0});
    }

    void longTextReplyTakenWhole()
    {
        Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = FaultKind::ReplaceReply;
        f.match = "*IDN?";
        f.text = std::string(19999, 'a') + "b" + std::string(50, 'c') + "\n";
        addFault(f);
        QString reply = "before";
        QCOMPARE(VisaQuery(vi, "*IDN?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply.size(), 20000);
        QCOMPARE(reply.at(19999), QChar('b'));
    }

    void failedQueryKeepsReply()
    {
        Fault f;
        f.instrument = Instrument::Oscilloscope;
        f.kind = FaultKind::NoReply;
        f.match = "*IDN?";
        addFault(f);
        QString reply = "before";
        QVERIFY(VisaQuery(vi, "*IDN?\n", &reply) != VI_SUCCESS);
        QCOMPARE(reply, QString("before"));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TestTransferBench tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_transfer_bench.moc"
