// End to end: the three Init buttons of a real MainWindow through our LAN
// VISA library against the simulated bench: what the instruments receive,
// whether they are returned to local control, what the buttons show.
// The failure rules are the sequence test's and the fault matrix's; here
// the bench checks that every set-up is one the instruments accept.
#include "bench.h"
#include "expected.h"
#include "mainwindow.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace quarnel::bench;
using namespace expected;

Q_DECLARE_METATYPE(Instrument)

class TstInitBench : public QObject
{
    Q_OBJECT

    std::unique_ptr<Bench> bench;
    MainWindow* w = nullptr;

    template <typename T>
    T* child(const char* name) { return testsupport::child<T>(w, name); }

    void setResources(const QString& os, const QString& sa, const QString& va)
    {
        child<QLineEdit>("OsIp")->setText(os);
        child<QLineEdit>("SaIp")->setText(sa);
        child<QLineEdit>("VaIp")->setText(va);
    }
    QString rsrc(Instrument i) { return QString::fromStdString(bench->resourceString(i)); }

    void press()
    {
        QFETCH(Instrument, inst);
        QFETCH(int, osTyp);
        QFETCH(QStringList, ticked);
        QFETCH(QString, idn);
        QFETCH(QStringList, sent);
        const char* button = inst == Instrument::Oscilloscope ? "OsInit"
                           : inst == Instrument::SpectrumAnalyzer ? "SaInit" : "VaInit";
        child<QComboBox>("OsTyp")->setCurrentIndex(osTyp);
        for (const char* box : {"OsRst", "SaRst", "SaIfDem", "VaRst"})
            child<QCheckBox>(box)->setChecked(ticked.contains(box));
        child<QLineEdit>("OsTrgLvl")->setText(osTyp ? "-12.5e-3" : "35e-3");
        child<QLineEdit>("SaFrq")->setText(osTyp ? "2.412345678e9" : "5.192e9");
        child<QLineEdit>("VaThres")->setText("35.0");
        bench->clearFaults();
        child<QPushButton>(button)->click();  // a Ready to lose
        if (!idn.isEmpty()) {
            Fault f;
            f.instrument = inst;
            f.kind = FaultKind::ReplaceReply;
            f.match = "*IDN?";
            f.text = idn.toStdString();
            bench->addFault(f);
        }
        bench->clearLog();

        child<QPushButton>(button)->click();
        QCOMPARE(testsupport::toQt(bench->messages(inst)), sent);
        bool wentLocal = false;
        for (const LogEntry& e : bench->log(inst))
            wentLocal |= e.kind == LogKind::Procedure && e.text == "device_local";
        QVERIFY(wentLocal);
        QCOMPARE(child<QPushButton>(button)->text(), QString("Ready"));
        QVERIFY(child<QPushButton>(button)->toolTip().isEmpty());
        // The instrument took the settings.
        if (inst == Instrument::Oscilloscope)
            QCOMPARE(bench->scopeState().triggerLevel, osTyp ? -0.0125 : 0.035);
        if (inst == Instrument::SpectrumAnalyzer)
            QCOMPARE(bench->analyzerState().centre, osTyp ? 2.41235e9 : 5.192e9);
        if (inst == Instrument::VideoAnalyzer)
            QVERIFY(bench->videoState().running);
    }

private slots:
    void initTestCase()
    {
        bench.reset(new Bench(testOptions()));
        std::string error;
        QVERIFY2(bench->start(&error), error.c_str());
        setVisaCandidates({QStringLiteral(LANVISA_PATH)});
        w = new MainWindow;
        setResources(rsrc(Instrument::Oscilloscope), rsrc(Instrument::SpectrumAnalyzer),
                     rsrc(Instrument::VideoAnalyzer));
        if (!child<QCheckBox>("VaHdmi")->isChecked())
            child<QCheckBox>("VaHdmi")->click();
    }

    void cleanupTestCase()
    {
        delete w;
        bench.reset();
    }

private:
    // One press with the form as the row sets it: `ticked` names the check
    // boxes to tick, `idn` the analyzer's identification.
    void rows()
    {
        QTest::addColumn<Instrument>("inst");
        QTest::addColumn<int>("osTyp");
        QTest::addColumn<QStringList>("ticked");
        QTest::addColumn<QString>("idn");
        QTest::addColumn<QStringList>("sent");
        const auto os = Instrument::Oscilloscope, sa = Instrument::SpectrumAnalyzer, va = Instrument::VideoAnalyzer;
        const QStringList first = osPreamble(false) + osFirstFamily(false, "0.035"), none;
        const QStringList pre = saPreamble(true), level = saLevel("5.192e+09"), sweep = saSweep(0),
                          trig = saTrigger(false), chain = vaChain(true, "35");
        QTest::newRow("os first family") << os << 0 << none << "" << first;
        QTest::newRow("os first family, channel 3") << os << 0 << QStringList{"SaIfDem"} << ""
            << osPreamble(false) + osFirstFamily(true, "0.035");
        QTest::newRow("os second family, reset") << os << 1 << QStringList{"OsRst", "SaIfDem"} << ""
            << osPreamble(true) + osSecondFamily("-0.0125");
        QTest::newRow("sa bench default KLE") << sa << 0 << none << "" << pre + level + sweep + trig
                                                 ;
        QTest::newRow("sa KLEM") << sa << 0 << none << "Maker,KLEM 30,7,2.1\n"
                                     << saAll(true, false, 0, "5.192e+09");
        QTest::newRow("sa ZOL") << sa << 0 << QStringList{"SaIfDem"} << "Maker,ZOL 4,7,2.1\n"
                                    << saAll(false, true, 0, "5.192e+09");
        QTest::newRow("sa lower-case zol") << sa << 0 << none << "maker,zol 4,7,2.1\n"
                                               << saAll(false, true, 0, "5.192e+09");
        QTest::newRow("sa second family, reset") << sa << 1 << QStringList{"SaRst"} << ""
            << saPreamble(true, true) + saLevel("2.41235e+09") + saSweep(1) + trig;
        QTest::newRow("va reset") << va << 0 << QStringList{"VaRst"} << "" << chain;
    }

private slots:
    void setUps_data() { rows(); }
    void setUps() { press(); }

    void openFailsWithoutInstrument()
    {
        const QString none = QString("TCPIP::%1::INSTR").arg(uniqueLoopbackAddresses(1)[0].c_str());
        setResources(none, none, none);
        bench->clearLog();
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            child<QPushButton>(b)->click();
            QCOMPARE(child<QPushButton>(b)->text(), QString("Init"));
            // Refused connection: the open is named, even where a later step ended the set-up.
            const QString tip = child<QPushButton>(b)->toolTip();
            QVERIFY2(tip.contains("viOpen") && tip.contains("VI_ERROR_RSRC_NFOUND: ") && tip.contains(none),
                     qPrintable(tip));
        }
        QVERIFY(!child<QPushButton>("Start")->isEnabled());
        for (Instrument i : {Instrument::Oscilloscope, Instrument::SpectrumAnalyzer, Instrument::VideoAnalyzer})
            QVERIFY(bench->messages(i).empty());
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    TstInitBench tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_init_bench.moc"
