// The command streams the Init set-ups must send, written out as the
// instruments receive them. Kept apart from the program's tables on purpose:
// a typo in either shows up as a difference.
#pragma once

#include <QString>
#include <QStringList>

namespace expected {

inline QStringList osFirstFamily(bool ifDemod, const QString& level)
{
    QStringList c{
        "ACQ:POIN:AUTO 1;*OPC?\n",
        "TIM:RANG 1.0;*OPC?\n",
        "ACQ:POIN 20000;*OPC?\n",
        "EXP:WAV:RAW ON;*OPC?\n",
        "CHAN1 ON;STOP;*OPC?\n",
        "SYST:DISP:UPD ON;*OPC?\n",
        "CHAN1 ON;CHAN1:RANG 0.5;*OPC?\n",
        "CHAN1:POS -2.0;CHAN1:COUP DC;*OPC?\n",
        "CHAN2 ON;CHAN2:RANG 0.5;*OPC?\n",
        "CHAN2:POS -2.0;CHAN2:COUP DC;*OPC?\n",
    };
    if (ifDemod)
        c << "CHAN3 ON;CHAN3:RANG 0.5;*OPC?\n"
          << "CHAN3:POS -3.0;CHAN3:COUP DC;*OPC?\n"
          << "CHAN3:TYPE RMS;*OPC?\n";
    c << "TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?\n"
      << "CHAN3:SCAL 200e-3;*OPC?\n"
      << "CHAN:DIGF:CUT 100e3;*OPC?\n"
      << "CHAN1:BAND B20;*OPC?\n"
      << "TRIG1:LEV1 " + level + ";*OPC?\n"
      << "TRIG1:MODE NORM;*OPC?\n"
      << "TRIG1:ANED:NREJ ON;*OPC?\n"
      << "TRIG1:HOLD:MODE TIME;*OPC?\n"
      << "TRIG1:HOLD:TIME 1.3;*OPC?\n"
      << "TRIG1:OUT:STAT ON;*OPC?\n"
      << "FORM ASC;*OPC?\n"
      << "EXP:WAV:INCX OFF;*OPC?\n"
      << "RUN;*OPC?\n";
    return c;
}

inline QStringList osSecondFamily(const QString& level)
{
    return {
        "TRIG:B:ENAB OFF;*OPC?\n",
        "TRIG:A:TYPE EDGE;*OPC?\n",
        "TRIG:A:SOUR CH1;*OPC?\n",
        "TRIG:A:ENAB ON;*OPC?\n",
        "TRIG:A:MODE NORM;*OPC?\n",
        "TRIG:A:EDGE:SLOP POS;*OPC?\n",
        "TRIG:A:EDGE:COUP DC;*OPC?\n",
        "TRIG:A:EDGE:FILT:LPAS ON;*OPC?\n",
        "TRIG:A:LEV1 " + level + ";*OPC?\n",
        "ACQ:WRAT MSAM;*OPC?\n",
        "TIM:SCAL 0.1;*OPC?\n",
        "TIM:POS 0.0;*OPC?\n",
        "TIM:REF 50;*OPC?\n",
        "CHAN2:STAT ON;*OPC?\n",
        "CHAN2:SCAL 0.05;*OPC?\n",
        "CHAN2:POS -3.0;*OPC?\n",
        "CHAN2:COUP DCL;*OPC?\n",
        "CHAN2:TYPE SAMP;*OPC?\n",
        "CHAN2:BAND B20;*OPC?\n",
        "CHAN1:STAT ON;*OPC?\n",
        "CHAN1:SCAL 0.05;*OPC?\n",
        "CHAN1:POS -3.0;*OPC?\n",
        "CHAN1:COUP DCL;*OPC?\n",
        "CHAN1:TYPE SAMP;*OPC?\n",
        "CHAN1:BAND B20;*OPC?\n",
    };
}

inline QStringList osPreamble(bool reset)
{
    QStringList c{"SYST:ERR?\n"};
    if (reset)
        c << "*RST;*OPC?\n";
    return c;
}

// Analyzer groups; `kle`: identification names KLE/KLEM, `zol`: names ZOL.
inline QStringList saPreamble(bool kle, bool reset = false)
{
    QStringList c{"*IDN?\n"};
    if (reset)
        c << "*RST;*OPC?\n";
    if (kle)
        c << "FREQ:MODE SW;*OPC?\n";
    return c;
}

inline QStringList saLevel(const QString& centre)
{
    return {"DISP:TRAC:Y:RLEV 0.0;*OPC?\n", "INP1:ATT 0.0;*OPC?\n",
            "FREQ:CENT " + centre + ";*OPC?\n", "FREQ:SPAN 0;*OPC?\n", "TRIG1:SOUR EXT;*OPC?\n"};
}

inline QStringList saSweep(int osTyp)
{
    return {QString("SWE:TIME ") + (osTyp != 0 ? "1.2" : "1") + ";*OPC?\n",
            "SWE:POIN 20001;*OPC?\n", "SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO;*OPC?\n",
            "BWID 50e6;*OPC?\n", "BWID:VID 20e3;*OPC?\n"};
}

inline QStringList saTrigger(bool zol)
{
    QStringList c{"TRIG1:HOLD -0.6;*OPC?\n", "TRIG1:SLOP POS;*OPC?\n", "TRIG1:SLOP POS;*OPC?\n"};
    if (!zol)
        c << "OUTP:IF VID;*OPC?\n"
          << "OUTP:IF:IFFR 2.0;*OPC?\n";
    return c;
}

inline QStringList saAll(bool kle, bool zol, int osTyp, const QString& centre)
{
    return saPreamble(kle) + saLevel(centre) + saSweep(osTyp) + saTrigger(zol);
}

inline QStringList vaChain(bool reset, const QString& threshold)
{
    QStringList c;
    if (reset)
        c << "*RST;*OPC?\n";
    c << "SYST:DISP:UPD ON;*OPC?\n"
      << "CONF:AVDA:TTV:APL:THR " + threshold + ";*OPC?\n"
      << "CONF:AVDA:TTV:APL:HYST 5;*OPC?\n"
      << "INIT:AVDA;*OPC?\n";
    return c;
}

}  // namespace expected
