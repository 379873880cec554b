#include "faultrig.h"
#include "answer.h"
#include "seriesview.h"

#include "delays.h"
#include "model.h"
#include "paths.h"
#include "series.h"
#include "testsupport.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace faults {

// ---- watchdog -------------------------------------------------------------------

Watchdog::Watchdog(const QString& what, int seconds)
{
    const std::string name = what.toStdString();
    m_thread = std::thread([this, name, seconds] {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; }))
            return;
        std::fprintf(stderr, "FAIL: %s still running after %d s: the program hangs\n", name.c_str(), seconds);
        std::fflush(stderr);
        std::abort();
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

// ---- modal windows -----------------------------------------------------------------

Modals::Modals()
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start();
}

void Modals::poll()
{
    QWidget* w = QApplication::activeModalWidget();
    if (!w)
        return;
    if (auto* v = qobject_cast<graph::SeriesView*>(w)) {
        if (!m_progressClock.isValid())
            m_progressClock.start();
        if (!cancelled && cancelAfterMs >= 0 && m_progressClock.elapsed() >= cancelAfterMs) {
            cancelled = true;
            v->reject();  // its Cancel button
        }
    } else {
        const QString text = answerModal(w, &graphs);
        if (!text.isEmpty())
            messages << text;
    }
}

// ---- data folder --------------------------------------------------------------------

QString dataDir()
{
    return dataDirFromLocation(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
}

QString cfgFile()
{
    return cfgFilePath(dataDir(), appNameFromPath(QCoreApplication::applicationFilePath()));
}

QByteArray sha1(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result();
}

void DataGuard::record(const QString& dir)
{
    const QString cfg = QFileInfo(cfgFile()).fileName();
    for (const QString& f : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        if (f == cfg || f.startsWith(cfg))
            continue;
        const QString path = QDir(dir).filePath(f);
        m_hash.insert(path, sha1(path));
    }
}

QStringList DataGuard::damaged() const
{
    QStringList out;
    for (auto it = m_hash.constBegin(); it != m_hash.constEnd(); ++it) {
        if (!QFileInfo::exists(it.key()))
            out << it.key() + QStringLiteral(" is gone");
        else if (sha1(it.key()) != it.value())
            out << it.key() + QStringLiteral(" changed");
    }
    return out;
}

namespace {

QVector<double> numbers(const QString& line)
{
    QVector<double> v;
    for (const QString& p : line.section(':', 1).split(' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const double d = p.toDouble(&ok);
        v << (ok ? d : std::nan(""));
    }
    return v;
}

}  // namespace

bool readResults(const QString& path, QVector<double>* rf, QVector<double>* hd, QVector<double>* snk)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (lines.size() != 6 || !lines[0].startsWith("Source2RF Delay:") || !lines[5].startsWith("Source2Snk Mean:"))
        return false;
    *rf = numbers(lines[0]);
    *hd = numbers(lines[2]);
    *snk = numbers(lines[4]);
    return rf->size() == hd->size() && hd->size() == snk->size();
}

double samplePeriodMs(const qb::GroundTruth& g)
{
    return g.windowLength / double(g.points - 1) * 1000.0;
}

bool near(double got, double want, double tol)
{
    return std::abs(got - want) <= tol + 1e-5 * std::abs(want) + 1e-9;
}

double expectedSinkMs(const qb::GroundTruth& g)
{
    namespace m = qb::model;
    const double sink = m::kSinkTau * std::log(m::kSinkStep / (m::kSinkStep - (0.06 - m::kSinkBase)));
    const double source = m::kSourceTau * std::log(m::kSourceStep / (m::kSourceStep - 0.035));
    return g.sourceToSinkMs + (sink - source) * 1000.0;
}

std::vector<qb::GroundTruth> countedTruth(const qb::Bench& b, size_t from)
{
    std::vector<qb::GroundTruth> all = b.groundTruth(), out;
    for (size_t i = from; i < all.size(); ++i)
        if (all[i].sourceBase > measurement::kStartLow && all[i].sourceBase < measurement::kStartHigh)
            out.push_back(all[i]);
    return out;
}

qb::Fault dropAt(qb::Instrument i, const std::string& match, int skip, long afterBytes)
{
    qb::Fault f;
    f.instrument = i;
    f.kind = qb::FaultKind::DropConnection;
    f.match = match;
    f.skip = skip;
    f.afterBytes = afterBytes;
    return f;
}

qb::Fault noReplyAt(qb::Instrument i, const std::string& match, int skip)
{
    qb::Fault f;
    f.instrument = i;
    f.kind = qb::FaultKind::NoReply;
    f.match = match;
    f.skip = skip;
    return f;
}

int occurrences(const std::vector<std::string>& log, size_t n, const std::string& match)
{
    auto lower = [](std::string s) {
        for (char& c : s)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string m = lower(match);
    int count = 0;
    for (size_t i = 0; i < n && i < log.size(); ++i)
        count += lower(log[i]).find(m) != std::string::npos;
    return count;
}

void prepareProcess()
{
    testsupport::isolateEnvironment();
}

// ---- the rig -----------------------------------------------------------------------------

Rig::Rig(qb::Options opt) : m_options(std::move(opt))
{
    startBench();
}

Rig::~Rig()
{
    m_w.reset();
    m_bench.reset();
}

void Rig::startBench()
{
    m_bench.reset();
    m_bench.reset(new qb::Bench(m_options));
    std::string err;
    if (!m_bench->start(&err))
        qFatal("bench did not start: %s", err.c_str());
}

QWidget* Rig::control(const char* name) const
{
    QWidget* c = m_w ? m_w->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
    if (!c)
        qFatal("no control %s", name);
    return c;
}

QString Rig::resource(qb::Instrument i) const
{
    if (m_config.hislip)
        return QString::fromStdString(m_bench->hislipResourceString(i));
    return QString::fromStdString(m_bench->resourceString(i));
}

void Rig::createWindow()
{
    m_w.reset();
    m_w.reset(new MainWindow);
}

void Rig::openWindow(const WindowConfig& c)
{
    createWindow();
    applyConfig(c);
}

void Rig::applyConfig(const WindowConfig& c)
{
    m_config = c;
    static_cast<QLineEdit*>(control("OsIp"))->setText(resource(qb::Instrument::Oscilloscope));
    static_cast<QLineEdit*>(control("SaIp"))->setText(resource(qb::Instrument::SpectrumAnalyzer));
    static_cast<QLineEdit*>(control("VaIp"))->setText(resource(qb::Instrument::VideoAnalyzer));
    static_cast<QComboBox*>(control("OsTyp"))->setCurrentIndex(c.osTyp);
    static_cast<QCheckBox*>(control("SaIfDem"))->setChecked(c.scopeRf);
    static_cast<QCheckBox*>(control("OsRst"))->setChecked(c.osRst);
    static_cast<QCheckBox*>(control("SaRst"))->setChecked(c.saRst);
    static_cast<QCheckBox*>(control("VaRst"))->setChecked(c.vaRst);
    auto* hdmi = static_cast<QCheckBox*>(control("VaHdmi"));
    if (hdmi->isChecked() != c.hdmi)
        hdmi->click();
    static_cast<QCheckBox*>(control("SaveData"))->setChecked(c.save);
    static_cast<QLineEdit*>(control("MeasCnt"))->setText(QString::number(c.passes));
    static_cast<QLineEdit*>(control("OsTrgLvl"))->setText(c.trgLvl);
    static_cast<QLineEdit*>(control("SaFrq"))->setText(c.saFrq);
    static_cast<QLineEdit*>(control("VaThres"))->setText(c.vaThres);
    m_w->show();
}

QString Rig::init(qb::Instrument i)
{
    const char* names[] = {"OsInit", "SaInit", "VaInit"};
    auto* button = static_cast<QPushButton*>(control(names[int(i)]));
    button->click();
    return button->text();
}

bool Rig::initAll()
{
    init(qb::Instrument::Oscilloscope);
    init(qb::Instrument::SpectrumAnalyzer);
    if (m_config.hdmi)
        init(qb::Instrument::VideoAnalyzer);
    return startEnabled();
}

bool Rig::startEnabled() const
{
    return control("Start")->isEnabled();
}

SeriesOutcome Rig::runSeries(Modals* preset, const QString& count)
{
    if (!count.isEmpty())
        static_cast<QLineEdit*>(control("MeasCnt"))->setText(count);
    const QStringList before = QDir(dataDir()).entryList({"*Results.txt"}, QDir::Files);
    // One poller only: two would share the dialogs between them.
    std::unique_ptr<Modals> own;
    if (!preset)
        own.reset(new Modals);
    Modals* modals = preset ? preset : own.get();
    SeriesOutcome o;
    o.truthFrom = m_bench->groundTruth().size();
    QElapsedTimer clock;
    clock.start();
    static_cast<QPushButton*>(control("Start"))->click();
    o.ms = clock.elapsed();
    o.messages = modals->messages;
    o.graphs = modals->graphs;
    o.cancelled = modals->cancelled;
    for (const QString& f : QDir(dataDir()).entryList({"*Results.txt"}, QDir::Files))
        if (!before.contains(f)) {
            o.resultsFile = QDir(dataDir()).filePath(f);
            o.stamp = f.chopped(int(qstrlen("Results.txt")));
            readResults(o.resultsFile, &o.rf, &o.hd, &o.snk);
        }
    return o;
}

void Rig::seedEarlierResults(DataGuard* guard)
{
    QApplication::setQuitOnLastWindowClosed(false);
    WindowConfig c;
    c.passes = 2;
    openWindow(c);
    QVERIFY(initAll());
    QCOMPARE(runSeries().rf.size(), 2);
    cancelAndCheckSettings();
    if (QTest::currentTestFailed())
        return;
    guard->record(dataDir());
    QCOMPARE(guard->size(), 8);  // results, per-pass record, two sets of trace files
}

void Rig::cancelAndCheckSettings(bool expectSaved)
{
    // Values no earlier row used: the file must hold these, not older ones.
    static int serial = 0;
    ++serial;
    const QString level = QString::number(0.001 * (serial % 900 + 1), 'g', 6);
    const QString freq = QString::number(5.0e9 + serial * 1.0e6, 'g', 6);
    const QString thres = QString::number(10 + serial % 80);
    static_cast<QLineEdit*>(control("OsTrgLvl"))->setText(level);
    static_cast<QLineEdit*>(control("SaFrq"))->setText(freq);
    static_cast<QLineEdit*>(control("VaThres"))->setText(thres);
    const QString os = static_cast<QLineEdit*>(control("OsIp"))->text();

    auto* box = static_cast<QDialogButtonBox*>(control("Cancel"));
    QPushButton* cancel = box->button(QDialogButtonBox::Cancel);
    QVERIFY(cancel);
    cancel->click();
    QVERIFY(!m_w->isVisible());
    m_w.reset();

    if (!expectSaved)
        return;
    QSettings s(cfgFile(), QSettings::IniFormat);
    QCOMPARE(s.status(), QSettings::NoError);
    QCOMPARE(s.value("Oscilloscope/Trigger Level").toDouble(), level.toDouble());
    QCOMPARE(s.value("Spectrum Analyzer/Center Frequency").toDouble(), freq.toDouble());
    QCOMPARE(s.value("Video Analyzer/Threshold").toDouble(), thres.toDouble());
    QCOMPARE(s.value("Oscilloscope/IP Address").toString(), os);
}

}  // namespace faults
