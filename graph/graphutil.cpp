#include "graphutil.h"

#include <QCoreApplication>
#include <QDoubleSpinBox>

#include <cmath>

namespace graph {

QString markerLabel(const QString& format, double seconds)
{
    return format.arg(QString::number(seconds, 'g', 6));
}

QString unavailableText()
{
    return QCoreApplication::translate("Graph", "n/a");
}

void showMean(QDoubleSpinBox* box, double ms)
{
    if (std::isnan(ms)) {
        // QDoubleSpinBox would turn NaN into its maximum. Its special-value
        // text stands in at the minimum instead; it is set only on a box
        // that shows no number, so a real -2000 keeps its digits.
        box->setSpecialValueText(unavailableText());
        box->setValue(box->minimum());
        return;
    }
    box->setSpecialValueText(QString());
    box->setValue(ms);  // rounds to the decimals and clamps (infinities too)
}

}  // namespace graph
