// Program-wide state shared by the MainWindow slots and the Graph dialog.
// One instance each, zero/empty at start, touched only from the GUI thread.
#pragma once

#include <QVector>

extern bool g_vaHdmi;  // HDMI delay measurement selected (mirrors VaHdmi)
extern int g_osTyp;    // oscilloscope type index: 0 first family, else second

// Traces and time axis of the last pass (V, normalised 0..0.2, V, s).
extern QVector<double> d1, d2, d3, t;
extern int pts;  // point count of the last successful channel-1 read

// Edge times of the last pass, seconds.
extern double tsrc, trf, tsnk;

// Mean delays of the last series: ms, video analyzer's unit (ms), ms.
extern double src2RfMean, src2HdMean, src2SnkMean;
