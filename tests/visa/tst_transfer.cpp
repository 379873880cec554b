// ReadArray / IntReadArray of a real MainWindow over the recording VISA
// library: calls made, statuses honoured, the trace file's life.
#include "mainwindow.h"
#include "recvisa.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

QByteArray le(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    QByteArray out(4, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}

std::string str(const QByteArray& b)
{
    return std::string(b.constData(), std::size_t(b.size()));
}

std::vector<recvisa::Call> callsOf(const std::string& op)
{
    std::vector<recvisa::Call> out;
    for (const recvisa::Call& c : recvisa::calls())
        if (c.op == op)
            out.push_back(c);
    return out;
}

}  // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

    MainWindow* w = nullptr;
    ViSession vi = 0;

    bool readArray(const QString& cmd, QVector<double>* arr)
    {
        bool ok = false;
        const bool invoked = QMetaObject::invokeMethod(
            w, "ReadArray", Qt::DirectConnection, Q_RETURN_ARG(bool, ok), Q_ARG(ViSession, vi),
            Q_ARG(QString, cmd), Q_ARG(QVector<double>*, arr));
        if (!invoked)
            qFatal("ReadArray not invocable");
        return ok;
    }

    // The trace file the last transfer used (empty if none reached the file read).
    QString lastTraceFile()
    {
        const auto files = callsOf("readtofile");
        return files.empty() ? QString() : QString::fromStdString(files.back().text);
    }

private slots:
    void initTestCase()
    {
        setVisaCandidates({QStringLiteral(RECVISA_PATH)});
        w = new MainWindow;
    }

    void cleanupTestCase()
    {
        delete w;
    }

    void init()
    {
        recvisa::reset();
        ViSession rm = 0;
        QCOMPARE(VisaOpenDefaultRM(&rm), VI_SUCCESS);
        QCOMPARE(VisaOpen(rm, "TCPIP::10.0.0.1::INSTR", VI_NO_LOCK, 10000, &vi), VI_SUCCESS);
    }

    void cleanup()
    {
        // Whatever happened, no trace file stays behind.
        const QString f = lastTraceFile();
        if (!f.isEmpty())
            QVERIFY2(!QFileInfo::exists(f), qPrintable(f));
        QVERIFY(!QFileInfo::exists(QDir::current().filePath("Trace.tmp")));
    }

    void fiveDataBytesGiveOneValue()
    {
        recvisa::pushMessage(str("#15" + le(0.25f) + "Z\n"));
        QVector<double> arr{1, 2, 3};
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{0.25});

        const auto writes = callsOf("write");
        QCOMPARE(writes.size(), std::size_t(1));
        QCOMPARE(writes[0].text, std::string("CHAN1:DATA?\n"));
        QCOMPARE(writes[0].value, 12ull);
        const auto reads = callsOf("read");
        QCOMPARE(reads.size(), std::size_t(2));
        QCOMPARE(reads[0].value, 2ull);
        QCOMPARE(reads[1].value, 1ull);
        QCOMPARE(callsOf("readtofile").at(0).value, 15ull);  // L + 10
    }

    void declaredLengthBelowOneValue()
    {
        for (int l = 0; l <= 3; ++l) {
            recvisa::pushMessage(str("#1" + QByteArray::number(l) + QByteArray(l, 'q') + "\n"));
            QVector<double> arr{7};
            QVERIFY(readArray("CHAN2:DATA?\n", &arr));
            QVERIFY(arr.isEmpty());
        }
    }

    void twentyThousandPointsBitExact()
    {
        QByteArray data;
        QVector<float> sent;
        for (int i = 0; i < 20000; ++i) {
            const float f = float(i) * 0.37f - 3000.0f + float(i % 7) * 1e-7f;
            sent << f;
            data += le(f);
        }
        recvisa::pushMessage(str("#6080000" + data + "\n"));
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr.size(), 20000);
        for (int i = 0; i < 20000; ++i)
            QCOMPARE(arr[i], double(sent[i]));

        // The file lived in a folder of this process, not in the working folder.
        const QFileInfo file(lastTraceFile());
        QCOMPARE(file.fileName(), QString("Trace.tmp"));
        QVERIFY(file.isAbsolute());
        QVERIFY(file.absolutePath() != QDir::currentPath());
        QVERIFY(file.absolutePath().startsWith(QDir::tempPath()));
        QVERIFY(!file.exists());
        const QFileInfo dir(file.absolutePath());
        QVERIFY(dir.isDir());
        QCOMPARE(dir.permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup
                                      | QFile::WriteGroup),
                 QFile::Permissions());
    }

    void positiveStatusesInHeaderReadsAreFine()
    {
        recvisa::pushMessage(str("#14" + le(4.0f) + "\n"));
        // Both header reads report a completion code while still delivering.
        recvisa::failOn("read", "", VI_SUCCESS_TERM_CHAR, 0, 1, 2);
        recvisa::failOn("read", "", VI_SUCCESS_MAX_CNT, 1, 1, 1);
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{4.0});
    }

    void shortDataFailsAndLeavesTheTraceAlone()
    {
        // A block cut short is a failed transfer, whatever did arrive.
        recvisa::pushMessage(str("#216" + le(1.0f) + le(2.0f) + "\n"));
        QVector<double> arr{7.0};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{7.0});

        // A header claiming the maximum: the file read is asked for L + 10,
        // which still fits 32 bits; nothing is allocated for the claim.
        recvisa::pushMessage(str("#9999999999" + le(5.0f) + "\n"));
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{7.0});
        QCOMPARE(callsOf("readtofile").back().value, 1000000009ull);
    }

    void surplusIsDroppedNotLeftForTheNextReply()
    {
        // More than L + 10 bytes follow the header.
        recvisa::pushMessage(str("#18" + le(1.0f) + le(2.0f) + QByteArray(100, 'x') + "\n"));
        QVector<double> arr;
        QVERIFY(readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, (QVector<double>{1.0, 2.0}));
        QCOMPARE(recvisa::pendingBytes(), std::size_t(0));
    }

    void malformedHeadersFailAndAreDiscarded_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("fileRead");
        const QByteArray data = le(1.0f) + le(2.0f);
        QTest::newRow("ascii reply") << QByteArray("1.0,2.0,3.0\n") << false;
        QTest::newRow("no hash") << QByteArray("18") + data + "\n" << false;
        QTest::newRow("indefinite") << QByteArray("#0") + data + "\n" << false;
        QTest::newRow("letter count") << QByteArray("#x8") + data + "\n" << false;
        QTest::newRow("letter in length") << QByteArray("#3a08") + data + "\n" << false;
        QTest::newRow("length cut short") << QByteArray("#508") << false;
    }
    void malformedHeadersFailAndAreDiscarded()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, fileRead);
        recvisa::pushMessage(str(reply));
        recvisa::pushMessage("next\n");
        QVector<double> arr{9, 8};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, (QVector<double>{9, 8}));
        QCOMPARE(callsOf("readtofile").empty(), !fileRead);
        // The rejected reply is gone; the next message is intact.
        QCOMPARE(recvisa::pendingBytes(), std::size_t(5));
    }

    void failuresLeaveArrayAndNoFile_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("status");
        QTest::addColumn<long>("move");
        QTest::newRow("write fails") << "write" << 0 << int(VI_ERROR_TMO) << 0L;
        QTest::newRow("write warns") << "write" << 0 << int(VI_WARN_NSUP_ATTR_STATE) << 0L;
        QTest::newRow("first header read") << "read" << 0 << int(VI_ERROR_TMO) << 0L;
        QTest::newRow("length read") << "read" << 1 << int(VI_ERROR_CONN_LOST) << 3L;
        QTest::newRow("file read after partial data") << "readtofile" << 0 << int(VI_ERROR_TMO) << 5L;
        QTest::newRow("file cannot be made") << "readtofile" << 0 << int(VI_ERROR_FILE_ACCESS) << 0L;
        QTest::newRow("file write fails") << "readtofile" << 0 << int(VI_ERROR_FILE_IO) << 8L;
    }
    void failuresLeaveArrayAndNoFile()
    {
        QFETCH(QString, op);
        QFETCH(int, skip);
        QFETCH(int, status);
        QFETCH(long, move);
        recvisa::pushMessage(str("#18" + le(1.0f) + le(2.0f) + "\n"));
        recvisa::failOn(op.toStdString(), "", status, skip, 1, move);
        QVector<double> arr{6};
        QVERIFY(!readArray("CHAN1:DATA?\n", &arr));
        QCOMPARE(arr, QVector<double>{6});
        if (op == "write")
            QVERIFY(callsOf("read").empty());
    }

    void repeatedTransfersReuseTheFolder()
    {
        QString first;
        for (int i = 0; i < 3; ++i) {
            recvisa::pushMessage(str("#14" + le(float(i)) + "\n"));
            QVector<double> arr;
            QVERIFY(readArray("CHAN1:DATA?\n", &arr));
            QCOMPARE(arr, QVector<double>{double(i)});
            if (i == 0)
                first = lastTraceFile();
            QCOMPARE(lastTraceFile(), first);
        }
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TestTransfer tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_transfer.moc"
