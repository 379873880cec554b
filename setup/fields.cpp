#include "fields.h"

#include <cmath>

namespace setup {

bool parseSettingNumber(const QString& text, double* value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

QString badFieldMessage(const QString& field, const QString& text)
{
    // Cut: the field may hold anything, of any length.
    const QString shown = text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
    return QStringLiteral("%1: \"%2\" is not a number. Nothing was sent to the instrument.").arg(field, shown);
}

}  // namespace setup
