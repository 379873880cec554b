// The trace-file slots and the delay slot of the main window, reached the way
// other code reaches them: through the meta-object system.
#include "globals.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QMessageBox>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

class FileSlotsTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    static int save(MainWindow* w, const QString& f, const QVector<double>& d, ViInt32 cnt)
    {
        int rc = 99;
        const bool ok = QMetaObject::invokeMethod(w, "SaveBinFile", Qt::DirectConnection, Q_RETURN_ARG(int, rc),
                                                  Q_ARG(QString, f), Q_ARG(QVector<double>, d), Q_ARG(ViInt32, cnt));
        return ok ? rc : 98;
    }
    static int load(MainWindow* w, const QString& f, QVector<double>* d, ViInt32* cnt)
    {
        int rc = 99;
        const bool ok = QMetaObject::invokeMethod(w, "LoadBinFile", Qt::DirectConnection, Q_RETURN_ARG(int, rc),
                                                  Q_ARG(QString, f), Q_ARG(QVector<double>*, d),
                                                  Q_ARG(ViInt32*, cnt));
        return ok ? rc : 98;
    }

private slots:
    void initTestCase() { setVisaCandidates({testsupport::fakeVisaPath("full")}); }

    void roundTripIsBitExact()
    {
        MainWindow w;
        QVector<double> d;
        for (int i = 0; i < 1000; ++i)
            d << std::sin(i * 0.37) * std::pow(10.0, (i % 40) - 20);
        d << -0.0 << std::numeric_limits<double>::infinity() << std::numeric_limits<double>::denorm_min();
        const QString f = m_dir.filePath("rt.bin");
        QCOMPARE(save(&w, f, d, d.size()), 0);
        QCOMPARE(QFileInfo(f).size(), qint64(8 * d.size()));
        QVector<double> back;
        ViInt32 cnt = -1;
        QCOMPARE(load(&w, f, &back, &cnt), 0);
        QCOMPARE(cnt, d.size());
        QCOMPARE(std::memcmp(back.constData(), d.constData(), 8 * d.size()), 0);
        // Only the first cnt values; an unwritable path gives -1 and no box.
        QCOMPARE(save(&w, f, d, 3), 0);
        QCOMPARE(QFileInfo(f).size(), qint64(24));
        QCOMPARE(save(&w, m_dir.filePath("rt.bin/below"), d, 3), -1);
    }

    void loadTwentyBytesAndEmpty()
    {
        MainWindow w;
        const QString f = m_dir.filePath("twenty.bin");
        QFile out(f);
        QVERIFY(out.open(QIODevice::WriteOnly));
        const double v[2] = {0.125, -7.5};
        out.write(reinterpret_cast<const char*>(v), 16);
        out.write("abcd", 4);
        out.close();
        QVector<double> d{1.0};
        ViInt32 cnt = 0;
        QCOMPARE(load(&w, f, &d, &cnt), 0);
        QCOMPARE(cnt, 2);
        QCOMPARE(d, (QVector<double>{1.0, 0.125, -7.5}));

        const QString e = m_dir.filePath("empty.bin");
        QFile empty(e);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        cnt = 5;
        QCOMPARE(load(&w, e, &d, &cnt), 0);
        QCOMPARE(cnt, 0);
        QCOMPARE(d.size(), 3);
    }

    void loadMissingShowsFileError()
    {
        MainWindow w;
        QString title, text;
        int buttons = 0;
        testsupport::onNextModal([&](QWidget* m) {
            auto* box = qobject_cast<QMessageBox*>(m);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            buttons = box->buttons().size();
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        });
        QVector<double> d{4.0};
        ViInt32 cnt = 33;
        QCOMPARE(load(&w, m_dir.filePath("no-such.bin"), &d, &cnt), -1);
        QCOMPARE(title, QString("File Error"));
        QCOMPARE(text, QString("File not found."));
        QCOMPARE(buttons, 1);
        QCOMPARE(cnt, 33);
        QCOMPARE(d, QVector<double>{4.0});
    }

    void delaySlotLeavesEdgeTimes()
    {
        MainWindow w;
        g_osTyp = 0;
        const int n = 1001;
        QVector<double> a(n, 0.0), b(n, 0.0), c(n, 0.0), t(n);
        for (int k = 0; k < n; ++k) {
            t[k] = k / 1000.0 - 0.5;
            a[k] = k >= 500 ? 1.0 : 0.0;
            b[k] = k >= 520 ? 0.2 : 0.0;
            c[k] = k >= 750 ? 0.5 : 0.0;
        }
        double rf = 0, snk = 0;
        QVERIFY(QMetaObject::invokeMethod(&w, "CalcDeltaT2", Qt::DirectConnection, Q_ARG(int, n),
                                          Q_ARG(QVector<double>*, &a), Q_ARG(QVector<double>*, &b),
                                          Q_ARG(QVector<double>*, &c), Q_ARG(QVector<double>*, &t),
                                          Q_ARG(double*, &rf), Q_ARG(double*, &snk)));
        QCOMPARE(tsrc, 0.0);
        QCOMPARE(trf, 0.02);
        QCOMPARE(tsnk, 0.25);
        QCOMPARE(snk, 250.0);
        QVERIFY(std::abs(rf - 20.0) < 1e-9);
        // No sink edge: not-a-number, not a time read past the axis.
        c.fill(0.0);
        QVERIFY(QMetaObject::invokeMethod(&w, "CalcDeltaT2", Qt::DirectConnection, Q_ARG(int, n),
                                          Q_ARG(QVector<double>*, &a), Q_ARG(QVector<double>*, &b),
                                          Q_ARG(QVector<double>*, &c), Q_ARG(QVector<double>*, &t),
                                          Q_ARG(double*, &rf), Q_ARG(double*, &snk)));
        QVERIFY(std::isnan(tsnk));
        QVERIFY(std::isnan(snk));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    FileSlotsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fileslots.moc"
