// The three Init buttons of a real MainWindow over the recording VISA
// library: the calls each press makes, statuses no network peer produces,
// session handling, and nothing at all without a VISA library.
#include "mainwindow.h"
#include "recvisa.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

using recvisa::callsOf;

class TstInitSlots : public QObject
{
    Q_OBJECT

    MainWindow* w = nullptr;

    template <typename T>
    T* child(const char* name)
    {
        return testsupport::child<T>(w, name);
    }
    QString text(const char* button) { return child<QPushButton>(button)->text(); }
    void press(const char* button) { child<QPushButton>(button)->click(); }

private slots:
    void initTestCase()
    {
        setVisaCandidates({testsupport::recVisaPath()});
        w = new MainWindow;
        child<QLineEdit>("OsIp")->setText("TCPIP::10.1.1.1::INSTR");
        child<QComboBox>("OsTyp")->setCurrentIndex(0);
    }

    void cleanupTestCase() { delete w; }

    void init()
    {
        recvisa::reset();
        recvisa::replyTo("*IDN?", "Maker,KLE 3,100,1.0\n");
    }

    void oscilloscopePress()
    {
        child<QLineEdit>("OsTrgLvl")->setText("35e-3");
        press("OsInit");
        QCOMPARE(text("OsInit"), QString("Ready"));
        const auto opens = callsOf("open");
        QCOMPARE(opens.size(), std::size_t(1));
        QCOMPARE(opens[0].text, std::string("TCPIP::10.1.1.1::INSTR"));
        QCOMPARE(opens[0].value, 10000ull);  // no lock, 10 s open time-out
        const auto attrs = callsOf("attr");
        QCOMPARE(attrs.size(), std::size_t(1));
        QCOMPARE(attrs[0].text, std::string("0x3FFF001A"));
        QCOMPARE(attrs[0].value, 5000ull);
        const QStringList queries = testsupport::toQt(recvisa::queries());
        QCOMPARE(queries.size(), 24);  // SYST:ERR? and 23 without channel 3
        QVERIFY(queries.contains("TRIG1:LEV1 0.035;*OPC?\n"));
        const auto locals = callsOf("ren");
        QCOMPARE(locals.size(), std::size_t(1));
        QCOMPARE(locals[0].value, 6ull);  // go to local
        QVERIFY(callsOf("other").empty());
    }

    // A field that is not a finite number: the press sends nothing, the
    // button reads "Init" (even after an earlier "Ready") and the status bar
    // names the field.
    void numbersThatAreNoNumbersAreRefused_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("level abc") << "OsTrgLvl"
                                   << "OsInit"
                                   << "Trigger Level"
                                   << "abc";
        QTest::newRow("level nan") << "OsTrgLvl"
                                   << "OsInit"
                                   << "Trigger Level"
                                   << "nan";
        QTest::newRow("frequency inf") << "SaFrq"
                                       << "SaInit"
                                       << "Center Frequency"
                                       << "inf";
        QTest::newRow("frequency overflow") << "SaFrq"
                                            << "SaInit"
                                            << "Center Frequency"
                                            << "1e999";
        QTest::newRow("threshold empty") << "VaThres"
                                         << "VaInit"
                                         << "Threshold"
                                         << "";
    }
    void numbersThatAreNoNumbersAreRefused()
    {
        QFETCH(QString, field);
        QFETCH(QString, button);
        QFETCH(QString, name);
        QFETCH(QString, value);
        const QByteArray b = button.toLatin1();
        QWidget* btn = child<QWidget>(b);
        const bool enabled = btn->isEnabled();  // the video analyzer's only with HDMI
        btn->setEnabled(true);
        press(b);
        QCOMPARE(this->text(b), QString("Ready"));
        const QString good = child<QLineEdit>(field.toLatin1())->text();
        child<QLineEdit>(field.toLatin1())->setText(value);
        recvisa::reset();
        press(b);
        child<QLineEdit>(field.toLatin1())->setText(good);
        QCOMPARE(this->text(b), QString("Init"));
        QVERIFY(recvisa::queries().empty());
        QVERIFY(callsOf("open").empty());
        btn->setEnabled(enabled);
        const QString shown = w->statusBar()->currentMessage();
        QVERIFY2(shown.contains(name) && shown.contains(value), qPrintable(shown));
    }

    void warningStatusFailsAStep()
    {
        recvisa::failOn("query", "CHAN:DIGF:CUT", VI_WARN_NSUP_ATTR_STATE);
        press("OsInit");
        QCOMPARE(text("OsInit"), QString("Init"));
        QCOMPARE(callsOf("ren").size(), std::size_t(1));  // that step ends after go-to-local
        QCOMPARE(recvisa::queries().back(), std::string("CHAN:DIGF:CUT 100e3;*OPC?\n"));
    }

    void repeatedPressClosesThePreviousSession()
    {
        press("OsInit");
        const ViSession first = callsOf("query").front().vi;
        const std::size_t n = recvisa::calls().size();
        recvisa::failOn("open", "", VI_ERROR_RSRC_NFOUND, 0, 1);
        press("OsInit");
        // Closed before the new open; nothing reaches it although the open failed.
        const auto all = recvisa::calls();
        QCOMPARE(all.at(n).op, std::string("close"));
        QCOMPARE(all.at(n).vi, first);
        QCOMPARE(all.at(n + 1).op, std::string("open"));
        for (std::size_t i = n + 1; i < all.size(); ++i)
            QVERIFY(all[i].vi != first);
        QCOMPARE(text("OsInit"), QString("Init"));
        QVERIFY(recvisa::openSessions().empty());
        for (int i = 0; i < 2; ++i) {
            press("OsInit");
            QCOMPARE(text("OsInit"), QString("Ready"));
            QCOMPARE(recvisa::openSessions().size(), std::size_t(1));
        }
    }

    // The button is disabled under a busy cursor while its Init runs; clicks
    // the operator gave meanwhile are dropped instead of starting more Inits.
    void busyWhileRunning()
    {
        auto* button = child<QPushButton>("OsInit");
        bool enabledDuring = true;
        int cursorDuring = -1;
        QMetaObject::invokeMethod(
            qApp,
            [&] {  // runs inside the Init
                enabledDuring = button->isEnabled();
                cursorDuring = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : -1;
                for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                    QCoreApplication::postEvent(
                        button, new QMouseEvent(t, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
            },
            Qt::QueuedConnection);
        press("OsInit");
        QCoreApplication::processEvents();
        QVERIFY(!enabledDuring);
        QCOMPARE(cursorDuring, int(Qt::WaitCursor));
        QCOMPARE(callsOf("open").size(), std::size_t(1));
        QVERIFY(button->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    // A failure names its step, status and resource; the next success clears it.
    void failureIsExplained()
    {
        recvisa::failOn("query", "TIM:RANG", VI_ERROR_TMO, 0, 1);
        press("OsInit");
        const QString tip = child<QPushButton>("OsInit")->toolTip();
        for (const char* part : {"at TIM:RANG 1.0;*OPC?\n", "VISA status 0xbfff0015", "TCPIP::10.1.1.1::INSTR"})
            QVERIFY2(tip.contains(part), qPrintable(tip));
        QVERIFY(w->statusBar()->currentMessage().contains("TIM:RANG"));
        press("OsInit");
        QCOMPARE(text("OsInit"), QString("Ready"));
        QVERIFY(child<QPushButton>("OsInit")->toolTip().isEmpty());
        QVERIFY(w->statusBar()->currentMessage().isEmpty());
    }

    // Start follows the readiness after each press, the video analyzer's with HDMI.
    void startFollowsEachPress()
    {
        press("OsInit");
        press("SaInit");
        QVERIFY(child<QPushButton>("Start")->isEnabled());
        recvisa::failOn("ren", "", VI_ERROR_NSUP_OPER, 0, 1);  // the analyzer's go-to-local decides
        press("SaInit");
        QCOMPARE(text("SaInit"), QString("Init"));
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        press("SaInit");
        QVERIFY(child<QPushButton>("Start")->isEnabled());

        child<QCheckBox>("VaHdmi")->click();
        recvisa::failOn("query", "HYST", VI_ERROR_TMO);
        press("VaInit");
        QCOMPARE(text("VaInit"), QString("Init"));
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        QCOMPARE(callsOf("attr").back().value, 10000ull);  // twice the others' time-out
        child<QCheckBox>("VaHdmi")->click();
    }

    // Last: it replaces the window with one that has no VISA library.
    void withoutVisaNothingIsSent()
    {
        delete w;
        setVisaCandidates({QStringLiteral("/nonexistent/libnovisa.so")});
        testsupport::onNextModal([](QWidget*) {});  // the "VISA Error" box
        w = new MainWindow;
        recvisa::reset();
        child<QCheckBox>("VaHdmi")->click();
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            QString why;
            testsupport::onNextModal([&why](QWidget* m) { why = testsupport::messageBoxText(m); });
            press(b);
            QCOMPARE(text(b), QString("Init"));
            QVERIFY2(why.contains("Init cannot run: no VISA library is loaded")
                         && why.contains("/nonexistent/libnovisa.so: no such file"),
                     qPrintable(why));
        }
        QVector<double> arr{1.0};
        QVERIFY(!testsupport::readArray(w, 1001, "CHAN1:DATA?\n", &arr));
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        QVERIFY(recvisa::calls().empty());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstInitSlots tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_initslots.moc"
