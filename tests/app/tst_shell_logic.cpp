// Path rules and the settings file, without any window.
#include "paths.h"
#include "settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class ShellLogicTest : public QObject
{
    Q_OBJECT

private slots:
    void dataDir_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("dir");
        QTest::newRow("linux") << "/home/op/.local/share/quarnel" << "/home/op/.local/share/Tervane/quarnel";
        QTest::newRow("backslashes") << "C:\\Users\\op\\AppData\\Local\\tool"
                                     << "C:/Users/op/AppData/Local/Tervane/tool";
        QTest::newRow("mixed") << "C:\\Users/op\\x" << "C:/Users/op/Tervane/x";
        QTest::newRow("empty") << "" << "Tervane/";
        QTest::newRow("trailing slash keeps the empty part") << "/a/b/" << "/a/b/Tervane/";
    }
    void dataDir()
    {
        QFETCH(QString, location);
        QFETCH(QString, dir);
        QCOMPARE(dataDirFromLocation(location), dir);
    }

    void appNameAndCfgPath()
    {
        QCOMPARE(appNameFromPath("/usr/bin/quarnel"), QString("quarnel"));
        QCOMPARE(appNameFromPath("C:/tools/my.tool.exe"), QString("my"));
        QCOMPARE(cfgFilePath("Tervane/", "quarnel"), QString("Tervane//quarnel.cfg"));
        QCOMPARE(cfgFilePath(dataDirFromLocation("C:\\Users\\op\\AppData\\Local\\tool"), "tool"),
                 QString("C:/Users/op/AppData/Local/Tervane/tool/tool.cfg"));
    }

    void defaultsWhenFileMissing()
    {
        QTemporaryDir dir;
        const CfgValues v = readCfg(dir.filePath("none.cfg"));
        QCOMPARE(v.osIp, QString("TCPIP::127.0.0.11::INSTR"));
        QCOMPARE(v.saIp, QString("TCPIP::127.0.0.12::INSTR"));
        QCOMPARE(v.vaIp, QString("TCPIP::127.0.0.13::INSTR"));
        QCOMPARE(v.osTyp, 1);
        QCOMPARE(formatNumber(v.trgLvl), QString("0.027"));
        QCOMPARE(formatNumber(v.saFrq), QString("5.192e+09"));
        QCOMPARE(formatNumber(v.vaThres), QString("35"));
        QVERIFY(!v.osRst && !v.saRst && !v.vaRst && !v.saIfDem && !v.vaHdmi && !v.saveData);
    }

    void writtenTypesAndRoundTrip()
    {
        QTemporaryDir dir;
        const QString f = dir.filePath("q.cfg");
        CfgSaveValues s;
        s.osIp = "TCPIP::10.0.0.5::INSTR";
        s.osRst = 2;
        s.osTyp = 0;
        s.trgLvl = QString("35e-3").toDouble();
        s.saFrq = QString("5.2e9").toDouble();
        s.saIfDem = 2;
        s.vaThres = 40.5;
        s.vaHdmi = true;
        s.saveData = 0;
        writeCfg(f, s);

        // Check states as ints, the HDMI flag as a bool.
        QFile raw(f);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray text = raw.readAll();
        QVERIFY(text.contains("Reset=2"));
        QVERIFY(text.contains("HDMI%20Delay=true"));
        QVERIFY(text.contains("[Spectrum%20Analyzer]"));

        const CfgValues v = readCfg(f);
        QCOMPARE(v.osIp, s.osIp);
        QVERIFY(v.osRst);
        QCOMPARE(v.osTyp, 0);
        QCOMPARE(formatNumber(v.trgLvl), QString("0.035"));
        QCOMPARE(formatNumber(v.saFrq), QString("5.2e+09"));
        QCOMPARE(v.saFrq, 5200000000.0);
        QVERIFY(v.saIfDem);
        QVERIFY(v.vaHdmi);
        QVERIFY(!v.saveData);
        QCOMPARE(v.vaThres, 40.5);
    }

    void handWrittenAndBrokenValues()
    {
        QTemporaryDir dir;
        const QString f = dir.filePath("hand.cfg");
        QFile out(f);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("[Oscilloscope]\nReset=true\nTrigger%20Level=abc\nType=zz\n"
                  "[%General]\nSave%20Data=1\n");
        out.close();
        const CfgValues v = readCfg(f);
        QVERIFY(v.osRst);
        QCOMPARE(v.trgLvl, 0.0);  // does not parse: 0, as the conversion rules say
        QCOMPARE(v.osTyp, 0);
        QVERIFY(v.saveData);
        // Keys the file lacks keep their defaults one by one.
        QCOMPARE(v.saFrq, 5.192e9);
        QCOMPARE(v.osIp, QString("TCPIP::127.0.0.11::INSTR"));
    }

    void binaryGarbageGivesDefaults()
    {
        QTemporaryDir dir;
        const QString f = dir.filePath("junk.cfg");
        QFile out(f);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk.append(char((i * 131 + 7) & 0xff));
        out.write(junk);
        out.close();
        const CfgValues v = readCfg(f);
        QCOMPARE(v.saIp, QString("TCPIP::127.0.0.12::INSTR"));
    }
};

QTEST_GUILESS_MAIN(ShellLogicTest)
#include "tst_shell_logic.moc"
