// Fault matrix, files: a data folder that cannot be written (reached through
// a regular file; full), and settings files that are corrupt or binary.
// Tests run as root, which writes anywhere permissions allow, so the folders
// are made unwritable by a path through a regular file and by a full mount
// in this process's private mount namespace.
//
// Every row: no crash, no hang, the operator is told what was not written,
// files written before stay intact, settings saved on Cancel wherever the
// folder allows it.
#include "faultrig.h"
#include "globals.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

using namespace faults;

namespace {

// Set in main() before any thread exists: unshare() needs that.
bool g_privateMounts = false;
QString g_mountError;

void makeMountsPrivate()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        g_mountError = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // Nothing mounted here may reach the rest of the system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_mountError = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    g_privateMounts = true;
}

bool mountSmall(const QString& dir, const char* size)
{
    const QByteArray d = QFile::encodeName(dir);
    const QByteArray opts = QByteArray("size=") + size;
    return ::mount("quarnel-faults", d.constData(), "tmpfs", 0, opts.constData()) == 0;
}

bool unmount(const QString& dir)
{
    return ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH) == 0;
}

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

QByteArray validSettings()
{
    return "[Oscilloscope]\nIP Address=TCPIP::10.0.0.1::INSTR\nReset=2\nType=0\nTrigger Level=0.035\n"
           "[Spectrum%20Analyzer]\nIP Address=TCPIP::10.0.0.2::INSTR\nCenter Frequency=5192000000\n"
           "[Video%20Analyzer]\nHDMI Delay=true\nThreshold=35\n[General]\nSave Data=2\n";
}

}  // namespace

class TstFaultFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> rig;
    DataGuard guard;

    void requireMounts()
    {
        if (!g_privateMounts)
            QSKIP(qPrintable("no private mount namespace: " + g_mountError));
    }

    QString folderNote() const { return "in the folder " + QDir::toNativeSeparators(dataDir()); }

private slots:
    void initTestCase()
    {
        rig.reset(new Rig);
        rig->seedEarlierResults(&guard);
    }

    void cleanupTestCase() { QVERIFY(guard.damaged().isEmpty()); }

    // The data folder lies below a regular file: it cannot even be created.
    void dataFolderBehindFile()
    {
        Watchdog dog("dataFolderBehindFile", 60);
        const QString normalCfg = cfgFile();
        const QByteArray cfgBefore = sha1(normalCfg);
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        QTemporaryDir tmp;
        QFile plain(tmp.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.filePath("plain/data")));
        const QString folder = folderNote();

        rig->openWindow(WindowConfig());
        const bool ready = rig->initAll();
        const SeriesOutcome o = rig->runSeries();
        rig->cancelAndCheckSettings(false);  // nowhere to save them; must not crash
        qputenv("XDG_DATA_HOME", saved);

        QVERIFY(ready);
        QCOMPARE(o.graphs, 1);
        QVERIFY2(o.messages.join(" ").contains("could not be written " + folder), qPrintable(o.messages.join(" | ")));
        QVERIFY(std::isfinite(src2SnkMean));  // the series itself ran
        // Nothing else lost: the usual settings and results are untouched.
        QCOMPARE(sha1(normalCfg), cfgBefore);
        QVERIFY(guard.damaged().isEmpty());
    }

    // The disk fills up during the series: what cannot be written is
    // reported, and no file under a final name is cut short.
    void dataFolderFull()
    {
        requireMounts();
        Watchdog dog("dataFolderFull", 60);
        rig->openWindow(WindowConfig());
        QVERIFY(rig->initAll());
        // 1 MiB: room for about two of the three sets of 3 x 160 kB.
        QVERIFY(mountSmall(dataDir(), "1m"));
        const SeriesOutcome o = rig->runSeries();
        const QStringList files = QDir(dataDir()).entryList(QDir::Files | QDir::Hidden);
        QStringList shortFiles;
        for (const QString& f : files) {
            if (!f.endsWith(".bin"))
                continue;
            const qint64 size = QFileInfo(QDir(dataDir()).filePath(f)).size();
            if (size != qint64(pts) * 8)
                shortFiles << QString("%1 (%2 bytes)").arg(f).arg(size);
        }
        const QStringList hidden = QDir(dataDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY(unmount(dataDir()));

        QCOMPARE(o.graphs, 1);
        const QString text = o.messages.join(" ");
        qInfo("operator is told: %s", qPrintable(text));
        QVERIFY2(text.contains("could not be written") && text.contains(folderNote()), qPrintable(text));
        QVERIFY2(text.contains("No space left on device"), qPrintable(text));  // and why
        QVERIFY2(shortFiles.isEmpty(), qPrintable(shortFiles.join(", ")));
        // No private folder or partial file left behind on the full disk.
        for (const QString& f : hidden)
            QVERIFY2(!f.startsWith(".series-"), qPrintable(hidden.join(", ")));
        QVERIFY(guard.damaged().isEmpty());
        rig->cancelAndCheckSettings();
    }

    // ---- settings files that are corrupt or binary ----

    void corruptSettings_data()
    {
        QTest::addColumn<QByteArray>("content");
        // What the loader makes of any text is fuzzed and unit-tested; here
        // the window built on such files stays consistent and works.
        QTest::newRow("binary then keys") << randomBytes(2048, 2) + "\n" + validSettings();
        QTest::newRow("nonsense values") << QByteArray(
            "[Oscilloscope]\nType=banana\nTrigger Level=1e999\nReset=maybe\n"
            "[Spectrum%20Analyzer]\nCenter Frequency=-nan\nIF Demod=7\n"
            "[Video%20Analyzer]\nHDMI Delay=2\nThreshold=inf\n[General]\nSave Data=-1\n");
        QTest::newRow("huge value") << "[Oscilloscope]\nIP Address=" + QByteArray(1 << 20, 'A') + "\n";
        QTest::newRow("serialised variants")
            << QByteArray("[Oscilloscope]\nTrigger Level=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff\\xff)\n"
                          "IP Address=@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xf0)\nType=@ByteArray(\\xff\\xfe)\n"
                          "[General]\nSave Data=@Variant(\\0\\0\\0\\x1\\x1)\n");
        QTest::newRow("many keys") << QByteArray("[General]\n").append(QByteArray("k=v\n").repeated(200000));
    }

    void corruptSettings()
    {
        QFETCH(QByteArray, content);
        Watchdog dog(QTest::currentDataTag(), 60);
        QDir().mkpath(dataDir());
        {
            QFile f(cfgFile());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(content), qint64(content.size()));
        }
        rig->createWindow();
        // Whatever the file held, the window shows a consistent state.
        auto* typ = static_cast<QComboBox*>(rig->control("OsTyp"));
        QCOMPARE(g_osTyp, typ->currentIndex());
        QCOMPARE(g_vaHdmi, static_cast<QCheckBox*>(rig->control("VaHdmi"))->isChecked());
        QCOMPARE(rig->control("VaInit")->isEnabled(), g_vaHdmi);
        // ... and works once the operator fills in the instruments.
        rig->applyConfig(WindowConfig());
        QVERIFY(rig->initAll());
        rig->cancelAndCheckSettings();
        QVERIFY(guard.damaged().isEmpty());
    }

    // A folder where the settings file should be: nothing to load, nothing
    // can be saved, the program runs all the same.
    void settingsPathIsFolder()
    {
        Watchdog dog("settingsPathIsFolder", 60);
        QFile::remove(cfgFile());
        QVERIFY(QDir().mkpath(cfgFile()));
        rig->createWindow();
        rig->applyConfig(WindowConfig());
        QVERIFY(rig->initAll());
        const SeriesOutcome o = rig->runSeries();
        QCOMPARE(o.snk.size(), 3);
        rig->cancelAndCheckSettings(false);
        QVERIFY(QFileInfo(cfgFile()).isDir());
        QVERIFY(QDir(cfgFile()).removeRecursively());
        for (const QString& f : QDir(dataDir()).entryList({o.stamp + "*"}, QDir::Files))
            QFile::remove(QDir(dataDir()).filePath(f));
        QVERIFY(guard.damaged().isEmpty());
    }
};

int main(int argc, char** argv)
{
    prepareProcess();
    makeMountsPrivate();
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});
    TstFaultFiles t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_fault_files.moc"
