// The main window as the operator meets it: start-up, form, enabling rules,
// settings, shut-down and the start-up messages.
#include "globals.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace {

struct FakeVisa
{
    QLibrary lib{testsupport::fakeVisaPath("full")};
    void (*reset)() = nullptr;
    const char* (*log)() = nullptr;
    void (*setRm)(ViStatus) = nullptr;
    FakeVisa()
    {
        lib.load();
        reset = reinterpret_cast<void (*)()>(lib.resolve("fakevisa_reset"));
        log = reinterpret_cast<const char* (*)()>(lib.resolve("fakevisa_log"));
        setRm = reinterpret_cast<void (*)(ViStatus)>(lib.resolve("fakevisa_setRmStatus"));
    }
    int count(const QString& line) const
    {
        return QString::fromLocal8Bit(log()).split('\n').count(line);
    }
};

template <typename T>
T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

QString cfgPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Tervane/") + QFileInfo(QCoreApplication::applicationFilePath()).baseName()
        + QStringLiteral("/") + QFileInfo(QCoreApplication::applicationFilePath()).baseName()
        + QStringLiteral(".cfg");
}

const char* const kVaControls[] = {"VaInit", "VaIp", "VaRst", "VaThres", "VaThresLbl"};

}  // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
    FakeVisa fake;

private slots:
    void init()
    {
        setVisaCandidates({testsupport::fakeVisaPath("full")});
        fake.reset();
        QFile::remove(cfgPath());
        g_osTyp = 0;
        g_vaHdmi = false;
    }

    void startupWithoutSettings()
    {
        MainWindow w;
        QCOMPARE(w.windowTitle(), QString("Quarnel64"));
        QCOMPARE(w.size(), QSize(327, 293));
        QCOMPARE(int(w.windowFlags()), 0x2001001);
        QVERIFY(w.statusBar()->currentMessage().isEmpty());
        QCOMPARE(w.objectName(), QString("MainWindow"));

        QCOMPARE(child<QLineEdit>(&w, "OsIp")->text(), QString("TCPIP::127.0.0.11::INSTR"));
        QCOMPARE(child<QLineEdit>(&w, "SaIp")->text(), QString("TCPIP::127.0.0.12::INSTR"));
        QCOMPARE(child<QLineEdit>(&w, "VaIp")->text(), QString("TCPIP::127.0.0.13::INSTR"));
        QCOMPARE(child<QLineEdit>(&w, "OsTrgLvl")->text(), QString("0.027"));
        QCOMPARE(child<QLineEdit>(&w, "SaFrq")->text(), QString("5.192e+09"));
        QCOMPARE(child<QLineEdit>(&w, "VaThres")->text(), QString("35"));
        QCOMPARE(child<QLineEdit>(&w, "MeasCnt")->text(), QString("1"));
        QCOMPARE(child<QComboBox>(&w, "OsTyp")->currentIndex(), 1);
        QCOMPARE(child<QComboBox>(&w, "OsTyp")->currentText(), QString("Pelmo"));
        QCOMPARE(g_osTyp, 1);
        for (const char* n : {"OsRst", "SaRst", "VaRst", "SaIfDem", "SaveData", "VaHdmi"})
            QVERIFY2(!child<QCheckBox>(&w, n)->isChecked(), n);
        for (const char* n : kVaControls)
            QVERIFY2(!child<QWidget>(&w, n)->isEnabled(), n);
        QVERIFY(!child<QPushButton>(&w, "Start")->isEnabled());
        for (const char* n : {"OsInit", "SaInit", "VaInit"})
            QCOMPARE(child<QPushButton>(&w, n)->text(), QString("Init"));
        QCOMPARE(fake.count("viOpenDefaultRM"), 1);
    }

    void formLayoutMatchesTable()
    {
        MainWindow w;
        struct Row { const char* name; const char* parent; QRect geo; };
        const Row rows[] = {
            {"OsTrgLvl", "centralwidget", {200, 30, 91, 20}}, {"Start", "centralwidget", {100, 248, 91, 23}},
            {"Os", "centralwidget", {10, 10, 311, 71}},       {"OsInit", "Os", {10, 40, 51, 23}},
            {"OsRst", "Os", {64, 43, 51, 16}},                {"SaRst", "Sa", {64, 44, 51, 16}},
            {"VaRst", "Va", {65, 44, 51, 16}},                {"VaThres", "Va", {245, 20, 31, 20}},
            {"label_9", "Va", {284, 22, 16, 16}},             {"VaThresLbl", "Va", {192, 22, 51, 16}},
            {"VaHdmi", "centralwidget", {200, 183, 81, 41}},  {"Cancel", "centralwidget", {235, 250, 81, 23}},
            {"SaIfDem", "centralwidget", {200, 125, 121, 16}}, {"OsTyp", "centralwidget", {200, 50, 91, 22}},
            {"label_8", "centralwidget", {287, 50, 31, 20}},  {"SaveData", "centralwidget", {103, 230, 71, 16}},
        };
        for (const Row& r : rows) {
            QWidget* c = child<QWidget>(&w, r.name);
            QCOMPARE(c->parentWidget()->objectName(), QString(r.parent));
            QCOMPARE(c->geometry(), r.geo);
        }
        QCOMPARE(child<QCheckBox>(&w, "VaHdmi")->text(), QString("Meas HDMI\nIn/Out Delay"));
        QCOMPARE(child<QLabel>(&w, "VaThresLbl")->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(child<QLineEdit>(&w, "VaThres")->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        auto* box = child<QDialogButtonBox>(&w, "Cancel");
        QCOMPARE(box->standardButtons(), QDialogButtonBox::Cancel);
        QVERIFY(box->centerButtons());
        // Raise order: the last raised control lies on top of the central widget's stack.
        const QObjectList kids = child<QWidget>(&w, "centralwidget")->children();
        QCOMPARE(kids.last()->objectName(), QString("SaveData"));
        QVERIFY(kids.indexOf(child<QWidget>(&w, "Os")) < kids.indexOf(child<QWidget>(&w, "OsTrgLvl")));
        QCOMPARE(w.findChildren<QWidget*>().size() >= 31, true);
    }

    void undimStartTruthTable_data()
    {
        QTest::addColumn<bool>("hdmi");
        QTest::addColumn<QString>("os");
        QTest::addColumn<QString>("sa");
        QTest::addColumn<QString>("va");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("two ready, no hdmi") << false << "Ready" << "Ready" << "Init" << true;
        QTest::newRow("sa not ready") << false << "Ready" << "Init" << "Ready" << false;
        QTest::newRow("os not ready") << false << "Init" << "Ready" << "Ready" << false;
        QTest::newRow("hdmi needs va") << true << "Ready" << "Ready" << "Init" << false;
        QTest::newRow("hdmi all ready") << true << "Ready" << "Ready" << "Ready" << true;
        QTest::newRow("wrong case") << false << "ready" << "Ready" << "Ready" << false;
        QTest::newRow("wrong case va") << true << "Ready" << "Ready" << "READY" << false;
    }
    void undimStartTruthTable()
    {
        QFETCH(bool, hdmi);
        QFETCH(QString, os);
        QFETCH(QString, sa);
        QFETCH(QString, va);
        QFETCH(bool, enabled);
        MainWindow w;
        g_vaHdmi = hdmi;
        auto* start = child<QPushButton>(&w, "Start");
        // A call can disable as well as enable.
        start->setEnabled(!enabled);
        child<QPushButton>(&w, "OsInit")->setText(os);
        child<QPushButton>(&w, "SaInit")->setText(sa);
        child<QPushButton>(&w, "VaInit")->setText(va);
        QVERIFY(QMetaObject::invokeMethod(&w, "UndimStart"));
        QCOMPARE(start->isEnabled(), enabled);
    }

    void hdmiClickSwitchesExactlyTheFiveControls()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* hdmi = child<QCheckBox>(&w, "VaHdmi");
        auto* start = child<QPushButton>(&w, "Start");
        hdmi->click();
        QVERIFY(g_vaHdmi);
        for (const char* n : kVaControls)
            QVERIFY2(child<QWidget>(&w, n)->isEnabled(), n);
        QVERIFY(child<QWidget>(&w, "Va")->isEnabled());
        QVERIFY(child<QWidget>(&w, "label_9")->isEnabled());
        QVERIFY(!start->isEnabled());  // recomputed only at the end of an Init
        hdmi->click();
        QVERIFY(!g_vaHdmi);
        for (const char* n : kVaControls)
            QVERIFY2(!child<QWidget>(&w, n)->isEnabled(), n);
        QVERIFY(child<QWidget>(&w, "Va")->isEnabled());
        QVERIFY(child<QWidget>(&w, "label_9")->isEnabled());
    }

    void settingsSavedAtEndAndRestoredAtStart()
    {
        {
            MainWindow w;
            child<QCheckBox>(&w, "OsRst")->setChecked(true);
            child<QLineEdit>(&w, "OsTrgLvl")->setText("35e-3");
            child<QLineEdit>(&w, "SaFrq")->setText("5.2e9");
            child<QLineEdit>(&w, "VaThres")->setText("not a number");
            child<QLineEdit>(&w, "OsIp")->setText("TCPIP::192.168.1.20::INSTR");
            child<QComboBox>(&w, "OsTyp")->setCurrentIndex(0);
            child<QCheckBox>(&w, "SaveData")->setChecked(true);
            child<QCheckBox>(&w, "VaHdmi")->click();
        }
        QSettings s(cfgPath(), QSettings::IniFormat);
        QCOMPARE(s.value("Oscilloscope/Reset").toString(), QString("2"));
        QCOMPARE(s.value("Oscilloscope/Type").toInt(), 0);
        QCOMPARE(s.value("Oscilloscope/Trigger Level").toDouble(), 0.035);
        QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), 5200000000.0);
        QCOMPARE(s.value("Video Analyzer/Threshold").toDouble(), 0.0);
        QCOMPARE(s.value("Video Analyzer/HDMI Delay").toString(), QString("true"));
        QCOMPARE(s.value("General/Save Data").toString(), QString("2"));

        g_osTyp = 5;
        g_vaHdmi = false;
        MainWindow w;
        QVERIFY(!w.isVisible());
        QVERIFY(child<QCheckBox>(&w, "OsRst")->isChecked());
        QCOMPARE(child<QLineEdit>(&w, "OsTrgLvl")->text(), QString("0.035"));
        QCOMPARE(child<QLineEdit>(&w, "SaFrq")->text(), QString("5.2e+09"));
        QCOMPARE(child<QLineEdit>(&w, "VaThres")->text(), QString("0"));
        QCOMPARE(child<QLineEdit>(&w, "OsIp")->text(), QString("TCPIP::192.168.1.20::INSTR"));
        QCOMPARE(child<QComboBox>(&w, "OsTyp")->currentIndex(), 0);
        QCOMPARE(g_osTyp, 0);
        QVERIFY(g_vaHdmi);
        QVERIFY(child<QCheckBox>(&w, "VaHdmi")->isChecked());
        for (const char* n : kVaControls)
            QVERIFY2(child<QWidget>(&w, n)->isEnabled(), n);
        QVERIFY(child<QCheckBox>(&w, "SaveData")->isChecked());
        QVERIFY(!child<QPushButton>(&w, "Start")->isEnabled());
    }

    void typeOutOfRangeUsesWhatTheBoxReports()
    {
        QDir().mkpath(QFileInfo(cfgPath()).path());
        {
            QSettings s(cfgPath(), QSettings::IniFormat);
            s.setValue("Oscilloscope/Type", 7);
        }
        MainWindow w;
        const int idx = child<QComboBox>(&w, "OsTyp")->currentIndex();
        QCOMPARE(g_osTyp, idx);
        QVERIFY(idx != 0);  // not the first family
    }

    void shutDownClosesSessionsByRule()
    {
        {
            MainWindow w;
        }
        QCOMPARE(fake.count("viClose 0"), 2);  // oscilloscope and analyzer always
        fake.reset();
        {
            MainWindow w;
            child<QCheckBox>(&w, "VaHdmi")->click();
        }
        QCOMPARE(fake.count("viClose 0"), 3);  // video analyzer only with HDMI checked
        QVERIFY(QFile::exists(cfgPath()));
    }

    void cancelClosesTheWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* box = child<QDialogButtonBox>(&w, "Cancel");
        box->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!w.isVisible());
    }

    void missingLibraryMessageAndNoVisaCalls()
    {
        setVisaCandidates({QStringLiteral("/nonexistent/libvisa-none.so")});
        QString title, text;
        testsupport::onNextModal([&](QWidget* m) {
            title = m ? m->windowTitle() : QString();
            text = testsupport::messageBoxText(m);
        });
        {
            MainWindow w;
            QCOMPARE(title, QString("VISA Error"));
            QCOMPARE(text, QString("The VISA Library could not be loaded."));
            QCOMPARE(w.windowTitle(), QString("Quarnel64"));
            QCOMPARE(child<QLineEdit>(&w, "SaFrq")->text(), QString("5.192e+09"));  // settings still loaded
        }
        // No VISA call at all, not even the closes of the shut-down.
        QCOMPARE(QString::fromLocal8Bit(fake.log()), QString());
        QVERIFY(QFile::exists(cfgPath()));
    }

    void resourceManagerMessage()
    {
        fake.setRm(VI_ERROR_SYSTEM_ERROR);
        QString title, text;
        testsupport::onNextModal([&](QWidget* m) {
            title = m ? m->windowTitle() : QString();
            text = testsupport::messageBoxText(m);
        });
        {
            MainWindow w;
            QCOMPARE(title, QString("VISA Error"));
            QCOMPARE(text, QString("VISA master handle not available."));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
        }
        QVERIFY(QFile::exists(cfgPath()));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    MainWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_mainwindow.moc"
