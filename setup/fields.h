// The numbers of the form that end up in instrument commands (trigger level,
// centre frequency, threshold). Only a finite number may reach an
// instrument: text, "nan", "inf" or an overflowing exponent never do, from
// the form or from the settings file.
#pragma once

#include <QString>

namespace setup {

// The text as a number: true with *value set when it is a number (blanks
// around it allowed) and finite; *value is untouched otherwise.
bool parseSettingNumber(const QString& text, double* value);

// Why an Init is refused: names the field and what it holds.
QString badFieldMessage(const QString& field, const QString& text);

}  // namespace setup
