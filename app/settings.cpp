#include "settings.h"

#include "fields.h"

#include <QSettings>

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

CfgValues readCfg(const QString& fnam)
{
    const CfgValues def;
    CfgValues v;
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

QString formatNumber(double v)
{
    return QString::number(v, 'g', 6);
}
