// Operator stand-in for the real program: preloaded into the `quarnel`
// binary (LD_PRELOAD), it starts when the application object is built,
// waits for the main window and works it through its controls as the
// environment says: resource strings, Init, a series with Save Data, then
// distinctive settings and Cancel. It answers every modal window and writes
// what it saw as key=value lines into QFD_REPORT (written before Cancel, so
// the program's own shut-down still follows).
//
//   QFD_OS, QFD_SA, QFD_VA  resource strings
//   QFD_PASSES              measurement count (default 2)
//   QFD_TRGLVL              trigger level typed in before Cancel
//   QFD_BARRIER             folder: create "ready-<pid>", wait for "go" before Start
//   QFD_REPORT              report file (without it the driver stays idle)
//   QFD_SAMPLE_MS           also sample resident memory, open descriptors and
//                           threads of the process before, every so many ms
//                           during, and after the series (scripts/soak)
#include "answer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

QString env(const char* name, const QString& fallback = QString())
{
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : QString::fromLocal8Bit(v);
}

class Driver : public QObject
{
public:
    Driver()
    {
        m_modals.setInterval(5);
        connect(&m_modals, &QTimer::timeout, this, [this] { answerModals(); });
        m_modals.start();
        QTimer::singleShot(0, this, [this] { findWindow(); });
    }

private:
    void answerModals()
    {
        QString text = faults::answerModal(QApplication::activeModalWidget(), &m_graphs);
        if (!text.isEmpty())
            m_report << "message=" + text.replace('\n', ' ');
    }

    void findWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("MainWindow") && w->isVisible()) {
                m_window = w;
                work();
                return;
            }
        QTimer::singleShot(20, this, [this] { findWindow(); });
    }

    template <typename T>
    T* child(const char* name)
    {
        return m_window->findChild<T*>(QString::fromLatin1(name));
    }

    QString button(const char* name)
    {
        auto* b = child<QPushButton>(name);
        return b ? b->text() : QStringLiteral("missing");
    }

    void work()
    {
        child<QLineEdit>("OsIp")->setText(env("QFD_OS"));
        child<QLineEdit>("SaIp")->setText(env("QFD_SA"));
        child<QLineEdit>("VaIp")->setText(env("QFD_VA"));
        child<QComboBox>("OsTyp")->setCurrentIndex(1);
        child<QCheckBox>("SaIfDem")->setChecked(true);
        if (!child<QCheckBox>("VaHdmi")->isChecked())
            child<QCheckBox>("VaHdmi")->click();
        child<QCheckBox>("SaveData")->setChecked(true);
        child<QLineEdit>("MeasCnt")->setText(env("QFD_PASSES", "2"));
        for (const char* b : {"OsInit", "SaInit", "VaInit"}) {
            child<QPushButton>(b)->click();
            m_report << QString::fromLatin1(b) + "=" + button(b);
        }
        const QString barrier = env("QFD_BARRIER");
        if (!barrier.isEmpty()) {
            QFile ready(QDir(barrier).filePath(QStringLiteral("ready-%1").arg(::getpid())));
            ready.open(QIODevice::WriteOnly);
            ready.close();
            QElapsedTimer clock;
            clock.start();
            while (!QFile::exists(QDir(barrier).filePath("go")) && clock.elapsed() < 60000)
                QThread::msleep(2);
        }
        auto* start = child<QPushButton>("Start");
        m_report << QStringLiteral("start=%1").arg(start->isEnabled() ? "enabled" : "disabled");
        const int period = env("QFD_SAMPLE_MS", "0").toInt();
        QTimer sampler;
        m_clock.start();
        if (period > 0) {
            sample("before");
            // Fires while the series processes events between instrument calls.
            connect(&sampler, &QTimer::timeout, this, [this] { sample("during"); });
            sampler.start(period);
        }
        if (start->isEnabled())
            start->click();  // returns after the series and the result dialog
        sampler.stop();
        m_report << QStringLiteral("series_ms=%1").arg(m_clock.elapsed());
        if (period > 0)
            sample("after");
        m_report << QStringLiteral("graphs=%1").arg(m_graphs);

        child<QLineEdit>("OsTrgLvl")->setText(env("QFD_TRGLVL", "0.031"));
        QFile report(env("QFD_REPORT"));
        if (report.open(QIODevice::WriteOnly))
            report.write((m_report.join('\n') + '\n').toUtf8());
        report.close();
        child<QDialogButtonBox>("Cancel")->button(QDialogButtonBox::Cancel)->click();
    }

    // Resident memory (kB), open descriptors and threads of this process.
    void sample(const char* phase)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        QString rss = QStringLiteral("?"), threads = QStringLiteral("?");
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n')) {
                const QList<QByteArray> f = line.simplified().split(' ');
                if (f.size() >= 2 && f[0] == "VmRSS:")
                    rss = QString::fromLatin1(f[1]);
                else if (f.size() >= 2 && f[0] == "Threads:")
                    threads = QString::fromLatin1(f[1]);
            }
        const int fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        m_report << QStringLiteral("sample=%1 %2 %3 %4 %5")
                        .arg(m_clock.elapsed())
                        .arg(QLatin1String(phase))
                        .arg(rss)
                        .arg(fds)
                        .arg(threads);
    }

    QElapsedTimer m_clock;
    QTimer m_modals;
    QWidget* m_window = nullptr;
    QStringList m_report;
    int m_graphs = 0;
};

Driver* g_driver = nullptr;  // lives as long as the process

void startDriver()
{
    if (qEnvironmentVariableIsEmpty("QFD_REPORT"))
        return;
    g_driver = new Driver;
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
