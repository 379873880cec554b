// The query functions against the recording VISA library: what is sent, and
// which statuses count.
#include "recvisa.h"
#include "visabinding.h"
#include "visaquery.h"

#include <QtTest>

class TestQuery : public QObject
{
    Q_OBJECT

    ViSession vi = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(LoadVisa(QStringList{QStringLiteral(RECVISA_PATH)}));
    }

    void init()
    {
        recvisa::reset();
        ViSession rm = 0;
        QCOMPARE(VisaOpenDefaultRM(&rm), VI_SUCCESS);
        QCOMPARE(VisaOpen(rm, "TCPIP::10.0.0.1::INSTR", VI_NO_LOCK, 10000, &vi), VI_SUCCESS);
    }

    void commandIsSentVerbatimAndReplyKept()
    {
        recvisa::replyTo("*IDN?", "Maker,KLE 7,123,1.0\n");
        QString reply = "old";
        QCOMPARE(VisaQuery(vi, "*IDN?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("Maker,KLE 7,123,1.0\n"));  // terminator kept
        QCOMPARE(recvisa::queries(), std::vector<std::string>{"*IDN?\n"});
    }

    void replyIsUtf8UpToFirstZero()
    {
        recvisa::replyTo("A?", std::string("gr\xc3\xbc\xc3\x9f\n\0tail", 12));
        QString reply;
        QCOMPARE(VisaQuery(vi, "A?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString::fromUtf8("grüß\n"));
    }

    void fullBufferTakenWhole()
    {
        // 20000 bytes without any zero: the whole buffer is the reply.
        std::string big(20000, 'x');
        big[19999] = 'y';
        recvisa::replyTo("BIG?", big + "overflow");
        QString reply;
        QCOMPARE(VisaQuery(vi, "BIG?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply.size(), 20000);
        QCOMPARE(reply.at(19999), QChar('y'));
    }

    void bufferZeroedEachCall()
    {
        recvisa::replyTo("LONG?", "abcdefgh\n");
        recvisa::replyTo("SHORT?", "1\n");
        QString reply;
        QCOMPARE(VisaQuery(vi, "LONG?\n", &reply), VI_SUCCESS);
        QCOMPARE(VisaQuery(vi, "SHORT?\n", &reply), VI_SUCCESS);
        QCOMPARE(reply, QString("1\n"));
    }

    void anyNonZeroStatusLeavesReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("timeout") << int(VI_ERROR_TMO);
        QTest::newRow("io") << int(VI_ERROR_IO);
        QTest::newRow("term char") << int(VI_SUCCESS_TERM_CHAR);
        QTest::newRow("max count") << int(VI_SUCCESS_MAX_CNT);
        QTest::newRow("warning") << int(VI_WARN_NSUP_ATTR_STATE);
    }
    void anyNonZeroStatusLeavesReply()
    {
        QFETCH(int, status);
        // The library fills the buffer and still reports the status.
        recvisa::replyTo("X?", "new\n");
        recvisa::failOn("query", "X?", status);
        QString reply = "previous";
        QCOMPARE(VisaQuery(vi, "X?\n", &reply), ViStatus(status));
        QCOMPARE(reply, QString("previous"));
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

        recvisa::failOn("query", "COUN?", VI_WARN_NSUP_ATTR_STATE);
        QCOMPARE(VisaQueryInt(vi, "READ:AVDA:TTV:COUN?\n", &i), VI_WARN_NSUP_ATTR_STATE);
    }

    void percentCannotBecomeAConversion()
    {
        QCOMPARE(queryWriteFormat("DISP:TEXT 50%;*OPC?\n"), QByteArray("DISP:TEXT 50%%;*OPC?\n"));
        QString reply;
        QCOMPARE(VisaQuery(vi, "DISP:TEXT 50%d;*OPC?\n", &reply), VI_SUCCESS);
        // On the wire exactly as written.
        QCOMPARE(recvisa::queries(), std::vector<std::string>{"DISP:TEXT 50%d;*OPC?\n"});
    }
};

QTEST_GUILESS_MAIN(TestQuery)
#include "tst_query.moc"
