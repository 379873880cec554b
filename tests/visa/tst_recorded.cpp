// The query functions and ReadArray of a real MainWindow over the recording
// VISA library: what is sent, what is kept, statuses no network peer
// produces, the trace file's place and life. Block contents end to end are
// in tst_transfer_bench.
#include "mainwindow.h"
#include "recvisa.h"
#include "testsupport.h"
#include "visabinding.h"
#include "visaquery.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

using testsupport::floatBytes;

namespace {
std::string str(const QByteArray& b)
{
    return b.toStdString();
}
const std::string kTwoValues = str("#18" + floatBytes(1.0f) + floatBytes(2.0f) + "\n");
}  // namespace

class TstRecorded : public QObject
{
    Q_OBJECT

    MainWindow* w = nullptr;
    ViSession vi = 0;

    bool readArray(QVector<double>* arr) { return testsupport::readArray(w, vi, "CHAN1:DATA?\n", arr); }

    QString lastTraceFile()
    {
        const auto files = recvisa::callsOf("readtofile");
        return files.empty() ? QString() : QString::fromStdString(files.back().text);
    }

private slots:
    void initTestCase()
    {
        setVisaCandidates({testsupport::recVisaPath()});
        w = new MainWindow;
    }
    void cleanupTestCase() { delete w; }

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
        QVERIFY2(f.isEmpty() || !QFileInfo::exists(f), qPrintable(f));
        QVERIFY(!QFileInfo::exists(QDir::current().filePath("Trace.tmp")));
    }

    void replies()
    {
        recvisa::replyTo("LONG?", "abcdefgh\n");
        recvisa::replyTo("SHORT?", "1\n");
        recvisa::replyTo("UTF?", std::string("gr\xc3\xbc\xc3\x9f\n\0tail", 12));
        QString reply;
        QCOMPARE(VisaQuery(vi, "LONG?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("abcdefgh\n"));  // terminator kept
        QCOMPARE(VisaQuery(vi, "SHORT?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("1\n"));  // nothing left of the longer one before
        QCOMPARE(VisaQuery(vi, "UTF?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString::fromUtf8("grüß\n"));  // UTF-8 up to the first zero
        QCOMPARE(recvisa::queries(), (std::vector<std::string>{"LONG?\n", "SHORT?\n", "UTF?\n"}));
    }

    // The library fills the buffer and still reports the status: any status
    // but 0 leaves the caller's reply alone, warnings included.
    void anyNonZeroStatusLeavesReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("timeout") << int(VI_ERROR_TMO);
        QTest::newRow("term char") << int(VI_SUCCESS_TERM_CHAR);
        QTest::newRow("max count") << int(VI_SUCCESS_MAX_CNT);
        QTest::newRow("warning") << int(VI_WARN_NSUP_ATTR_STATE);
    }
    void anyNonZeroStatusLeavesReply()
    {
        QFETCH(int, status);
        recvisa::replyTo("X?", "new\n");
        recvisa::failOn("query", "X?", status);
        QString reply = "previous";
        QCOMPARE(VisaQuery(vi, "X?\n", &reply), ViStatus(status));
        QCOMPARE(reply, QString("previous"));
        int i = 0;
        QCOMPARE(VisaQueryInt(vi, "X?\n", &i), ViStatus(status));
    }

    void numericQueries()
    {
        recvisa::replyTo("VAL?", "5.55E+01\n");
        recvisa::replyTo("STAT?", "1\n");
        double d = 0;
        int i = 0;
        QCOMPARE(VisaQueryDouble(vi, "READ:AVDA:TTV:VAL?\n", &d), VI_SUCCESS);
        QCOMPARE(d, 55.5);
        QCOMPARE(VisaQueryInt(vi, "READ:AVDA:TTV:STAT?\n", &i), VI_SUCCESS);
        QCOMPARE(i, 1);
    }

    void percentCannotBecomeAConversion()
    {
        QCOMPARE(queryWriteFormat("DISP:TEXT 50%;*OPC?\n"), QByteArray("DISP:TEXT 50%%;*OPC?\n"));
        QString reply;
        QCOMPARE(VisaQuery(vi, "DISP:TEXT 50%d;*OPC?\n", &reply), VI_SUCCESS);
        QCOMPARE(recvisa::queries(), std::vector<std::string>{"DISP:TEXT 50%d;*OPC?\n"});  // as written
    }

    void readsAndTraceFile()
    {
        recvisa::pushMessage(str("#15" + floatBytes(0.25f) + "Z\n"));
        QVector<double> arr{1, 2, 3};
        QVERIFY(readArray(&arr));
        QCOMPARE(arr, QVector<double>{0.25});
        const auto writes = recvisa::callsOf("write");
        QCOMPARE(writes.size(), std::size_t(1));
        QCOMPARE(writes[0].text, std::string("CHAN1:DATA?\n"));
        const auto reads = recvisa::callsOf("read");
        QCOMPARE(reads.size(), std::size_t(2));
        QCOMPARE(reads[0].value, 2ull);                               // "#n"
        QCOMPARE(reads[1].value, 1ull);                               // n length digits
        QCOMPARE(recvisa::callsOf("readtofile").at(0).value, 15ull);  // L + 10

        // In a private folder of this process, not in the working folder.
        const QFileInfo file(lastTraceFile());
        QCOMPARE(file.fileName(), QString("Trace.tmp"));
        QVERIFY(file.isAbsolute());
        QVERIFY(file.absolutePath().startsWith(QDir::tempPath()));
        QVERIFY(QFileInfo(file.absolutePath()).isDir());
        QCOMPARE(QFileInfo(file.absolutePath()).permissions()
                     & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::Permissions());
        // The next transfer reuses the folder.
        recvisa::pushMessage(kTwoValues);
        QVERIFY(readArray(&arr));
        QCOMPARE(lastTraceFile(), file.filePath());

        // The largest claim: the file read asks for L + 10, which fits 32 bits.
        recvisa::pushMessage(str("#9999999999" + floatBytes(5.0f) + "\n"));
        QVERIFY(!readArray(&arr));  // a short block fails
        QCOMPARE(recvisa::callsOf("readtofile").back().value, 1000000009ull);
    }

    void positiveStatusesInHeaderReadsAreFine()
    {
        recvisa::pushMessage(kTwoValues);
        recvisa::failOn("read", "", VI_SUCCESS_TERM_CHAR, 0, 1, 2);
        recvisa::failOn("read", "", VI_SUCCESS_MAX_CNT, 1, 1, 1);
        QVector<double> arr;
        QVERIFY(readArray(&arr));
        QCOMPARE(arr, (QVector<double>{1.0, 2.0}));
    }

    void failuresLeaveArrayAndNoFile_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("status");
        QTest::addColumn<long>("move");  // bytes still delivered by the failing read
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
        recvisa::pushMessage(kTwoValues);
        recvisa::failOn(op.toStdString(), "", status, skip, 1, move);
        QVector<double> arr{6};
        QVERIFY(!readArray(&arr));
        QCOMPARE(arr, QVector<double>{6});
        if (op == "write")
            QVERIFY(recvisa::callsOf("read").empty());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstRecorded tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_recorded.moc"
