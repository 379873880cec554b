#include "runoptions.h"

#include "series.h"

#include <cmath>

namespace run {

namespace {

// "--name VALUE" or "--name=VALUE".
struct Arg
{
    QString name;
    QString value;
    bool hasValue = false;
};

Arg split(const QString& a)
{
    Arg r;
    const int eq = a.indexOf(QLatin1Char('='));
    if (eq > 0) {
        r.name = a.left(eq);
        r.value = a.mid(eq + 1);
        r.hasValue = true;
    } else {
        r.name = a;
    }
    return r;
}

bool choice(const QString& v, const char* yes, const char* no, std::optional<bool>* out)
{
    if (v == QLatin1String(yes))
        *out = true;
    else if (v == QLatin1String(no))
        *out = false;
    else
        return false;
    return true;
}

bool wholeNumber(const QString& v, int lo, int hi, int* out)
{
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok, 10);
    if (!ok || n < lo || n > hi)
        return false;
    *out = int(n);
    return true;
}

}  // namespace

bool parseRunArguments(const QStringList& args, RunOptions* o, QString* error)
{
    const QStringList withValue{"--config", "--count", "--data-dir", "--scope", "--sa",     "--va",
                                "--family", "--rf",    "--hdmi",     "--save",  "--repeat", "--interval"};
    for (int i = 0; i < args.size(); ++i) {
        Arg a = split(args[i]);
        if (a.name == QLatin1String("--help") || a.name == QLatin1String("-h")) {
            o->help = true;
            continue;
        }
        if (a.name == QLatin1String("--quiet") || a.name == QLatin1String("--json")) {
            if (a.hasValue) {
                *error = QStringLiteral("%1 takes no value").arg(a.name);
                return false;
            }
            (a.name == QLatin1String("--quiet") ? o->quiet : o->json) = true;
            continue;
        }
        if (!withValue.contains(a.name)) {
            *error = QStringLiteral("unknown option %1").arg(args[i]);
            return false;
        }
        if (!a.hasValue) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a.name);
                return false;
            }
            a.value = args[++i];
        }
        const QString& v = a.value;
        bool ok = true;
        const auto bad = [&](const QString& what) {
            *error = QStringLiteral("%1 \"%2\": %3").arg(a.name, v, what);
            return false;
        };
        if (a.name == QLatin1String("--count")) {
            const measurement::PassCount c = measurement::parsePassCount(v);
            if (c.refused || c.passes < 1)
                return bad(QStringLiteral("a count from 1 to %1").arg(measurement::kMaxPasses));
            o->passes = c.passes;
        } else if (a.name == QLatin1String("--repeat")) {
            if (!wholeNumber(v, 1, kMaxRepeat, &o->repeat))
                return bad(QStringLiteral("a number of series from 1 to %1").arg(kMaxRepeat));
        } else if (a.name == QLatin1String("--interval")) {
            const double s = v.toDouble(&ok);
            if (!ok || !std::isfinite(s) || s < 0 || s > kMaxIntervalS)
                return bad(QStringLiteral("seconds from 0 to %1").arg(kMaxIntervalS));
            o->intervalS = s;
        } else if (a.name == QLatin1String("--family")) {
            if (v == QLatin1String("first"))
                o->osTyp = 0;
            else if (v == QLatin1String("second"))
                o->osTyp = 1;
            else
                return bad(QStringLiteral("first or second"));
        } else if (a.name == QLatin1String("--rf")) {
            if (!choice(v, "scope", "analyzer", &o->rfFromScope))
                return bad(QStringLiteral("scope or analyzer"));
        } else if (a.name == QLatin1String("--hdmi") || a.name == QLatin1String("--save")) {
            if (!choice(v, "on", "off", a.name == QLatin1String("--hdmi") ? &o->hdmi : &o->save))
                return bad(QStringLiteral("on or off"));
        } else {
            if (v.trimmed().isEmpty())
                return bad(QStringLiteral("must not be empty"));
            QString* target = a.name == QLatin1String("--config")     ? &o->config
                              : a.name == QLatin1String("--data-dir") ? &o->dataDir
                              : a.name == QLatin1String("--scope")    ? &o->scope
                              : a.name == QLatin1String("--sa")       ? &o->analyzer
                                                                      : &o->video;
            *target = v;
        }
    }
    return true;
}

QString runHelpText()
{
    return QStringLiteral(
               "Usage: quarnel-run [OPTION]...\n"
               "Runs measurement series without a display: the Init of each instrument as the\n"
               "window's Init buttons do it, then the series as Start does, with the same files\n"
               "as Save Data (results file, trace files, per-pass record).\n"
               "\n"
               "Settings come from the program's settings file (the one the window keeps);\n"
               "these options override them for this run only, the file is never written:\n"
               "  --config FILE           another settings file\n"
               "  --count N               passes per series, 1 to %1 (default 1)\n"
               "  --data-dir DIR          folder for the files (default: the program's data folder)\n"
               "  --scope RESOURCE        oscilloscope resource string, e.g. TCPIP::10.0.0.5::INSTR\n"
               "  --sa RESOURCE           spectrum analyzer resource string\n"
               "  --va RESOURCE           video analyzer resource string\n"
               "  --family first|second   oscilloscope command family\n"
               "  --rf scope|analyzer     RF envelope from oscilloscope channel 3 or the analyzer\n"
               "  --hdmi on|off           HDMI delay from the video analyzer (its Init runs only when on)\n"
               "  --save on|off           write the files\n"
               "\n"
               "Runs and output:\n"
               "  --repeat M              M series one after another, each with its own files\n"
               "                          (default 1, at most %2); the Inits run once\n"
               "  --interval SECONDS      pause between two series (default 0)\n"
               "  --json                  one JSON object per line on standard output: one per counted\n"
               "                          pass (\"type\":\"pass\") and one per series (\"type\":\"summary\":\n"
               "                          statistics, counts, failures, file names, status)\n"
               "  --quiet                 no progress on standard error (errors are still written)\n"
               "  -h, --help              this text\n"
               "\n"
               "Progress goes to standard error, at most two lines a second: pass k of N and the\n"
               "running mean and standard deviation of each delay.\n"
               "\n"
               "SIGINT (Ctrl+C) or SIGTERM ends the run like Cancel in the window: the pass in\n"
               "progress is dropped, the instruments get their closing commands and the files of\n"
               "the counted passes are written. A second signal ends the program at once.\n"
               "\n"
               "Exit status:\n"
               "  0  every series ran as asked\n"
               "  1  the VISA library could not be loaded, an Init failed (the message names the\n"
               "     instrument, the step and the VISA status), or a series stopped because the\n"
               "     instruments kept failing\n"
               "  2  bad usage, or a settings file that cannot be read or holds unusable values\n"
               "  3  cancelled by a signal\n"
               "  4  files could not be written\n"
               "When several apply, the first in the order 1, 4, 3 is returned. A series that does\n"
               "not end with status 0 ends the run.\n")
        .arg(measurement::kMaxPasses)
        .arg(kMaxRepeat);
}

}  // namespace run
