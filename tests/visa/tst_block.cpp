// Block header parsing and float conversion, without any VISA.
#include "block.h"
#include "testsupport.h"
#include "tracefile.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using testsupport::floatBytes;

class TstBlock : public QObject
{
    Q_OBJECT

private slots:
    // A whole reply: header, data, terminator. On false the vector stays as it was.
    void parseReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVector<double>>("values");
        const QByteArray one = floatBytes(1.0f), two = floatBytes(2.0f), three = floatBytes(3.0f);
        const QByteArray lf1("\n\0\0\0", 4);  // a value whose first byte is 0x0A
        const double lf1Value = block::floatFromLittleEndian((const unsigned char*)lf1.constData());
        QTest::newRow("five bytes give one value") << "#15" + floatBytes(2.5f) + "X\n" << true << QVector<double>{2.5};
        for (int l = 0; l <= 3; ++l)
            QTest::addRow("L = %d", l) << "#1" + QByteArray::number(l) + QByteArray(l, 'x') + "\n"
                                       << true << QVector<double>{};
        QTest::newRow("nine length digits") << "#9000000008" + one + two + "\n" << true << QVector<double>{1, 2};
        QTest::newRow("surplus ignored") << "#18" + one + two + three + "\n" << true << QVector<double>{1, 2};
        QTest::newRow("exact, no terminator, last byte LF")
            << "#18" + one + lf1 << true << QVector<double>{1, lf1Value};
        QTest::newRow("newline inside the data") << "#18" + lf1 + two + "\n" << true << QVector<double>{lf1Value, 2};
        QTest::newRow("short: terminator is not data") << "#216" + one + two + three + "\n"
                                                       << true << QVector<double>{1, 2, 3};
        QTest::newRow("short: partial value dropped") << "#216" + one + two + three + "ab\n"
                                                      << true << QVector<double>{1, 2, 3};
        QTest::newRow("far beyond the data") << "#9999999999" + one + "\n" << true << QVector<double>{1};
        const QByteArray data = one + two + "\n";
        for (const char* bad : {"#0", "#A8", "#:8", "#2a8", "#2 8", "#2-8", "18", "#"})
            QTest::newRow(bad) << bad + data << false << QVector<double>{};
        QTest::newRow("ascii") << QByteArray("1.0,2.0\n") << false << QVector<double>{};
        QTest::newRow("header cut") << QByteArray("#60800") << false << QVector<double>{};
        QTest::newRow("empty") << QByteArray() << false << QVector<double>{};
    }
    void parseReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QFETCH(QVector<double>, values);
        const QVector<double> before{4.0, 5.0};
        QVector<double> v = before;
        QCOMPARE(block::parseReply(reply, &v), ok);
        QCOMPARE(v, ok ? values : before);
        QVERIFY(v.capacity() < 1000);  // sized by the data, never by the claim
    }

    // The pieces ReadArray uses on its own: the length digits arrive by a
    // separate read that may deliver fewer than announced.
    void lengthDigits()
    {
        quint32 l = 7;
        QVERIFY(block::parseLength("999999999", 9, 9, &l));
        QCOMPARE(l, block::kMaxDeclaredLength);
        QVERIFY(quint64(l) + 10 <= std::numeric_limits<std::uint32_t>::max());
        l = 7;
        QVERIFY(!block::parseLength("0800", 4, 6, &l));
        QVERIFY(!block::parseLength("", 0, 0, &l));
        QCOMPARE(l, 7u);  // untouched on failure
        QCOMPARE(block::lengthDigitCount("#9", 1), -1);
    }

    void conversionIsLittleEndianAndExact()
    {
        const float specials[] = {1.0f,
                                  -10.0f,
                                  0.0f,
                                  -0.0f,
                                  1e-45f,
                                  std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::infinity(),
                                  0.035f,
                                  std::numeric_limits<float>::quiet_NaN()};
        for (float f : specials) {
            const QByteArray b = floatBytes(f);
            for (double d : {block::floatFromLittleEndian((const unsigned char*)b.constData()),
                             block::decodeFloat32(b.constData(), 4).value(0)}) {
                const float back = float(d);
                QVERIFY2(std::memcmp(&back, &f, 4) == 0, qPrintable(QString::number(f)));
            }
        }
        QCOMPARE(block::floatFromLittleEndian((const unsigned char*)"\x00\x00\x80\x3f"), 1.0);
    }

    // The data part parked by a transfer: taken as declared, converted into
    // the storage the vector already has; a short or missing file changes nothing.
    void parkedTrace()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("Trace.tmp");
        auto park = [&](const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
        };
        park(floatBytes(1.0f) + floatBytes(-2.5f) + floatBytes(3.25f) + "\n" + floatBytes(9.0f));
        QVector<double> values;
        QVERIFY(readParkedTrace(path, 12, &values));
        QCOMPARE(values, (QVector<double>{1.0, -2.5, 3.25}));
        const double* storage = values.constData();
        park(floatBytes(4.0f) + floatBytes(5.0f) + floatBytes(6.0f) + "\n");
        QVERIFY(readParkedTrace(path, 12, &values));
        QCOMPARE(values, (QVector<double>{4.0, 5.0, 6.0}));
        QCOMPARE(values.constData(), storage);

        park(floatBytes(7.0f) + floatBytes(8.0f) + "\n");
        QVERIFY(!readParkedTrace(path, 12, &values));
        QVERIFY(!readParkedTrace(dir.filePath("missing.tmp"), 12, &values));
        QCOMPARE(values, (QVector<double>{4.0, 5.0, 6.0}));
        park(QByteArray());
        QVERIFY(readParkedTrace(path, 0, &values));
        QVERIFY(values.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TstBlock)
#include "tst_block.moc"
