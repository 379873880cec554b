#include "globals.h"

bool g_vaHdmi = false;
int g_osTyp = 0;

QVector<double> d1, d2, d3, t;
int pts = 0;

double tsrc = 0.0, trf = 0.0, tsnk = 0.0;

double src2RfMean = 0.0, src2HdMean = 0.0, src2SnkMean = 0.0;
