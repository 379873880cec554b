#include "exporting.h"

#include "stats.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTextStream>

#include <cmath>

namespace view {

namespace {

const char* const kKeys[kDelays] = {"src2rf_ms", "src2hd", "src2snk_ms"};
const char* const kEdgeKeys[3] = {"tsrc_s", "trf_s", "tsnk_s"};

QString num(double v)
{
    return exactNumber(v);
}

QJsonValue jnum(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString field(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))
        && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// '# ' lines: one line each, never a bare line break inside.
QString comment(const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char('\n'), QLatin1Char(' '));
    t.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QStringLiteral("# ") + t + QLatin1Char('\n');
}

QString seriesHeader(const Series& s)
{
    QString h;
    h += comment(QStringLiteral("series: ") + s.entry.stamp);
    h += comment(QStringLiteral("folder: ") + QDir::toNativeSeparators(s.entry.folder));
    h += comment(QStringLiteral("values from: ") + s.source);
    h += comment(QStringLiteral("oscilloscope family: ") + s.familyText());
    for (const QString& p : s.problems)
        h += comment(QStringLiteral("problem: ") + p);
    return h;
}

QJsonObject summaryJson(const Summary& sm)
{
    QJsonObject o;
    for (int row = 0; row < kSummaryRows; ++row) {
        const double v = summaryRowValue(sm, row);
        o.insert(summaryRowName(row), summaryRowIsCount(row) ? QJsonValue(int(v)) : jnum(v));
    }
    return o;
}

QJsonObject seriesObject(const Series& s)
{
    QJsonObject o;
    o.insert(QStringLiteral("stamp"), s.entry.stamp);
    o.insert(QStringLiteral("folder"), QDir::toNativeSeparators(s.entry.folder));
    o.insert(QStringLiteral("source"), s.source);
    o.insert(QStringLiteral("family"), s.osTyp == 0 ? QStringLiteral("first") : QStringLiteral("second"));
    o.insert(QStringLiteral("family_recorded"), s.familyKnown);
    o.insert(QStringLiteral("passes"), s.passCount());
    o.insert(QStringLiteral("problems"), QJsonArray::fromStringList(s.problems));
    QJsonObject header;
    for (const auto& kv : s.header)
        header.insert(kv.first, kv.second);
    if (!header.isEmpty())
        o.insert(QStringLiteral("header"), header);
    return o;
}

QJsonObject calibrationObject(const Calibration& cal)
{
    QJsonObject o;
    for (int d = 0; d < kDelays; ++d)
        o.insert(QLatin1String(kKeys[d]), cal.offsetMs[d]);
    return o;
}

bool applies(const Calibration* cal)
{
    return cal && !cal->isZero();
}

QString reanalysisHeader(const Series& s, const Reanalysis& r, const Calibration* cal)
{
    QString h = seriesHeader(s);
    h += comment(QStringLiteral("re-analysis: %1 passes analysed, %2 give the stored delays with the program's "
                                "rules, %3 do not, %4 without usable traces%5")
                     .arg(r.analysed)
                     .arg(r.reproduced)
                     .arg(r.mismatched())
                     .arg(r.withoutTraces)
                     .arg(r.cancelled ? QStringLiteral(" (cancelled)") : QString()));
    h += comment(QStringLiteral("mid: each edge at 50 % of the step between the trace's two state levels"));
    if (applies(cal))
        h += comment(QStringLiteral("calibration offsets subtracted (ms): src2rf %1, src2hd %2, src2snk %3")
                         .arg(num(cal->offsetMs[SrcRf]), num(cal->offsetMs[SrcHd]), num(cal->offsetMs[SrcSnk])));
    return h;
}

}  // namespace

QVector<ValueColumn> seriesColumns(const Series& s)
{
    QVector<ValueColumn> cols;
    for (int d = 0; d < kDelays; ++d)
        cols << ValueColumn{QLatin1String(kKeys[d]), delayName(d), s.values[d]};
    return cols;
}

QVector<ValueColumn> reanalysisColumns(const Reanalysis& r, const Calibration* cal)
{
    QVector<ValueColumn> cols;
    const auto column = [&](const QString& key, const QString& title, auto value) {
        ValueColumn c{key, title, {}};
        c.values.reserve(r.passes.size());
        for (const PassReanalysis& p : r.passes)
            c.values << value(p);
        cols << c;
    };
    for (int d : {int(SrcRf), int(SrcSnk)}) {
        const QString k = QLatin1String(kKeys[d]);
        const QString n = delayName(d);
        column(QStringLiteral("stored_") + k, n + QStringLiteral(" stored"),
               [d](const PassReanalysis& p) { return p.stored[d]; });
        column(QStringLiteral("program_") + k, n + QStringLiteral(" program's rules"),
               [d](const PassReanalysis& p) { return p.programValue(d); });
        column(QStringLiteral("mid_") + k, n + QStringLiteral(" 50 % rule"),
               [d](const PassReanalysis& p) { return p.midValue(d); });
        column(QStringLiteral("mid_minus_program_") + k, n + QStringLiteral(" 50 % - program's"),
               [d](const PassReanalysis& p) { return p.midValue(d) - p.programValue(d); });
        if (applies(cal)) {
            column(QStringLiteral("calibrated_program_") + k, n + QStringLiteral(" program's, calibrated"),
                   [d, cal](const PassReanalysis& p) { return cal->apply(d, p.programValue(d)); });
            column(QStringLiteral("calibrated_mid_") + k, n + QStringLiteral(" 50 %, calibrated"),
                   [d, cal](const PassReanalysis& p) { return cal->apply(d, p.midValue(d)); });
        }
    }
    const QString hk = QLatin1String(kKeys[SrcHd]);
    column(hk, delayName(SrcHd) + QStringLiteral(" stored"), [](const PassReanalysis& p) { return p.stored[SrcHd]; });
    if (applies(cal))
        column(QStringLiteral("calibrated_") + hk, delayName(SrcHd) + QStringLiteral(" calibrated"),
               [cal](const PassReanalysis& p) { return cal->apply(SrcHd, p.stored[SrcHd]); });
    return cols;
}

QByteArray seriesCsv(const Series& s)
{
    QString out = seriesHeader(s);
    out += QStringLiteral("pass,time,src2rf_ms,src2hd,src2snk_ms,tsrc_s,trf_s,tsnk_s,traces,outlier\n");
    for (int i = 0; i < s.passCount(); ++i) {
        QStringList f;
        f << QString::number(s.pass[i]) << field(s.times[i]);
        for (int d = 0; d < kDelays; ++d)
            f << num(s.values[d][i]);
        for (int e = 0; e < 3; ++e)
            f << num(s.edges[e][i]);
        f << (s.hasTraces(s.pass[i]) ? QStringLiteral("yes") : QStringLiteral("no")) << field(s.outliers[i]);
        out += f.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray seriesJson(const Series& s)
{
    QJsonObject root;
    root.insert(QStringLiteral("series"), seriesObject(s));
    QJsonObject stats;
    for (int d = 0; d < kDelays; ++d)
        stats.insert(QLatin1String(kKeys[d]), summaryJson(summarise(s.values[d], samplePeriodMs(s))));
    root.insert(QStringLiteral("statistics"), stats);
    QJsonArray passes;
    for (int i = 0; i < s.passCount(); ++i) {
        QJsonObject p;
        p.insert(QStringLiteral("pass"), s.pass[i]);
        p.insert(QStringLiteral("time"), s.times[i].isEmpty() ? QJsonValue() : QJsonValue(s.times[i]));
        for (int d = 0; d < kDelays; ++d)
            p.insert(QLatin1String(kKeys[d]), jnum(s.values[d][i]));
        for (int e = 0; e < 3; ++e)
            p.insert(QLatin1String(kEdgeKeys[e]), jnum(s.edges[e][i]));
        p.insert(QStringLiteral("traces"), s.hasTraces(s.pass[i]));
        p.insert(QStringLiteral("outlier"), s.outliers[i]);
        passes.append(p);
    }
    root.insert(QStringLiteral("passes"), passes);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray reanalysisCsv(const Series& s, const Reanalysis& r, const Calibration* cal)
{
    const QVector<ValueColumn> cols = reanalysisColumns(r, cal);
    QString out = reanalysisHeader(s, r, cal);
    QStringList names{QStringLiteral("pass")};
    for (const ValueColumn& c : cols)
        names << c.key;
    names << QStringLiteral("tsrc_s") << QStringLiteral("trf_s") << QStringLiteral("tsnk_s")
          << QStringLiteral("mid_tsrc_s") << QStringLiteral("mid_trf_s") << QStringLiteral("mid_tsnk_s")
          << QStringLiteral("reproduced") << QStringLiteral("problems");
    out += names.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (int i = 0; i < r.passes.size(); ++i) {
        const PassReanalysis& p = r.passes[i];
        QStringList f{QString::number(p.pass)};
        for (const ValueColumn& c : cols)
            f << num(c.values[i]);
        const bool a = p.analysed;
        for (int e = 0; e < 3; ++e)
            f << num(p.programEdge(e));
        for (int e = 0; e < 3; ++e)
            f << num(p.midEdge(e));
        f << (a ? (p.reproduced ? QStringLiteral("yes") : QStringLiteral("no")) : QString());
        f << field(p.problems.join(QStringLiteral("; ")));
        out += f.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray reanalysisJson(const Series& s, const Reanalysis& r, const Calibration* cal)
{
    const QVector<ValueColumn> cols = reanalysisColumns(r, cal);
    QJsonObject root;
    root.insert(QStringLiteral("series"), seriesObject(s));
    QJsonObject re;
    re.insert(QStringLiteral("analysed"), r.analysed);
    re.insert(QStringLiteral("reproduced"), r.reproduced);
    re.insert(QStringLiteral("mismatched"), r.mismatched());
    re.insert(QStringLiteral("without_traces"), r.withoutTraces);
    re.insert(QStringLiteral("cancelled"), r.cancelled);
    QJsonArray mism;
    for (int pass : r.mismatchedPasses())
        mism.append(pass);
    re.insert(QStringLiteral("mismatched_passes"), mism);
    if (applies(cal))
        re.insert(QStringLiteral("calibration_ms"), calibrationObject(*cal));
    root.insert(QStringLiteral("reanalysis"), re);
    QJsonObject stats;
    const double resolution = samplePeriodMs(s);
    for (const ValueColumn& c : cols)
        stats.insert(c.key, summaryJson(summarise(c.values, resolution)));
    root.insert(QStringLiteral("statistics"), stats);
    QJsonArray passes;
    for (int i = 0; i < r.passes.size(); ++i) {
        const PassReanalysis& p = r.passes[i];
        QJsonObject o;
        o.insert(QStringLiteral("pass"), p.pass);
        for (const ValueColumn& c : cols)
            o.insert(c.key, jnum(c.values[i]));
        o.insert(QStringLiteral("reproduced"), p.analysed ? QJsonValue(p.reproduced) : QJsonValue());
        o.insert(QStringLiteral("problems"), QJsonArray::fromStringList(p.problems));
        passes.append(o);
    }
    root.insert(QStringLiteral("passes"), passes);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString summaryText(const Series& s, const Reanalysis* r, const Calibration* cal)
{
    QString out;
    QTextStream ts(&out);
    ts << "Series " << s.entry.stamp << " in " << QDir::toNativeSeparators(s.entry.folder) << "\n";
    ts << s.passCount() << " passes, values from " << s.source << ", oscilloscope family " << s.familyText() << "\n";
    for (const QString& p : s.problems)
        ts << "Problem: " << p << "\n";

    QVector<ValueColumn> cols;
    if (r) {
        cols = reanalysisColumns(*r, cal);
        ts << "Re-analysis: " << r->analysed << " passes analysed, " << r->reproduced
           << " give the stored delays with the program's rules, " << r->mismatched() << " do not, " << r->withoutTraces
           << " without usable traces" << (r->cancelled ? " (cancelled)" : "") << "\n";
    } else {
        cols = seriesColumns(s);
    }
    const auto width = [](int row) { return summaryRowIsCount(row) ? 9 : 11; };
    ts << "\n" << QString(34, QLatin1Char(' '));
    for (int row = 0; row < kSummaryRows; ++row)
        ts << summaryRowName(row).rightJustified(width(row));
    ts << "\n";
    const double resolution = samplePeriodMs(s);
    for (const ValueColumn& c : cols) {
        const Summary sm = summarise(c.values, resolution);
        ts << c.key.leftJustified(34);
        for (int row = 0; row < kSummaryRows; ++row) {
            const double v = summaryRowValue(sm, row);
            const QString cell = summaryRowIsCount(row) ? QString::number(int(v))
                                 : std::isfinite(v)     ? QString::number(v, 'f', 3)
                                                        : QStringLiteral("n/a");
            ts << cell.rightJustified(width(row));
        }
        ts << "\n";
    }
    ts.flush();
    return out;
}

}  // namespace view
