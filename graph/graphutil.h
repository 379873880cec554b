// Small pieces of the result dialog that need no plot: the marker label text
// and the delay read-outs.
#pragma once

#include <QString>

class QDoubleSpinBox;

namespace graph {

// Marker label: format carries one "%1", replaced by the time in seconds with
// six significant digits, shortest of fixed or exponent form
// ("trf = %1 s", 0.0831234567 -> "trf = 0.0831235 s").
QString markerLabel(const QString& format, double seconds);

// Text a read-out shows for a mean that does not exist.
QString unavailableText();

// Shows a mean delay (ms) in a read-out whose range is -2000 .. 2000 with three
// decimals: a number is rounded to the decimals and held to the range, as the
// spin box does. A mean that is not a number (no edge, no reading, no pass)
// shows unavailableText() instead; a clamped -2000 still reads "-2000.000",
// so the two never look alike.
void showMean(QDoubleSpinBox* box, double ms);

}  // namespace graph
