// The three Init buttons of a real MainWindow over the recording VISA
// library: what each press calls, the button texts, session handling.
#include "mainwindow.h"
#include "expected.h"
#include "recvisa.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

QStringList toList(const std::vector<std::string>& v)
{
    QStringList out;
    for (const std::string& s : v)
        out << QString::fromStdString(s);
    return out;
}

std::vector<recvisa::Call> callsOf(const std::string& op)
{
    std::vector<recvisa::Call> out;
    for (const recvisa::Call& c : recvisa::calls())
        if (c.op == op)
            out.push_back(c);
    return out;
}

}  // namespace

class TestInitSlots : public QObject
{
    Q_OBJECT

    MainWindow* w = nullptr;

    template <typename T>
    T* child(const char* name)
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c)
            qFatal("no control %s", name);
        return c;
    }
    QString text(const char* button) { return child<QPushButton>(button)->text(); }
    void press(const char* button) { child<QPushButton>(button)->click(); }

private slots:
    void initTestCase()
    {
        setVisaCandidates({QStringLiteral(RECVISA_PATH)});
        w = new MainWindow;
        child<QLineEdit>("OsIp")->setText("TCPIP::10.1.1.1::INSTR");
        child<QLineEdit>("SaIp")->setText("TCPIP::10.1.1.2::INSTR");
        child<QLineEdit>("VaIp")->setText("TCPIP::10.1.1.3::INSTR");
    }

    void cleanupTestCase() { delete w; }

    void init()
    {
        recvisa::reset();
        child<QComboBox>("OsTyp")->setCurrentIndex(0);
        child<QCheckBox>("OsRst")->setChecked(false);
        child<QCheckBox>("SaRst")->setChecked(false);
        child<QCheckBox>("SaIfDem")->setChecked(false);
        child<QCheckBox>("VaRst")->setChecked(false);
        child<QLineEdit>("OsTrgLvl")->setText("35e-3");
        child<QLineEdit>("SaFrq")->setText("5.192e9");
        child<QLineEdit>("VaThres")->setText("35.0");
        recvisa::replyTo("*IDN?", "Maker,KLE 3,100,1.0\n");
    }

    void oscilloscopePress()
    {
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
        QCOMPARE(toList(recvisa::queries()),
                 expected::osPreamble(false) + expected::osFirstFamily(false, "0.035"));
        const auto locals = callsOf("ren");
        QCOMPARE(locals.size(), std::size_t(1));
        QCOMPARE(locals[0].value, 6ull);
        QVERIFY(callsOf("other").empty());
    }

    void oscilloscopeSecondFamilyResetAndBadLevel()
    {
        child<QComboBox>("OsTyp")->setCurrentIndex(1);
        child<QCheckBox>("OsRst")->setChecked(true);
        child<QCheckBox>("SaIfDem")->setChecked(true);  // not consulted by this family
        child<QLineEdit>("OsTrgLvl")->setText("abc");
        press("OsInit");
        QCOMPARE(text("OsInit"), QString("Ready"));
        QCOMPARE(toList(recvisa::queries()), expected::osPreamble(true) + expected::osSecondFamily("0"));
    }

    void warningStatusFailsAStep()
    {
        // A completion code no network peer sends for a query: still a failure.
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
        // The old session is closed before the new open, and nothing reaches it
        // although the open failed.
        const auto all = recvisa::calls();
        QCOMPARE(all.at(n).op, std::string("close"));
        QCOMPARE(all.at(n).vi, first);
        QCOMPARE(all.at(n + 1).op, std::string("open"));
        for (std::size_t i = n + 1; i < all.size(); ++i)
            QVERIFY(all[i].vi != first);
        QCOMPARE(text("OsInit"), QString("Init"));
        QVERIFY(recvisa::openSessions().empty());

        press("OsInit");
        QCOMPARE(text("OsInit"), QString("Ready"));
        QCOMPARE(recvisa::openSessions().size(), std::size_t(1));
        press("OsInit");
        QCOMPARE(recvisa::openSessions().size(), std::size_t(1));
    }

    void analyzerGoToLocalFailing()
    {
        recvisa::failOn("ren", "", VI_ERROR_NSUP_OPER);
        press("SaInit");
        QCOMPARE(text("SaInit"), QString("Init"));
    }

    void videoNeedsItsOwnReadinessWithHdmi()
    {
        press("OsInit");
        press("SaInit");
        QVERIFY(child<QPushButton>("Start")->isEnabled());
        QCheckBox* hdmi = child<QCheckBox>("VaHdmi");
        hdmi->click();
        QVERIFY(hdmi->isChecked());
        recvisa::failOn("query", "HYST", VI_ERROR_TMO);
        press("VaInit");
        QCOMPARE(text("VaInit"), QString("Init"));
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        QCOMPARE(callsOf("attr").back().value, 10000ull);  // twice the others' time-out
        hdmi->click();
    }

    void failingSetupDisablesStart()
    {
        press("OsInit");
        press("SaInit");
        QVERIFY(child<QPushButton>("Start")->isEnabled());
        recvisa::failOn("query", "SWE:POIN", VI_ERROR_TMO);
        press("SaInit");
        QCOMPARE(text("SaInit"), QString("Init"));
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
    }

    // Last: it replaces the window with one that has no VISA library.
    void withoutVisaNothingIsSent()
    {
        delete w;
        w = nullptr;
        setVisaCandidates({QStringLiteral("/nonexistent/libnovisa.so")});
        // Without a library the window says so in a box first.
        testsupport::onNextModal([](QWidget*) {});
        w = new MainWindow;
        recvisa::reset();
        child<QCheckBox>("VaHdmi")->click();
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            press(b);
            QCOMPARE(text(b), QString("Init"));
        }
        QVector<double> arr{1.0};
        bool ok = true;
        QVERIFY(QMetaObject::invokeMethod(w, "ReadArray", Qt::DirectConnection,
                                          Q_RETURN_ARG(bool, ok), Q_ARG(ViSession, 1001),
                                          Q_ARG(QString, "CHAN1:DATA?\n"),
                                          Q_ARG(QVector<double>*, &arr)));
        QVERIFY(!ok);
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        QVERIFY(recvisa::calls().empty());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TestInitSlots tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_initslots.moc"
