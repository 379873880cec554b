// The run-time VISA binding against the test suite's own small libraries.
#include "testsupport.h"
#include "visabinding.h"

#include <QLibrary>
#include <QtTest>

namespace {
int countSet(const VisaFunctionTable& v)
{
    const void* p[] = {(void*)v.viOpenDefaultRM, (void*)v.viStatusDesc, (void*)v.viOpen,
                       (void*)v.viWrite, (void*)v.viRead, (void*)v.viQueryfText,
                       (void*)v.viQueryfDouble, (void*)v.viQueryfInt, (void*)v.viPrintf,
                       (void*)v.viScanf, (void*)v.viReadToFile, (void*)v.viClear,
                       (void*)v.viClose, (void*)v.viSetAttribute, (void*)v.viGetAttribute,
                       (void*)v.viSetBuf, (void*)v.viReadSTB, (void*)v.viGpibControlREN};
    int n = 0;
    for (const void* q : p)
        n += q != nullptr;
    return n;
}
}  // namespace

class LoadVisaTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_visa = VisaFunctionTable{}; }

    void completeLibrary()
    {
        QVERIFY(LoadVisa({testsupport::fakeVisaPath("full")}));
        QCOMPARE(countSet(g_visa), 18);
        // The three typed query entries are one function.
        QCOMPARE((void*)g_visa.viQueryfText, (void*)g_visa.viQueryfDouble);
        QCOMPARE((void*)g_visa.viQueryfText, (void*)g_visa.viQueryfInt);
        QCOMPARE(loadedVisaLibrary(), QLibrary(testsupport::fakeVisaPath("full")).fileName());
    }

    void missingLastFunctionLeavesSeventeen()
    {
        QVERIFY(!LoadVisa({testsupport::fakeVisaPath("noREN")}));
        QCOMPARE(countSet(g_visa), 17);
        QVERIFY(!g_visa.viGpibControlREN);
    }

    void missingNeverCalledFunctionFailsToo()
    {
        QVERIFY(!LoadVisa({testsupport::fakeVisaPath("noSTB")}));
        QVERIFY(!g_visa.viReadSTB);
        QVERIFY(!g_visa.viGpibControlREN);  // entries after the gap stay as they were
        QCOMPARE(countSet(g_visa), 16);
    }

    void absentLibrarySetsNothing()
    {
        QVERIFY(!LoadVisa({QStringLiteral("/nonexistent/libnothing.so"), QStringLiteral("quarnel-no-such-visa")}));
        QCOMPARE(countSet(g_visa), 0);
        QVERIFY(loadedVisaLibrary().isEmpty());
    }

    void tableComesWhollyFromOneLibrary()
    {
        QVERIFY(LoadVisa({testsupport::fakeVisaPath("noSTB"), testsupport::fakeVisaPath("full")}));
        QLibrary full(testsupport::fakeVisaPath("full"));
        QVERIFY(full.load());
        QLibrary partial(testsupport::fakeVisaPath("noSTB"));
        QVERIFY(partial.load());
        QCOMPARE((void*)g_visa.viOpenDefaultRM, (void*)full.resolve("viOpenDefaultRM"));
        QCOMPARE((void*)g_visa.viOpen, (void*)full.resolve("viOpen"));
        QVERIFY((void*)g_visa.viOpen != (void*)partial.resolve("viOpen"));
        QCOMPARE((void*)g_visa.viGpibControlREN, (void*)full.resolve("viGpibControlREN"));
    }

    void candidatesInjectable()
    {
        setVisaCandidates({testsupport::fakeVisaPath("full")});
        QCOMPARE(visaCandidates(), QStringList{testsupport::fakeVisaPath("full")});
        QVERIFY(LoadVisa());
        setVisaCandidates({});
        const QStringList def = visaCandidates();
        QVERIFY(def.size() >= 2);
        QCOMPARE(def.at(0), QString("visa64"));
        QCOMPARE(def.at(1), QString("visa"));
    }

    void wrappersPassThrough()
    {
        QVERIFY(LoadVisa({testsupport::fakeVisaPath("full")}));
        QLibrary lib(testsupport::fakeVisaPath("full"));
        auto reset = reinterpret_cast<void (*)()>(lib.resolve("fakevisa_reset"));
        auto log = reinterpret_cast<const char* (*)()>(lib.resolve("fakevisa_log"));
        auto setRm = reinterpret_cast<void (*)(ViStatus)>(lib.resolve("fakevisa_setRmStatus"));
        QVERIFY(reset && log && setRm);
        reset();
        ViSession rm = 0, vi = 0;
        setRm(VI_WARN_CONFIG_NLOADED);
        QCOMPARE(VisaOpenDefaultRM(&rm), VI_WARN_CONFIG_NLOADED);  // unchanged, warnings included
        QCOMPARE(VisaOpen(rm, QStringLiteral("TCPIP::h\u00e9::INSTR"), VI_NO_LOCK, 10000, &vi), VI_SUCCESS);
        QVERIFY(vi != 0);
        QCOMPARE(VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
        QCOMPARE(VisaGpibControlREN(vi, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);
        QCOMPARE(VisaClose(0), VI_WARN_NULL_OBJECT);
        const QString l = QString::fromLocal8Bit(log());
        QVERIFY2(l.contains(QString("viOpen TCPIP::h\u00e9::INSTR 0 10000")), qPrintable(l));
        QVERIFY(l.contains(QString("viSetAttribute %1 %2 5000").arg(vi).arg(VI_ATTR_TMO_VALUE)));
        QVERIFY(l.contains(QString("viGpibControlREN %1 6").arg(vi)));
    }
};

QTEST_GUILESS_MAIN(LoadVisaTest)
#include "tst_loadvisa.moc"
