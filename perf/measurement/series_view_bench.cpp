// What the live series view costs: the real window runs series of 2,000
// passes at 20,000 points against the in-process bench through our VISA
// library, taking turns with the view shown and hidden (hidden, it updates
// its statistics but draws nothing), and prints the series times side by
// side. Prints figures; asserts nothing.
//
//   quarnel_series_view_bench [--passes N] [--runs N] [--save]
//     --save   Save Data on (results, per-pass record and trace files in a
//              temporary folder: 2,000 passes make ~1 GB of trace files)
#include "bench.h"
#include "mainwindow.h"
#include "visabinding.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qb = quarnel::bench;

namespace {

template <typename T>
T* child(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

// Answers the modals of a series; hides the live view when asked to.
class Operator : public QObject
{
public:
    bool hideView = false;
    QStringList messages;
    double viewDrawMs = -1;

    Operator()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(5);
    }

private:
    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            messages << box->text();
            box->done(QMessageBox::Ok);
        } else if (w && w->inherits("Graph")) {
            static_cast<QDialog*>(w)->done(QDialog::Accepted);
        } else if (w && hideView && w->isVisible()) {
            w->hide();  // the progress display of the series
        }
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("graph::SeriesView") && top->property("drawingMs").isValid())
                viewDrawMs = top->property("drawingMs").toDouble();
    }
    QTimer m_timer;
};

// CPU time of the whole process (the program and the in-process bench), ms:
// what the view adds shows here even while other work slows the wall clock.
double cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0.0;
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv)
{
    int passes = 2000;
    int runs = 2;
    bool save = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--save"))
            save = true;
    }
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setVisaCandidates({QStringLiteral(QUARNEL_LANVISA_PATH)});

    qb::Bench bench(qb::testOptions());
    std::string err;
    if (!bench.start(&err)) {
        std::fprintf(stderr, "bench did not start: %s\n", err.c_str());
        return 1;
    }
    MainWindow w;
    w.show();
    const std::pair<const char*, qb::Instrument> rsrc[] = {{"OsIp", qb::Instrument::Oscilloscope},
                                                           {"SaIp", qb::Instrument::SpectrumAnalyzer},
                                                           {"VaIp", qb::Instrument::VideoAnalyzer}};
    for (const auto& r : rsrc)
        child<QLineEdit>(&w, r.first)->setText(QString::fromStdString(bench.resourceString(r.second)));
    child<QComboBox>(&w, "OsTyp")->setCurrentIndex(0);
    child<QCheckBox>(&w, "SaIfDem")->setChecked(false);
    if (!child<QCheckBox>(&w, "VaHdmi")->isChecked())
        child<QCheckBox>(&w, "VaHdmi")->click();
    child<QCheckBox>(&w, "SaveData")->setChecked(save);
    child<QLineEdit>(&w, "MeasCnt")->setText(QString::number(passes));
    for (const char* b : {"OsInit", "SaInit", "VaInit"})
        child<QPushButton>(&w, b)->click();
    if (!child<QPushButton>(&w, "Start")->isEnabled()) {
        std::fprintf(stderr, "the instruments did not get ready\n");
        return 1;
    }

    std::printf("%d-pass series at %zu points, Save Data %s, view shown and hidden taking turns:\n", passes,
                qb::testOptions().scopePoints, save ? "on" : "off");
    std::vector<double> shown, hidden, shownCpu, hiddenCpu;
    for (int run = 0; run < 2 * runs; ++run) {
        const bool hide = run % 2 == 1;
        Operator op;
        op.hideView = hide;
        QElapsedTimer clock;
        clock.start();
        const double cpu0 = cpuMs();
        child<QPushButton>(&w, "Start")->click();  // returns after the result dialog
        const double ms = clock.nsecsElapsed() / 1e6;
        const double cpu = cpuMs() - cpu0;
        (hide ? hidden : shown).push_back(ms);
        (hide ? hiddenCpu : shownCpu).push_back(cpu);
        std::printf("  run %d, view %s: %.0f ms (CPU %.0f ms), %.2f ms per pass%s%s\n", run / 2 + 1,
                    hide ? "hidden" : "shown ", ms, cpu, ms / passes,
                    op.viewDrawMs >= 0 ? qPrintable(QStringLiteral(", drawing %1 ms").arg(op.viewDrawMs, 0, 'f', 0))
                                       : "",
                    op.messages.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + op.messages.join(' ') + ")"));
        std::fflush(stdout);
    }
    const double s = median(shown), h = median(hidden);
    std::printf("median series time: view shown %.0f ms, hidden %.0f ms: the view costs %+.1f %%\n", s, h,
                (s - h) / h * 100.0);
    const double sc = median(shownCpu), hc = median(hiddenCpu);
    std::printf("median CPU time:    view shown %.0f ms, hidden %.0f ms: the view costs %+.1f %%\n", sc, hc,
                (sc - hc) / hc * 100.0);
    std::printf("fastest series: view shown %.0f ms, hidden %.0f ms: %+.1f %%\n",
                *std::min_element(shown.begin(), shown.end()), *std::min_element(hidden.begin(), hidden.end()),
                (*std::min_element(shown.begin(), shown.end()) / *std::min_element(hidden.begin(), hidden.end()) - 1.0)
                    * 100.0);
    return 0;
}
