// Results text, file names, means and the trace-file format.
#include "resultfiles.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace measurement;

class TstResultFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray slurp(const QString& p)
    {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void namesAndStamp()
    {
        const QDateTime when(QDate(2015, 9, 30), QTime(14, 5, 9));
        const QString s = timeStamp(when);
        QCOMPARE(s, QStringLiteral("2015-09-30_14-05-09_"));
        QCOMPARE(timeStamp(QDateTime(QDate(2015, 9, 30), QTime(23, 0, 0))), QStringLiteral("2015-09-30_23-00-00_"));
        QCOMPARE(resultsFileName(s), QStringLiteral("2015-09-30_14-05-09_Results.txt"));
        QCOMPARE(traceFileName(s, 1, Trace::Source), QStringLiteral("2015-09-30_14-05-09_001_src.bin"));
        QCOMPARE(traceFileName(s, 42, Trace::Rf), QStringLiteral("2015-09-30_14-05-09_042_rf.bin"));
        QCOMPARE(traceFileName(s, 999, Trace::Sink), QStringLiteral("2015-09-30_14-05-09_999_snk.bin"));
        QCOMPARE(traceFileName(s, 1000, Trace::Source), QStringLiteral("2015-09-30_14-05-09_1000_src.bin"));
        QCOMPARE(traceFileName(QString(), 7, Trace::Sink), QStringLiteral("007_snk.bin"));
    }

    void meansOverDeliveredValues()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        int n = -1;
        QCOMPARE(meanOfDelivered({81.5, 83.2}, &n), (81.5 + 83.2) / 2.0);
        QCOMPARE(n, 2);
        QCOMPARE(meanOfDelivered({nan, 10.0, nan, 20.0}, &n), 15.0);
        QCOMPARE(n, 2);
        QVERIFY(std::isnan(meanOfDelivered({nan, nan}, &n)));
        QCOMPARE(n, 0);
        QVERIFY(std::isnan(meanOfDelivered({})));
        QCOMPARE(meanOfDelivered({0.0, 0.0}), 0.0);
    }

    void resultsTextByteForByte()
    {
        QCOMPARE(resultsText({81.5, 83.2}, 82.35, {0.0, 0.0}, 0.0, {152.3, 149.9}, 151.1),
                 QByteArray("Source2RF Delay: 81.5 83.2\n"
                            "Source2RF Mean: 82.35\n"
                            "Source2HD Delay: 0 0\n"
                            "Source2HD Mean: 0\n"
                            "Source2Snk Delay: 152.3 149.9\n"
                            "Source2Snk Mean: 151.1"));
        // No passes: bare labels, not-a-number means as QString::number writes them.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QCOMPARE(resultsText({}, nan, {}, nan, {}, nan),
                 QByteArray("Source2RF Delay:\nSource2RF Mean: nan\nSource2HD Delay:\nSource2HD Mean: nan\n"
                            "Source2Snk Delay:\nSource2Snk Mean: nan"));
        // Six significant digits, exponent form, negative values, a missing pass value.
        QCOMPARE(resultsText({1234567.0, -0.000012345678}, 617283.5, {nan}, 33.3333333, {100.0}, 100.0),
                 QByteArray("Source2RF Delay: 1.23457e+06 -1.23457e-05\nSource2RF Mean: 617284\n"
                            "Source2HD Delay: nan\nSource2HD Mean: 33.3333\n"
                            "Source2Snk Delay: 100\nSource2Snk Mean: 100"));
    }

    void traceFileRoundTripIsBitExact()
    {
        QVector<double> d{0.0, -0.0, 1.0 / 3.0, -1e-300, 1e308, std::numeric_limits<double>::denorm_min(),
                          std::numeric_limits<double>::infinity(), 0.2};
        const quint64 nanBits = 0x7ff8dead0000beefULL;  // a payload-carrying not-a-number
        double odd;
        std::memcpy(&odd, &nanBits, 8);
        d << odd;
        const QString p = path("round.bin");
        QVERIFY(writeTraceFile(p, d, d.size()));
        const QByteArray raw = slurp(p);
        QCOMPARE(raw.size(), 8 * d.size());
        QCOMPARE(raw.mid(16, 8), QByteArray::fromHex("555555555555d53f"));  // 1/3, little-endian

        QVector<double> back;
        int cnt = -1;
        QCOMPARE(readTraceFile(p, &back, &cnt), LoadOutcome::Ok);
        QCOMPARE(cnt, d.size());
        QCOMPARE(std::memcmp(back.constData(), d.constData(), 8 * d.size()), 0);
    }

    void traceFileTakesFirstCountValuesOnly()
    {
        const QVector<double> d{1.0, 2.0, 3.0, 4.0};
        QVERIFY(writeTraceFile(path("two.bin"), d, 2));
        QCOMPARE(slurp(path("two.bin")).size(), 16);
        QVERIFY(writeTraceFile(path("more.bin"), d, 1000));  // never past the vector's end
        QCOMPARE(slurp(path("more.bin")).size(), 32);
        QVERIFY(writeTraceFile(path("neg.bin"), d, -1));
        QCOMPARE(slurp(path("neg.bin")).size(), 0);
        // Rewriting empties the old content.
        QVERIFY(writeTraceFile(path("more.bin"), d, 1));
        QCOMPARE(slurp(path("more.bin")).size(), 8);
        QString err;
        QVERIFY(!writeTraceFile(path("no/such/folder/x.bin"), d, 4, &err));
        QVERIFY(!err.isEmpty());
    }

    void loadAppendsAndIgnoresRemainder()
    {
        QFile f(path("twenty.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const double a = 1.5, b = -2.25;
        f.write(reinterpret_cast<const char*>(&a), 8);
        f.write(reinterpret_cast<const char*>(&b), 8);
        f.write("\x01\x02\x03\x04", 4);
        f.close();
        QVector<double> d{9.0};
        int cnt = -1;
        QCOMPARE(readTraceFile(path("twenty.bin"), &d, &cnt), LoadOutcome::Ok);
        QCOMPARE(cnt, 2);
        QCOMPARE(d, (QVector<double>{9.0, 1.5, -2.25}));

        QFile e(path("empty.bin"));
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.close();
        cnt = -1;
        QCOMPARE(readTraceFile(path("empty.bin"), &d, &cnt), LoadOutcome::Ok);
        QCOMPARE(cnt, 0);
        QCOMPARE(d.size(), 3);

        cnt = 77;
        QCOMPARE(readTraceFile(path("missing.bin"), &d, &cnt), LoadOutcome::CannotOpen);
        QCOMPARE(cnt, 77);
        QCOMPARE(d.size(), 3);
        // A folder opens but cannot be read as a trace.
        QCOMPARE(readTraceFile(m_dir.path(), &d, &cnt), LoadOutcome::CannotOpen);
    }

    void loadRefusesMoreThanAVectorHolds()
    {
        // A sparse file just past the limit: refused without allocating.
        const QString p = path("huge.bin");
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize((static_cast<qint64>(maxTraceValues()) + 1) * 8));
        f.close();
        QVector<double> d;
        int cnt = -1;
        QCOMPARE(readTraceFile(p, &d, &cnt), LoadOutcome::TooLarge);
        QCOMPARE(cnt, -1);
        QVERIFY(d.isEmpty());
        QFile::remove(p);
    }
};

QTEST_APPLESS_MAIN(TstResultFiles)
#include "tst_resultfiles.moc"
