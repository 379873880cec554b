// The main window as the operator meets it: start-up, form, enabling rules,
// settings, shut-down and the start-up messages, over the recording VISA
// library; and the path rules and settings reading on their own.
#include "globals.h"
#include "mainwindow.h"
#include "paths.h"
#include "recvisa.h"
#include "settings.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::child;

namespace {

QString cfgPath()
{
    const QString app = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Tervane/" + app + "/" + app
           + ".cfg";
}

int closes(ViSession vi)
{
    int n = 0;
    for (const recvisa::Call& c : recvisa::callsOf("close"))
        n += c.vi == vi;
    return n;
}

const char* const kVaControls[] = {"VaInit", "VaIp", "VaRst", "VaThres", "VaThresLbl"};
const char* const kBoxes[] = {"OsRst", "SaRst", "VaRst", "SaIfDem", "SaveData"};

void verifyVaControls(QWidget* w, bool enabled)
{
    for (const char* n : kVaControls)
        QVERIFY2(child<QWidget>(w, n)->isEnabled() == enabled, n);
    QVERIFY(child<QWidget>(w, "Va")->isEnabled());  // the group itself never changes
    QVERIFY(child<QWidget>(w, "label_9")->isEnabled());
}

// Catches the next modal box's title and text.
struct NextBox
{
    QString title, text;
    NextBox()
    {
        testsupport::onNextModal([this](QWidget* m) {
            title = m ? m->windowTitle() : QString();
            text = testsupport::messageBoxText(m);
        });
    }
};

}  // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        setVisaCandidates({testsupport::recVisaPath()});
        recvisa::reset();
        QFile::remove(cfgPath());
        g_osTyp = 0;
        g_vaHdmi = false;
    }

    void startupWithoutSettings()
    {
        MainWindow w;
        QVERIFY(w.statusBar()->currentMessage().isEmpty());
        QCOMPARE(g_osTyp, child<QComboBox>(&w, "OsTyp")->currentIndex());
        for (const char* n : kBoxes)
            QVERIFY2(!child<QCheckBox>(&w, n)->isChecked(), n);
        QVERIFY(!child<QCheckBox>(&w, "VaHdmi")->isChecked());
        verifyVaControls(&w, false);
        QVERIFY(!child<QPushButton>(&w, "Start")->isEnabled());
        for (const char* n : {"OsInit", "SaInit", "VaInit"})
            QCOMPARE(child<QPushButton>(&w, n)->text(), QString("Init"));
        QCOMPARE(recvisa::callsOf("rm").size(), std::size_t(1));
    }

    void undimStartTruthTable_data()
    {
        QTest::addColumn<bool>("hdmi");
        QTest::addColumn<QString>("os");
        QTest::addColumn<QString>("sa");
        QTest::addColumn<QString>("va");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("two ready, no hdmi") << false << "Ready"
                                            << "Ready"
                                            << "Init" << true;
        QTest::newRow("sa not ready") << false << "Ready"
                                      << "Init"
                                      << "Ready" << false;
        QTest::newRow("os not ready") << false << "Init"
                                      << "Ready"
                                      << "Ready" << false;
        QTest::newRow("hdmi needs va") << true << "Ready"
                                       << "Ready"
                                       << "Init" << false;
        QTest::newRow("hdmi all ready") << true << "Ready"
                                        << "Ready"
                                        << "Ready" << true;
        QTest::newRow("wrong case") << false << "ready"
                                    << "Ready"
                                    << "Ready" << false;
        QTest::newRow("wrong case va") << true << "Ready"
                                       << "Ready"
                                       << "READY" << false;
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
        start->setEnabled(!enabled);  // a call can disable as well as enable
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
        for (bool on : {true, false}) {
            hdmi->click();
            QCOMPARE(g_vaHdmi, on);
            verifyVaControls(&w, on);
            QVERIFY(!child<QPushButton>(&w, "Start")->isEnabled());  // recomputed only by an Init
        }
    }

    void settingsSavedAtEndAndRestoredAtStart()
    {
        const char* const edits[][3] = {// control, typed, shown after the restart
                                        {"OsIp", "TCPIP::10.0.0.1::INSTR", "TCPIP::10.0.0.1::INSTR"},
                                        {"SaIp", "TCPIP::10.0.0.2::INSTR", "TCPIP::10.0.0.2::INSTR"},
                                        {"VaIp", "TCPIP::10.0.0.3::INSTR", "TCPIP::10.0.0.3::INSTR"},
                                        {"OsTrgLvl", "35e-3", "0.035"},
                                        {"SaFrq", "5.2e9", "5.2e+09"},
                                        {"VaThres", "not a number", "0"}};
        // The check boxes in three rounds, so that no two share every state.
        for (int bit = 0; bit < 3; ++bit) {
            const auto ticked = [bit](int i) { return bool((i + 1) >> bit & 1); };
            {
                MainWindow w;
                for (const auto& e : edits)
                    child<QLineEdit>(&w, e[0])->setText(e[1]);
                for (int i = 0; i < 5; ++i)
                    child<QCheckBox>(&w, kBoxes[i])->setChecked(ticked(i));
                child<QComboBox>(&w, "OsTyp")->setCurrentIndex(0);
                if (child<QCheckBox>(&w, "VaHdmi")->isChecked() != (bit == 0))
                    child<QCheckBox>(&w, "VaHdmi")->click();
            }
            if (bit == 0) {  // what the file holds: check states as ints, HDMI as a bool
                QSettings s(cfgPath(), QSettings::IniFormat);
                QCOMPARE(s.value("Oscilloscope/Reset").toString(), QString("2"));
                QCOMPARE(s.value("Spectrum Analyzer/Reset").toString(), QString("0"));
                QCOMPARE(s.value("Oscilloscope/Type").toString(), QString("0"));
                QCOMPARE(s.value("Oscilloscope/Trigger Level").toDouble(), 0.035);
                QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), 5.2e9);
                QCOMPARE(s.value("Video Analyzer/HDMI Delay").toString(), QString("true"));
            }
            g_osTyp = 5;
            g_vaHdmi = false;
            MainWindow w;
            QVERIFY(!w.isVisible());
            for (const auto& e : edits)
                QCOMPARE(child<QLineEdit>(&w, e[0])->text(), QString(e[2]));
            for (int i = 0; i < 5; ++i)
                QVERIFY2(child<QCheckBox>(&w, kBoxes[i])->isChecked() == ticked(i), kBoxes[i]);
            QCOMPARE(child<QComboBox>(&w, "OsTyp")->currentIndex(), 0);
            QCOMPARE(g_osTyp, 0);
            QCOMPARE(g_vaHdmi, bit == 0);
            QCOMPARE(child<QCheckBox>(&w, "VaHdmi")->isChecked(), bit == 0);
            verifyVaControls(&w, bit == 0);  // before the window is shown
            QVERIFY(!child<QPushButton>(&w, "Start")->isEnabled());
        }
    }

    void typeOutOfRangeUsesWhatTheBoxReports()
    {
        QDir().mkpath(QFileInfo(cfgPath()).path());
        QSettings(cfgPath(), QSettings::IniFormat).setValue("Oscilloscope/Type", 7);
        MainWindow w;
        const int idx = child<QComboBox>(&w, "OsTyp")->currentIndex();
        QCOMPARE(g_osTyp, idx);
        QVERIFY(idx != 0);  // not the first family
    }

    void shutDownClosesSessionsByRule()
    {
        for (bool hdmi : {false, true}) {
            recvisa::reset();
            {
                MainWindow w;
                if (hdmi)
                    child<QCheckBox>(&w, "VaHdmi")->click();
            }
            // Handles that were never opened are 0; the video analyzer only with HDMI.
            QCOMPARE(closes(0), hdmi ? 3 : 2);
            QVERIFY(QFile::exists(cfgPath()));
        }
    }

    void cancelClosesTheWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        child<QDialogButtonBox>(&w, "Cancel")->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!w.isVisible());
    }

    void missingLibraryMessageAndNoVisaCalls()
    {
        setVisaCandidates({QStringLiteral("/nonexistent/libvisa-none.so"), QStringLiteral("quarnel-no-visa")});
        NextBox box;
        {
            MainWindow w;
            QCOMPARE(box.title, QString("VISA Error"));
            // Every place tried, in the message and on each Init button.
            for (const QString& text : {box.text, child<QPushButton>(&w, "VaInit")->toolTip()})
                for (const char* tried :
                     {"/nonexistent/libvisa-none.so: no such file", "libquarnel-no-visa.so in the system library path"})
                    QVERIFY2(text.contains(tried), qPrintable(text));
            QVERIFY(box.text.startsWith("The VISA Library could not be loaded.\n"));
            QCOMPARE(child<QLineEdit>(&w, "SaFrq")->text(), QString("5.192e+09"));  // settings still loaded
        }
        QVERIFY(recvisa::calls().empty());  // not even the closes of the shut-down
        QVERIFY(QFile::exists(cfgPath()));
    }

    void resourceManagerMessage()
    {
        recvisa::failOn("rm", "", VI_ERROR_SYSTEM_ERROR);
        NextBox box;
        {
            MainWindow w;
            QCOMPARE(box.title, QString("VISA Error"));
            QCOMPARE(box.text, QString("VISA master handle not available."));
        }
        QVERIFY(QFile::exists(cfgPath()));
    }

    void numericFieldsTakeOnlyNumbers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("level") << "OsTrgLvl"
                               << "-35e-3x"
                               << "-35e-3";
        QTest::newRow("frequency") << "SaFrq"
                                   << "5.2E+09 Hz"
                                   << "5.2E+09";
        QTest::newRow("no decimal comma") << "SaFrq"
                                          << "5,2e9"
                                          << "52e9";
        QTest::newRow("threshold") << "VaThres"
                                   << "nan"
                                   << "";
        QTest::newRow("count") << "MeasCnt"
                               << "-1.5e3"
                               << "153";
    }
    void numericFieldsTakeOnlyNumbers()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        MainWindow w;
        child<QCheckBox>(&w, "VaHdmi")->click();
        auto* e = child<QLineEdit>(&w, qPrintable(field));
        e->clear();
        QTest::keyClicks(e, typed);
        QCOMPARE(e->text(), shown);
    }

    void countThatRunsNothingIsTurnedBack_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "No measurement count is given: enter a number from 1 to 100000.";
        QTest::newRow("zero") << "0"
                              << "A measurement count of 0 runs no measurement: enter a number from 1 to 100000.";
        QTest::newRow("too many, refused as before") << "100001"
                                                     << "The measurement count 100001 is too large";
    }
    void countThatRunsNothingIsTurnedBack()
    {
        QFETCH(QString, count);
        QFETCH(QString, message);
        MainWindow w;
        recvisa::reset();
        child<QLineEdit>(&w, "MeasCnt")->setText(count);
        auto* start = child<QPushButton>(&w, "Start");
        start->setEnabled(true);
        NextBox box;
        start->click();
        QVERIFY2(box.text.startsWith(message), qPrintable(box.text));
        QVERIFY(recvisa::calls().empty());  // no series ran
    }

    void dataDirRule_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("dir");
        QTest::newRow("linux") << "/home/op/.local/share/quarnel"
                               << "/home/op/.local/share/Tervane/quarnel";
        QTest::newRow("backslashes") << "C:\\Users\\op\\AppData\\Local\\tool"
                                     << "C:/Users/op/AppData/Local/Tervane/tool";
        QTest::newRow("mixed") << "C:\\Users/op\\x"
                               << "C:/Users/op/Tervane/x";
        QTest::newRow("empty") << ""
                               << "Tervane/";
        QTest::newRow("trailing slash keeps the empty part") << "/a/b/"
                                                             << "/a/b/Tervane/";
    }
    void dataDirRule()
    {
        QFETCH(QString, location);
        QFETCH(QString, dir);
        QCOMPARE(dataDirFromLocation(location), dir);
        QCOMPARE(appNameFromPath("C:/tools/my.tool.exe"), QString("my"));
        QCOMPARE(cfgFilePath("Tervane/", "quarnel"), QString("Tervane//quarnel.cfg"));
    }

    void handWrittenAndBrokenSettings()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("hand.cfg"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Oscilloscope]\nReset=true\nTrigger%20Level=abc\nType=zz\n[%General]\nSave%20Data=1\n"
                "[Spectrum%20Analyzer]\nCenter%20Frequency=inf\n[Video%20Analyzer]\nThreshold=nan\n");
        f.close();
        const CfgValues v = readCfg(f.fileName());
        QVERIFY(v.osRst && v.saveData);
        // Numbers for the instruments that are none keep their defaults.
        QCOMPARE(v.trgLvl, CfgValues().trgLvl);
        QCOMPARE(v.saFrq, CfgValues().saFrq);
        QCOMPARE(v.vaThres, CfgValues().vaThres);
        QCOMPARE(v.osIp, CfgValues().osIp);  // keys the file lacks keep their defaults one by one
        QCOMPARE(v.osTyp, 0);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4096; ++i)
            f.putChar(char((i * 131 + 7) & 0xff));
        f.close();
        QCOMPARE(readCfg(f.fileName()).saIp, QString("TCPIP::127.0.0.12::INSTR"));
        // A serialised list claiming 2^31 entries: Qt's reader would allocate for all of them.
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Oscilloscope]\nType=@Variant(\\0\\0\\0\\t\\x7f\\0\\0\\0)\nTrigger%20Level=0.1\n");
        f.close();
        QCOMPARE(readCfg(f.fileName()).trgLvl, CfgValues().trgLvl);
        QCOMPARE(cfgProblems(f.fileName()).size(), 1);
        writeCfg(f.fileName(), CfgSaveValues());
        QVERIFY(QFile::exists(f.fileName() + ".unreadable"));
        QVERIFY(!cfgHoldsSerialisedValue(f.fileName()));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstMainWindow t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_mainwindow.moc"
