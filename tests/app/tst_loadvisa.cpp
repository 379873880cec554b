// The run-time VISA binding against the recording library and its variants.
#include "recvisa.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QLibrary>
#include <QtTest>

using testsupport::recVisaPath;

class TstLoadVisa : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_visa = VisaFunctionTable{}; }

    // A library lacking any entry is refused, and the report says why.
    void candidates_data()
    {
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("why");  // in the report of what was tried
        QTest::newRow("complete") << QStringList{recVisaPath()} << true << "";
        QTest::newRow("lacking viGpibControlREN")
            << QStringList{recVisaPath("viGpibControlREN")} << false << ": lacks viGpibControlREN";
        QTest::newRow("lacking never-called viReadSTB")
            << QStringList{recVisaPath("viReadSTB")} << false << ": lacks viReadSTB";
        QTest::newRow("lacking viOpen") << QStringList{recVisaPath("viOpen")} << false << ": lacks viOpen";
        QTest::newRow("absent") << QStringList{"/nonexistent/libnothing.so", "quarnel-no-such-visa"} << false
                                << "/nonexistent/libnothing.so: no such file\n"
                                   "libquarnel-no-such-visa.so in the system library path";
    }
    void candidates()
    {
        QFETCH(QStringList, candidates);
        QFETCH(bool, ok);
        QFETCH(QString, why);
        QCOMPARE(LoadVisa(candidates), ok);
        const QStringList report = visaLoadReport();
        QCOMPARE(report.size(), ok ? 0 : candidates.size());
        QVERIFY2(report.join('\n').contains(why), qPrintable(report.join('\n')));
        QCOMPARE(loadedVisaLibrary(), ok ? QLibrary(candidates[0]).fileName() : QString());
        if (ok) {  // the three typed query entries are one function
            QCOMPARE((void*)g_visa.viQueryfText, (void*)g_visa.viQueryfDouble);
            QCOMPARE((void*)g_visa.viQueryfText, (void*)g_visa.viQueryfInt);
        }
    }

    void tableComesWhollyFromOneLibrary()
    {
        QVERIFY(LoadVisa({recVisaPath("viReadSTB"), recVisaPath()}));
        QLibrary full(recVisaPath()), partial(recVisaPath("viReadSTB"));
        QVERIFY(full.load() && partial.load());
        QCOMPARE((void*)g_visa.viOpenDefaultRM, (void*)full.resolve("viOpenDefaultRM"));
        QCOMPARE((void*)g_visa.viOpen, (void*)full.resolve("viOpen"));
        QVERIFY((void*)g_visa.viOpen != (void*)partial.resolve("viOpen"));
        QCOMPARE((void*)g_visa.viGpibControlREN, (void*)full.resolve("viGpibControlREN"));
    }

    void defaultCandidatesAndOverride()
    {
        setVisaCandidates({recVisaPath()});
        QVERIFY(LoadVisa());
        setVisaCandidates({});
        const QStringList def = visaCandidates();
        QCOMPARE(def.mid(0, 2), (QStringList{"visa64", "visa"}));
#ifdef LANVISA_PATH  // then our own library, looked for in three folders
        QCOMPARE(def.size(), 5);
        QVERIFY(def.mid(2).contains(LANVISA_PATH));
#endif
    }

    void wrappersPassStatusesThrough()
    {
        QVERIFY(LoadVisa({recVisaPath()}));
        recvisa::reset();
        recvisa::failOn("rm", "", VI_WARN_CONFIG_NLOADED);
        ViSession rm = 0, vi = 0;
        QCOMPARE(VisaOpenDefaultRM(&rm), VI_WARN_CONFIG_NLOADED);  // warnings unchanged too
        const QString name = QString("TCPIP::h\u00e9::INSTR");
        QCOMPARE(VisaOpen(rm, name, VI_NO_LOCK, 10000, &vi), VI_SUCCESS);
        QCOMPARE(VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
        QCOMPARE(VisaGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);
        QCOMPARE(VisaClose(0), VI_WARN_NULL_OBJECT);
        recvisa::failOn("ren", "", VI_ERROR_NSUP_OPER);
        QCOMPARE(VisaGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_ERROR_NSUP_OPER);

        const auto c = recvisa::calls();
        QCOMPARE(c.size(), std::size_t(6));
        QCOMPARE(QString::fromLocal8Bit(c[1].text.c_str()), name);
        QCOMPARE(c[1].value, 10000ull);  // VI_NO_LOCK in the upper half
        QCOMPARE(c[2].text, std::string("0x3FFF001A"));
        QCOMPARE(c[2].value, 5000ull);
        QCOMPARE(c[3].value, 6ull);
        QCOMPARE(c[4].op, std::string("close"));
    }
};

QTEST_GUILESS_MAIN(TstLoadVisa)
#include "tst_loadvisa.moc"
