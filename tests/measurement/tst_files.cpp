// File names, means, the results text and the trace-file format; the window's
// file slots and delay slot, reached the way other code reaches them: through
// the meta-object system.
#include "globals.h"
#include "mainwindow.h"
#include "resultfiles.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QMessageBox>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace measurement;

class TstFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    MainWindow* w = nullptr;

    int save(const QString& f, const QVector<double>& d, ViInt32 cnt)
    {
        int rc = 99;
        if (!QMetaObject::invokeMethod(w, "SaveBinFile", Qt::DirectConnection, Q_RETURN_ARG(int, rc), Q_ARG(QString, f),
                                       Q_ARG(QVector<double>, d), Q_ARG(ViInt32, cnt)))
            qFatal("SaveBinFile not invocable");
        return rc;
    }
    int load(const QString& f, QVector<double>* d, ViInt32* cnt)
    {
        int rc = 99;
        if (!QMetaObject::invokeMethod(w, "LoadBinFile", Qt::DirectConnection, Q_RETURN_ARG(int, rc), Q_ARG(QString, f),
                                       Q_ARG(QVector<double>*, d), Q_ARG(ViInt32*, cnt)))
            qFatal("LoadBinFile not invocable");
        return rc;
    }
    void calcDeltaT2(int n, QVector<double>* a, QVector<double>* b, QVector<double>* c, QVector<double>* t, double* rf,
                     double* snk)
    {
        QVERIFY(QMetaObject::invokeMethod(w, "CalcDeltaT2", Qt::DirectConnection, Q_ARG(int, n),
                                          Q_ARG(QVector<double>*, a), Q_ARG(QVector<double>*, b),
                                          Q_ARG(QVector<double>*, c), Q_ARG(QVector<double>*, t), Q_ARG(double*, rf),
                                          Q_ARG(double*, snk)));
    }

private slots:
    void initTestCase()
    {
        setVisaCandidates({testsupport::recVisaPath()});
        w = new MainWindow;
    }
    void cleanupTestCase() { delete w; }

    void namesAndStamp()
    {
        const QString s = timeStamp(QDateTime(QDate(2015, 9, 30), QTime(14, 5, 9)));
        QCOMPARE(s, QString("2015-09-30_14-05-09_"));
        QCOMPARE(timeStamp(QDateTime(QDate(2015, 9, 30), QTime(23, 0, 0))), QString("2015-09-30_23-00-00_"));
        QCOMPARE(resultsFileName(s), QString("2015-09-30_14-05-09_Results.txt"));
        QCOMPARE(traceFileName(s, 1, Trace::Source), QString("2015-09-30_14-05-09_001_src.bin"));
        QCOMPARE(traceFileName(s, 42, Trace::Rf), QString("2015-09-30_14-05-09_042_rf.bin"));
        QCOMPARE(traceFileName(s, 1000, Trace::Sink), QString("2015-09-30_14-05-09_1000_snk.bin"));
        QCOMPARE(traceFileName(QString(), 7, Trace::Sink), QString("007_snk.bin"));
    }

    void meansOverDeliveredValues()
    {
        int n = -1;
        QCOMPARE(meanOfDelivered({81.5, 83.2}, &n), (81.5 + 83.2) / 2.0);
        QCOMPARE(n, 2);
        QCOMPARE(meanOfDelivered({qQNaN(), 10.0, qQNaN(), 20.0}, &n), 15.0);
        QCOMPARE(n, 2);
        QVERIFY(std::isnan(meanOfDelivered({qQNaN()}, &n)));
        QCOMPARE(n, 0);
        QVERIFY(std::isnan(meanOfDelivered({})));
    }

    void resultsTextByteForByte()
    {
        QCOMPARE(resultsText({81.5, 83.2}, 82.35, {0.0, 0.0}, 0.0, {152.3, 149.9}, 151.1),
                 QByteArray("Source2RF Delay: 81.5 83.2\nSource2RF Mean: 82.35\n"
                            "Source2HD Delay: 0 0\nSource2HD Mean: 0\n"
                            "Source2Snk Delay: 152.3 149.9\nSource2Snk Mean: 151.1"));
        // No passes: bare labels, not-a-number means as QString::number writes them.
        const double nan = qQNaN();
        QCOMPARE(resultsText({}, nan, {}, nan, {}, nan),
                 QByteArray("Source2RF Delay:\nSource2RF Mean: nan\nSource2HD Delay:\nSource2HD Mean: nan\n"
                            "Source2Snk Delay:\nSource2Snk Mean: nan"));
        // Six significant digits, exponent form, negative values, a missing pass value.
        QCOMPARE(resultsText({1234567.0, -0.000012345678}, 617283.5, {nan}, 33.3333333, {100.0}, 100.0),
                 QByteArray("Source2RF Delay: 1.23457e+06 -1.23457e-05\nSource2RF Mean: 617284\n"
                            "Source2HD Delay: nan\nSource2HD Mean: 33.3333\n"
                            "Source2Snk Delay: 100\nSource2Snk Mean: 100"));
    }

    void traceFileWritesFirstCountValuesOnly()
    {
        const QVector<double> d{1.0, 2.0, 3.0, 4.0};
        QVERIFY(writeTraceFile(m_dir.filePath("more.bin"), d, 1000));  // never past the vector's end
        QCOMPARE(QFileInfo(m_dir.filePath("more.bin")).size(), 32);
        QVERIFY(writeTraceFile(m_dir.filePath("more.bin"), d, 1));  // rewriting empties the old content
        QCOMPARE(QFileInfo(m_dir.filePath("more.bin")).size(), 8);
        QVERIFY(writeTraceFile(m_dir.filePath("neg.bin"), d, -1));
        QCOMPARE(QFileInfo(m_dir.filePath("neg.bin")).size(), 0);
        QString err;
        QVERIFY(!writeTraceFile(m_dir.filePath("no/such/folder/x.bin"), d, 4, &err));
        QVERIFY(!err.isEmpty());
    }

    void loadRefusals()
    {
        QVector<double> d{1.0};
        int cnt = 77;
        // A folder opens but cannot be read as a trace.
        QCOMPARE(readTraceFile(m_dir.path(), &d, &cnt), LoadOutcome::CannotOpen);
        // A sparse file just past what a vector holds: refused without allocating.
        QFile f(m_dir.filePath("huge.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize((qint64(maxTraceValues()) + 1) * 8));
        f.close();
        QCOMPARE(readTraceFile(f.fileName(), &d, &cnt), LoadOutcome::TooLarge);
        QCOMPARE(cnt, 77);
        QCOMPARE(d, QVector<double>{1.0});
        f.remove();
    }

    void roundTripIsBitExact()
    {
        QVector<double> d;
        for (int i = 0; i < 1000; ++i)
            d << std::sin(i * 0.37) * std::pow(10.0, (i % 40) - 20);
        const quint64 nanBits = 0x7ff8dead0000beefULL;  // a not-a-number carrying a payload
        double odd;
        std::memcpy(&odd, &nanBits, 8);
        d << 1.0 / 3.0 << -0.0 << std::numeric_limits<double>::infinity() << std::numeric_limits<double>::denorm_min()
          << odd;
        const QString f = m_dir.filePath("rt.bin");
        QCOMPARE(save(f, d, d.size()), 0);
        QFile raw(f);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QCOMPARE(bytes.size(), 8 * d.size());
        QCOMPARE(bytes.mid(8000, 8), QByteArray::fromHex("555555555555d53f"));  // 1/3, little-endian
        QVector<double> back;
        ViInt32 cnt = -1;
        QCOMPARE(load(f, &back, &cnt), 0);
        QCOMPARE(cnt, d.size());
        QCOMPARE(std::memcmp(back.constData(), d.constData(), 8 * size_t(d.size())), 0);
        // Only the first cnt values; an unwritable path gives -1 and no box.
        QCOMPARE(save(f, d, 3), 0);
        QCOMPARE(QFileInfo(f).size(), qint64(24));
        QCOMPARE(save(m_dir.filePath("rt.bin/below"), d, 3), -1);
    }

    void loadAppendsTwentyBytesAndEmpty()
    {
        QFile out(m_dir.filePath("twenty.bin"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        const double v[2] = {0.125, -7.5};
        out.write(reinterpret_cast<const char*>(v), 16);
        out.write("abcd", 4);  // a remainder is ignored
        out.close();
        QVector<double> d{1.0};
        ViInt32 cnt = 0;
        QCOMPARE(load(out.fileName(), &d, &cnt), 0);
        QCOMPARE(cnt, 2);
        QCOMPARE(d, (QVector<double>{1.0, 0.125, -7.5}));

        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.close();
        cnt = 5;
        QCOMPARE(load(out.fileName(), &d, &cnt), 0);
        QCOMPARE(cnt, 0);
        QCOMPARE(d.size(), 3);
    }

    void loadMissingShowsFileError()
    {
        QString title, text;
        testsupport::onNextModal([&](QWidget* m) {
            auto* box = qobject_cast<QMessageBox*>(m);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        });
        QVector<double> d{4.0};
        ViInt32 cnt = 33;
        QCOMPARE(load(m_dir.filePath("no-such.bin"), &d, &cnt), -1);
        QCOMPARE(title, QString("File Error"));
        QCOMPARE(text, QString("File not found."));
        QCOMPARE(cnt, 33);
        QCOMPARE(d, QVector<double>{4.0});
    }

    // The slot leaves the edge times in the program-wide results for the dialog.
    void delaySlotLeavesEdgeTimes()
    {
        g_osTyp = 0;
        const int n = 1001;
        QVector<double> a(n), b(n), c(n), t(n);
        for (int k = 0; k < n; ++k) {
            t[k] = k / 1000.0 - 0.5;
            a[k] = k >= 500 ? 1.0 : 0.0;
            b[k] = k >= 520 ? 0.2 : 0.0;
            c[k] = k >= 750 ? 0.5 : 0.0;
        }
        double rf = 0, snk = 0;
        calcDeltaT2(n, &a, &b, &c, &t, &rf, &snk);
        QCOMPARE(tsrc, 0.0);
        QCOMPARE(trf, 0.02);
        QCOMPARE(tsnk, 0.25);
        QCOMPARE(snk, 250.0);
        QVERIFY(std::abs(rf - 20.0) < 1e-9);
        c.fill(0.0);  // no sink edge: not-a-number, not a time read past the axis
        calcDeltaT2(n, &a, &b, &c, &t, &rf, &snk);
        QVERIFY(std::isnan(tsnk) && std::isnan(snk));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstFiles t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_files.moc"
