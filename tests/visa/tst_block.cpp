// Block header parsing and float conversion, without any VISA.
#include "block.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

QByteArray le(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    QByteArray out(4, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}
}  // namespace

class TestBlock : public QObject
{
    Q_OBJECT

private slots:
    void leadBytes_data()
    {
        QTest::addColumn<QByteArray>("lead");
        QTest::addColumn<int>("digits");
        QTest::newRow("#1") << QByteArray("#1") << 1;
        QTest::newRow("#9") << QByteArray("#9") << 9;
        QTest::newRow("indefinite #0") << QByteArray("#0") << -1;
        QTest::newRow("letter") << QByteArray("#A") << -1;
        QTest::newRow("colon after 9") << QByteArray("#:") << -1;
        QTest::newRow("no hash") << QByteArray("80") << -1;
        QTest::newRow("ascii reply") << QByteArray("1.") << -1;
        QTest::newRow("one byte") << QByteArray("#") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
    }
    void leadBytes()
    {
        QFETCH(QByteArray, lead);
        QFETCH(int, digits);
        QCOMPARE(block::lengthDigitCount(lead.constData(), std::size_t(lead.size())), digits);
    }

    void lengthDigits()
    {
        quint32 l = 7;
        QVERIFY(block::parseLength("080000", 6, 6, &l));
        QCOMPARE(l, 80000u);
        QVERIFY(block::parseLength("999999999", 9, 9, &l));
        QCOMPARE(l, 999999999u);
        // L + 10 must still fit the 32-bit count handed to the file read.
        QVERIFY(quint64(l) + 10 <= std::numeric_limits<std::uint32_t>::max());
        QVERIFY(block::parseLength("0", 1, 1, &l));
        QCOMPARE(l, 0u);

        l = 7;
        QVERIFY(!block::parseLength("08a000", 6, 6, &l));  // letter among the digits
        QVERIFY(!block::parseLength("0800", 4, 6, &l));    // fewer digits arrived
        QVERIFY(!block::parseLength(" 8000", 5, 5, &l));
        QVERIFY(!block::parseLength("-800", 4, 4, &l));
        QVERIFY(!block::parseLength("", 0, 0, &l));
        QCOMPARE(l, 7u);  // untouched on failure
    }

    void dataPart()
    {
        // Complete block: data then terminator; the terminator is not data.
        QCOMPARE(block::dataBytes(8, "12345678\n", 9), std::size_t(8));
        // Surplus beyond the declared length is ignored.
        QCOMPARE(block::dataBytes(4, "1234567890", 10), std::size_t(4));
        // Exactly the declared bytes, no terminator at all.
        QCOMPARE(block::dataBytes(8, "1234567\n", 8), std::size_t(8));
        // Short: the message ended early; its final newline is the terminator.
        QCOMPARE(block::dataBytes(12, "1234567\n", 8), std::size_t(7));
        QCOMPARE(block::dataBytes(12, "12345", 5), std::size_t(5));
        QCOMPARE(block::dataBytes(999999999, "\n", 1), std::size_t(0));
        QCOMPARE(block::dataBytes(10, "", 0), std::size_t(0));
    }

    void conversionIsLittleEndianAndExact()
    {
        const unsigned char one[4] = {0x00, 0x00, 0x80, 0x3f};  // 1.0f
        QCOMPARE(block::floatFromLittleEndian(one), 1.0);
        const unsigned char minus[4] = {0x00, 0x00, 0x20, 0xc1};  // -10.0f
        QCOMPARE(block::floatFromLittleEndian(minus), -10.0);

        const float specials[] = {0.0f, -0.0f, 1e-45f, std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::infinity(), 0.035f};
        for (float f : specials) {
            const QByteArray b = le(f);
            const double d = block::floatFromLittleEndian(
                reinterpret_cast<const unsigned char*>(b.constData()));
            QCOMPARE(d, double(f));
            QCOMPARE(std::signbit(d), std::signbit(f));
        }
        const QByteArray nan = le(std::numeric_limits<float>::quiet_NaN());
        QVERIFY(std::isnan(block::floatFromLittleEndian(
            reinterpret_cast<const unsigned char*>(nan.constData()))));
    }

    void fiveBytesGiveOneValue()
    {
        QVector<double> v{9.0, 9.0};
        QVERIFY(block::parseReply("#15" + le(2.5f) + "X\n", &v));
        QCOMPARE(v, QVector<double>{2.5});
    }

    void declaredLengthBelowOneValue()
    {
        for (int l = 0; l <= 3; ++l) {
            QVector<double> v{1.0};
            QVERIFY(block::parseReply("#1" + QByteArray::number(l) + QByteArray(l, 'x') + "\n", &v));
            QVERIFY2(v.isEmpty(), qPrintable(QString("L = %1").arg(l)));
        }
    }

    void twentyThousandPointsBitExact()
    {
        QByteArray data;
        QVector<float> sent;
        for (int i = 0; i < 20000; ++i) {
            // Values with every byte position varied, including 0x0A bytes.
            quint32 bits = quint32(i) * 2654435761u;
            bits &= 0xbf7fffffu;  // keep them finite
            float f;
            std::memcpy(&f, &bits, 4);
            sent << f;
            data += le(f);
        }
        const QByteArray reply = "#6080000" + data + "\n";
        QVector<double> v;
        QVERIFY(block::parseReply(reply, &v));
        QCOMPARE(v.size(), 20000);
        for (int i = 0; i < 20000; ++i) {
            const float back = float(v[i]);
            QVERIFY2(std::memcmp(&back, &sent[i], 4) == 0, qPrintable(QString::number(i)));
            QCOMPARE(v[i], double(sent[i]));
        }
    }

    void malformedHeadersFail_data()
    {
        QTest::addColumn<QByteArray>("reply");
        const QByteArray data = le(1.0f) + le(2.0f);
        QTest::newRow("indefinite") << QByteArray("#0") + data + "\n";
        QTest::newRow("letter count") << QByteArray("#A8") + data + "\n";
        QTest::newRow("letter in length") << QByteArray("#2a8") + data + "\n";
        QTest::newRow("no hash") << QByteArray("18") + data + "\n";
        QTest::newRow("ascii") << QByteArray("1.0,2.0\n");
        QTest::newRow("header cut") << QByteArray("#60800");
        QTest::newRow("empty") << QByteArray();
    }
    void malformedHeadersFail()
    {
        QFETCH(QByteArray, reply);
        QVector<double> v{4.0, 5.0};
        QVERIFY(!block::parseReply(reply, &v));
        QCOMPARE(v, (QVector<double>{4.0, 5.0}));
    }

    void shortDataGivesFewerValues()
    {
        const QByteArray data = le(1.0f) + le(2.0f) + le(3.0f);
        QVector<double> v;
        // Declares four values, sends three and a terminator.
        QVERIFY(block::parseReply("#216" + data + "\n", &v));
        QCOMPARE(v, (QVector<double>{1.0, 2.0, 3.0}));
        // Three and a half values: the partial one is not invented.
        QVERIFY(block::parseReply("#216" + data + "ab\n", &v));
        QCOMPARE(v, (QVector<double>{1.0, 2.0, 3.0}));
        // A length far beyond the data allocates for the data only.
        QVERIFY(block::parseReply("#9999999999" + data + "\n", &v));
        QCOMPARE(v.size(), 3);
        QVERIFY(v.capacity() < 1000);
    }

    void newlineInsideData()
    {
        // A float whose bytes contain 0x0A is data, not a terminator.
        const QByteArray data = QByteArray("\n\0\0\0", 4) + le(-1.5f);
        QCOMPARE(data.at(0), '\n');
        QVector<double> v;
        QVERIFY(block::parseReply("#18" + data + "\n", &v));
        QCOMPARE(v.size(), 2);
        QCOMPARE(v[1], -1.5);
        QCOMPARE(v[0], double(block::floatFromLittleEndian(
                           reinterpret_cast<const unsigned char*>(data.constData()))));
    }
};

QTEST_APPLESS_MAIN(TestBlock)
#include "tst_block.moc"
