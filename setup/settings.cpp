#include "settings.h"

#include "fields.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

namespace {

// A number the instruments get: anything but a finite number keeps the
// default, as a missing key does.
double number(const QSettings& s, const char* key, double def)
{
    double v = def;
    const QVariant stored = s.value(key);
    if (stored.isValid() && !setup::parseSettingNumber(stored.toString(), &v))
        v = def;
    return v;
}

}  // namespace

// How Qt's INI format begins a value in its serialised binary form.
constexpr char kSerialisedMarker[] = "@Variant(";

bool cfgHoldsSerialisedValue(const QString& fnam)
{
    QFile f(fnam);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray tail;
    while (!f.atEnd()) {
        const QByteArray chunk = tail + f.read(64 * 1024);
        if (chunk.size() == tail.size())
            break;  // a read error: nothing more comes
        if (chunk.contains(kSerialisedMarker))
            return true;
        tail = chunk.right(int(sizeof kSerialisedMarker) - 2);
    }
    return false;
}

CfgValues readCfg(const QString& fnam)
{
    const CfgValues def;
    CfgValues v;
    if (cfgHoldsSerialisedValue(fnam))
        return v;
    QSettings s(fnam, QSettings::IniFormat);
    v.osIp = s.value(cfgkey::OsIp, def.osIp).toString();
    v.osRst = s.value(cfgkey::OsRst, def.osRst).toBool();
    v.osTyp = s.value(cfgkey::OsTyp, def.osTyp).toInt();
    v.trgLvl = number(s, cfgkey::OsTrgLvl, def.trgLvl);
    v.saIp = s.value(cfgkey::SaIp, def.saIp).toString();
    v.saRst = s.value(cfgkey::SaRst, def.saRst).toBool();
    v.saFrq = number(s, cfgkey::SaFrq, def.saFrq);
    v.saIfDem = s.value(cfgkey::SaIfDem, def.saIfDem).toBool();
    v.vaIp = s.value(cfgkey::VaIp, def.vaIp).toString();
    v.vaRst = s.value(cfgkey::VaRst, def.vaRst).toBool();
    v.vaThres = number(s, cfgkey::VaThres, def.vaThres);
    v.vaHdmi = s.value(cfgkey::VaHdmi, def.vaHdmi).toBool();
    v.saveData = s.value(cfgkey::SaveData, def.saveData).toBool();
    return v;
}

void writeCfg(const QString& fnam, const CfgSaveValues& v)
{
    // Qt would read the old file first; one it cannot read safely is kept aside.
    if (cfgHoldsSerialisedValue(fnam)) {
        QFile::remove(fnam + QStringLiteral(".unreadable"));
        if (!QFile::rename(fnam, fnam + QStringLiteral(".unreadable")))
            QFile::remove(fnam);
    }
    QSettings s(fnam, QSettings::IniFormat);
    s.setValue(cfgkey::OsIp, v.osIp);
    s.setValue(cfgkey::OsRst, v.osRst);
    s.setValue(cfgkey::OsTyp, v.osTyp);
    s.setValue(cfgkey::OsTrgLvl, v.trgLvl);
    s.setValue(cfgkey::SaIp, v.saIp);
    s.setValue(cfgkey::SaRst, v.saRst);
    s.setValue(cfgkey::SaFrq, v.saFrq);
    s.setValue(cfgkey::SaIfDem, v.saIfDem);
    s.setValue(cfgkey::VaIp, v.vaIp);
    s.setValue(cfgkey::VaRst, v.vaRst);
    s.setValue(cfgkey::VaThres, v.vaThres);
    s.setValue(cfgkey::VaHdmi, v.vaHdmi);
    s.setValue(cfgkey::SaveData, v.saveData);
    s.sync();
}

namespace {

// Larger than any settings file the program writes by far.
constexpr qint64 kMaxCfgBytes = 1 << 20;

// The first line that is not INI text (1-based), 0 when all are.
int firstNonIniLine(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString l = lines[i].trimmed();
        for (const QChar c : l)
            if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
                return i + 1;
        if (l.isEmpty() || l.startsWith(QLatin1Char(';')) || l.startsWith(QLatin1Char('#')))
            continue;
        if (l.startsWith(QLatin1Char('[')) ? !l.endsWith(QLatin1Char(']')) : l.indexOf(QLatin1Char('=')) <= 0)
            return i + 1;
    }
    return 0;
}

bool oneOf(const QString& v, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed)
        if (v.compare(QLatin1String(a), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

}  // namespace

QStringList cfgProblems(const QString& fnam)
{
    QFile f(fnam);
    if (QFileInfo(fnam).isDir())
        return {QStringLiteral("%1 is a folder, not a settings file").arg(fnam)};
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("%1 cannot be read: %2").arg(fnam, f.errorString())};
    if (f.size() > kMaxCfgBytes)
        return {QStringLiteral("%1 is not a settings file: %2 bytes").arg(fnam).arg(f.size())};
    const QByteArray bytes = f.readAll();
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0)
        return {QStringLiteral("%1 is not a settings file: not UTF-8 text").arg(fnam)};
    if (const int line = firstNonIniLine(text))
        return {QStringLiteral("%1 is not a settings file: line %2 is not INI text").arg(fnam).arg(line)};
    if (bytes.contains(kSerialisedMarker))  // the file is read already: no second read
        return {QStringLiteral("%1 is not a settings file: it holds a serialised value (@Variant)").arg(fnam)};
    QSettings s(fnam, QSettings::IniFormat);
    if (s.status() != QSettings::NoError)
        return {QStringLiteral("%1 is not a settings file: it does not read as INI").arg(fnam)};

    QStringList out;
    auto bad = [&](const char* key, const QString& value, const char* why) {
        out << QStringLiteral("%1: %2 \"%3\" %4").arg(fnam, QLatin1String(key), value.left(80), QLatin1String(why));
    };
    auto text_ = [&](const char* key) -> QString {
        const QVariant v = s.value(key);
        return v.type() == QVariant::String ? v.toString() : QString();
    };
    for (const char* key : {cfgkey::OsIp, cfgkey::SaIp, cfgkey::VaIp})
        if (s.contains(key) && text_(key).trimmed().isEmpty())
            bad(key, s.value(key).toString(), "is not a resource string");
    for (const char* key : {cfgkey::OsTrgLvl, cfgkey::SaFrq, cfgkey::VaThres}) {
        double v = 0.0;
        if (s.contains(key) && !setup::parseSettingNumber(text_(key), &v))
            bad(key, s.value(key).toString(), "is not a finite number");
    }
    for (const char* key :
         {cfgkey::OsRst, cfgkey::SaRst, cfgkey::SaIfDem, cfgkey::VaRst, cfgkey::VaHdmi, cfgkey::SaveData})
        if (s.contains(key) && !oneOf(text_(key), {"0", "1", "2", "true", "false"}))
            bad(key, s.value(key).toString(), "is not on or off (0, 2, true, false)");
    if (s.contains(cfgkey::OsTyp) && !oneOf(text_(cfgkey::OsTyp), {"0", "1"}))
        bad(cfgkey::OsTyp, s.value(cfgkey::OsTyp).toString(), "is not an oscilloscope family (0 or 1)");
    return out;
}

QString formatNumber(double v)
{
    return QString::number(v, 'g', 6);
}
