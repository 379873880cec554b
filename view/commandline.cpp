#include "commandline.h"

#include "exporting.h"
#include "reanalysis.h"
#include "storedseries.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace view {

namespace {

struct Options
{
    QCommandLineOption summary{QStringLiteral("summary"), QStringLiteral("Print the statistics of the series."),
                               QStringLiteral("PATH")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("Write the series as CSV to standard output."),
                           QStringLiteral("PATH")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Write the series as JSON to standard output."),
                            QStringLiteral("PATH")};
    QCommandLineOption reanalyse{QStringLiteral("reanalyse"),
                                 QStringLiteral("Re-analyse the trace files (the program's rules and the 50 % rule) "
                                                "and report or export that instead.")};
    QCommandLineOption family{QStringLiteral("family"),
                              QStringLiteral("Oscilloscope family of a series that does not record it: first or "
                                             "second (default: the program's current setting)."),
                              QStringLiteral("first|second")};
    QCommandLineOption calibration{QStringLiteral("calibration"),
                                   QStringLiteral("Offsets in ms to subtract from source->RF, source->HDMI and "
                                                  "source->sink (with --reanalyse)."),
                                   QStringLiteral("RF,HDMI,SINK")};
    QCommandLineOption pass{QStringLiteral("pass"), QStringLiteral("Window: show this pass of the series."),
                            QStringLiteral("N")};
    QCommandLineOption tab{QStringLiteral("tab"),
                           QStringLiteral("Window: start on this tab (passes, statistics, distribution, "
                                          "reanalysis, compare)."),
                           QStringLiteral("NAME")};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};

    void addTo(QCommandLineParser* p) const
    {
        p->setApplicationDescription(
            QStringLiteral("Series viewer of quarnel. Without options it opens its window on the program's data "
                           "folder, or on the folder or series file given. PATH is any file of a series: its "
                           "results file, its per-pass record or one of its trace files."));
        p->addOptions({summary, csv, json, reanalyse, family, calibration, pass, tab, help, version});
        p->addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Data folder or series file to open."),
                                 QStringLiteral("[PATH]"));
    }
};

bool parseCalibration(const QString& text, Calibration* cal)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != kDelays)
        return false;
    for (int d = 0; d < kDelays; ++d) {
        bool ok = false;
        const double v = parts[d].trimmed().toDouble(&ok);
        if (!ok || !qIsFinite(v))
            return false;
        cal->offsetMs[d] = v;
    }
    return true;
}

}  // namespace

bool isCommandLineRun(const QStringList& args)
{
    for (const QString& a : args.mid(1)) {
        const QString name = a.section(QLatin1Char('='), 0, 0);
        if (name == QLatin1String("--summary") || name == QLatin1String("--csv") || name == QLatin1String("--json")
            || name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("--version"))
            return true;
    }
    return false;
}

bool parseWindowArguments(const QStringList& args, WindowRequest* request, QString* error)
{
    QCommandLineParser parser;
    const Options o;
    o.addTo(&parser);
    static const QStringList tabs{QStringLiteral("passes"), QStringLiteral("statistics"),
                                  QStringLiteral("distribution"), QStringLiteral("reanalysis"),
                                  QStringLiteral("compare")};
    if (!parser.parse(args)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.positionalArguments().size() > 1) {
        *error = QStringLiteral("Give at most one folder or series file.");
        return false;
    }
    request->path = parser.positionalArguments().value(0);
    const QString family = parser.value(o.family).toLower();
    if (!family.isEmpty() && family != QLatin1String("first") && family != QLatin1String("second")) {
        *error = QStringLiteral("--family takes \"first\" or \"second\".");
        return false;
    }
    request->family = family.isEmpty() ? -1 : family == QLatin1String("first") ? 0 : 1;
    request->reanalyse = parser.isSet(o.reanalyse);
    request->tab = parser.value(o.tab).toLower();
    if (!request->tab.isEmpty() && !tabs.contains(request->tab)) {
        *error = QStringLiteral("--tab takes one of: %1.").arg(tabs.join(QStringLiteral(", ")));
        return false;
    }
    if (parser.isSet(o.pass)) {
        bool ok = false;
        request->pass = parser.value(o.pass).toInt(&ok);
        if (!ok || request->pass < 1) {
            *error = QStringLiteral("--pass takes a pass number from 1.");
            return false;
        }
    }
    return true;
}

int runCommandLine(const QStringList& args, QTextStream& out, QTextStream& err, const QString& programDataDir)
{
    QCommandLineParser parser;
    const Options o;
    o.addTo(&parser);
    if (!parser.parse(args)) {
        err << parser.errorText() << "\n\n" << parser.helpText();
        return ExitUsage;
    }
    if (parser.isSet(o.help)) {
        out << parser.helpText();
        return ExitOk;
    }
    if (parser.isSet(o.version)) {
        out << "quarnel-view " << QCoreApplication::applicationVersion() << "\n";
        return ExitOk;
    }
    const int modes = int(parser.isSet(o.summary)) + int(parser.isSet(o.csv)) + int(parser.isSet(o.json));
    if (modes != 1 || !parser.positionalArguments().isEmpty()) {
        err << "Give exactly one of --summary, --csv or --json with one series PATH.\n\n" << parser.helpText();
        return ExitUsage;
    }
    int family = -1;
    if (parser.isSet(o.family)) {
        const QString f = parser.value(o.family).toLower();
        if (f != QLatin1String("first") && f != QLatin1String("second")) {
            err << "--family takes \"first\" or \"second\", not \"" << parser.value(o.family) << "\".\n";
            return ExitUsage;
        }
        family = f == QLatin1String("first") ? 0 : 1;
    }
    Calibration cal;
    if (parser.isSet(o.calibration) && !parseCalibration(parser.value(o.calibration), &cal)) {
        err << "--calibration takes three numbers in ms separated by commas, e.g. 100,0,2.5.\n";
        return ExitUsage;
    }
    const QString path = parser.value(parser.isSet(o.summary) ? o.summary : parser.isSet(o.csv) ? o.csv : o.json);

    SeriesEntry entry;
    QString error;
    Series s;
    if (!seriesFromPath(path, &entry, &error) || !loadSeries(entry, &s, &error)) {
        err << "quarnel-view: " << error << "\n";
        return ExitProblems;
    }
    if (!s.familyKnown) {
        s.osTyp = family >= 0 ? family : programFamily(programDataDir);
        err << "Note: the series does not record its oscilloscope family; taking the " << s.familyText()
            << (family >= 0 ? " family as given" : " family, the program's current setting")
            << " (--family to choose).\n";
    } else if (family >= 0 && family != s.osTyp) {
        err << "Note: the series records the " << s.familyText() << " family; --family is ignored.\n";
    }

    QStringList problems = s.problems;
    Reanalysis r;
    const bool re = parser.isSet(o.reanalyse);
    if (re) {
        r = reanalyse(s);
        for (const PassReanalysis& p : r.passes)
            problems << p.problems;
        if (r.mismatched() > 0) {
            QStringList passes;
            for (int pass : r.mismatchedPasses().mid(0, 20))
                passes << QString::number(pass);
            problems << QStringLiteral("The program's rules do not give the stored delays for %1 passes (%2%3).")
                            .arg(r.mismatched())
                            .arg(passes.join(QStringLiteral(", ")))
                            .arg(r.mismatched() > 20 ? QStringLiteral(", ...") : QString());
        }
    }
    const Calibration* calp = parser.isSet(o.calibration) ? &cal : nullptr;
    if (parser.isSet(o.summary))
        out << summaryText(s, re ? &r : nullptr, calp);
    else if (parser.isSet(o.csv))
        out << QString::fromUtf8(re ? reanalysisCsv(s, r, calp) : seriesCsv(s));
    else
        out << QString::fromUtf8(re ? reanalysisJson(s, r, calp) : seriesJson(s));
    out.flush();
    for (const QString& p : problems)
        err << "Problem: " << p << "\n";
    return problems.isEmpty() ? ExitOk : ExitProblems;
}

}  // namespace view
