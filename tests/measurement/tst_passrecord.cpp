// The per-pass record: written, finished and read back value for value;
// records cut short or damaged are read as far as they go.
#include "passrecord.h"
#include "resultfiles.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <ctime>

using namespace measurement;

namespace {

const double kNaN = std::nan("");

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}

}  // namespace

class TstPassRecord : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QVector<PassRow> m_rows;

    QString writeSeries(const QString& name, bool finish)
    {
        RecordHeader h;
        h.started = QDateTime(QDate(2026, 3, 29), QTime(1, 59, 58, 7));
        h.oscilloscope = QStringLiteral("TCPIP::10.0.0.1::INSTR");
        h.oscilloscopeId = QStringLiteral("ACME,Scope,SN#19,1.0\r\n");
        h.triggerLevel = 0.1;
        h.centreFrequency = 5.192e9;
        h.hdmi = true;
        h.passes = 4;
        const QString path = m_dir.filePath(name);
        PassRecordWriter w;
        if (!w.create(path, h))
            return QString();
        for (const PassRow& r : m_rows)
            if (!w.append(r, 20000))
                return QString();
        QVector<double> rf, hd, snk;
        for (const PassRow& r : m_rows) {
            rf << r.src2Rf;
            hd << r.src2Hd;
            snk << r.src2Snk;
        }
        if (finish && !w.finish(decideOutliers(rf, hd, snk, samplePeriodMs(0, 20000))))
            return QString();
        return path;
    }

private slots:
    void initTestCase()
    {
        // Passes 1 and 2 lie on both sides of a clock change.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const QDateTime t0(QDate(2026, 3, 29), QTime(1, 59, 59, 250));
        const double rf[] = {81.55000000000001, kNaN, 81.6, 81.5, 640.0};
        for (int i = 0; i < 5; ++i) {
            PassRow r;
            r.pass = i + 1;
            r.time = t0.addMSecs(i * 1100);
            r.src2Rf = rf[i];
            r.src2Hd = i == 1 ? kNaN : 40.25 + i;
            r.src2Snk = 102.85 + 0.05 * i;
            r.startRepeats = i == 2 ? 3 : 0;
            r.failedAcquisitions = i == 2 ? 1 : 0;
            r.tsrc = -0.1 + 1e-17 * i;
            r.trf = i == 1 ? kNaN : -0.02;
            r.tsnk = i == 1 ? kNaN : 0.0025;
            m_rows << r;
        }
    }

    void roundTrip()
    {
        const QString path = writeSeries(QStringLiteral("a_Passes.csv"), true);
        QVERIFY(!path.isEmpty());
        PassRecordWriter again;  // never replaces a record
        QVERIFY(!again.create(path, RecordHeader()));
        QVERIFY(!again.errorString().isEmpty());

        // A stamp taken by a results file or a record is skipped.
        const QDateTime at(QDate(2026, 1, 2), QTime(3, 4, 5));
        writeAll(m_dir.filePath(resultsFileName(timeStamp(at))), "x");
        writeAll(m_dir.filePath(passRecordFileName(timeStamp(at.addSecs(1)))), "x");
        QString stamp;
        QVERIFY(again.createWithFreshStamp(m_dir.path(), at, RecordHeader(), &stamp));
        QCOMPARE(stamp, timeStamp(at.addSecs(2)));
        QCOMPARE(again.path(), m_dir.filePath(passRecordFileName(stamp)));

        PassRecordFile rec;
        QString err;
        QCOMPARE(readPassRecord(path, &rec, &err), RecordRead::Ok);
        QVERIFY(rec.columns && !rec.cutShort && rec.badLines == 0 && rec.hasOutlierDecision());
        QCOMPARE(rec.headerValue("oscilloscope_idn"), QString("ACME,Scope,SN#19,1.0"));
        QCOMPARE(rec.headerValue("centre_frequency_Hz"), QString("5.192e+09"));
        QCOMPARE(rec.headerValue("sample_period_ms").toDouble(), samplePeriodMs(0, 20000));
        QCOMPARE(rec.rows.size(), m_rows.size());
        for (int i = 0; i < m_rows.size(); ++i) {
            const PassRow &a = rec.rows[i], &b = m_rows[i];
            QCOMPARE(a.pass, b.pass);
            QCOMPARE(a.time, b.time);
            QCOMPARE(a.startRepeats, b.startRepeats);
            QCOMPARE(a.failedAcquisitions, b.failedAcquisitions);
            for (auto f :
                 {&PassRow::src2Rf, &PassRow::src2Hd, &PassRow::src2Snk, &PassRow::tsrc, &PassRow::trf, &PassRow::tsnk})
                QVERIFY2(sameBits(a.*f, b.*f), qPrintable(QString("pass %1").arg(i + 1)));
            QCOMPARE(a.outlier, i == 4 ? QString("src2rf_ms") : QString());
        }
        QVERIFY(rec.trailer.last().contains("src2rf_ms median 81.575"));
        QVERIFY(readAll(path).contains(
            "\n2,2026-03-29T03:00:00.350+02:00,,,102.89999999999999,0,0,-0.09999999999999999,,,\n"));
    }

    // A crash before the end: every finished row, no decision; a row cut by
    // the crash is reported and left out; damage in the middle is skipped.
    void cutShortAndDamaged()
    {
        const QString path = writeSeries(QStringLiteral("b_Passes.csv"), false);
        QVERIFY(!path.isEmpty());
        const QByteArray whole = readAll(path);
        writeAll(path, whole + "6,2026-03-29T03:00:07.0");
        PassRecordFile rec;
        QCOMPARE(readPassRecord(path, &rec), RecordRead::Ok);
        QVERIFY(rec.cutShort && !rec.hasOutlierDecision());
        QCOMPARE(rec.rows.size(), m_rows.size());

        QByteArray damaged = whole;
        damaged.replace("\n3,", "\n3,x");
        writeAll(path, damaged);
        QCOMPARE(readPassRecord(path, &rec), RecordRead::Ok);
        QCOMPARE(rec.rows.size(), m_rows.size() - 1);
        QCOMPARE(rec.badLines, 1);
        QCOMPARE(rec.firstBadLine, damaged.left(damaged.indexOf("\n3,x") + 1).count('\n') + 1);

        QString err;
        writeAll(path, "# a: b\npass,time\n1,2\n");
        QCOMPARE(readPassRecord(path, &rec, &err), RecordRead::NotARecord);
        QVERIFY(err.contains("line 2"));
        writeAll(path, QByteArray(100000, '#') + '\n');
        QCOMPARE(readPassRecord(path, &rec, &err), RecordRead::NotARecord);
        QCOMPARE(readPassRecord(m_dir.filePath("none.csv"), &rec, &err), RecordRead::CannotOpen);
    }
};

QTEST_GUILESS_MAIN(TstPassRecord)
#include "tst_passrecord.moc"
