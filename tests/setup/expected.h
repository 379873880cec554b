// The command streams the Init set-ups must send, as the instruments receive
// them. Written apart from the program's tables on purpose: a typo in either
// shows up as a difference.
#pragma once

#include <QStringList>

namespace expected {

// Set-up commands wait for completion: each ends in ";*OPC?\n".
inline QStringList opc(const QStringList& commands)
{
    QStringList out;
    for (const QString& c : commands)
        out << c + ";*OPC?\n";
    return out;
}

inline QStringList osPreamble(bool reset)
{
    return QStringList{"SYST:ERR?\n"} + (reset ? opc({"*RST"}) : QStringList());
}

inline QStringList osFirstFamily(bool ifDemod, const QString& level)
{
    return opc({"ACQ:POIN:AUTO 1", "TIM:RANG 1.0", "ACQ:POIN 20000", "EXP:WAV:RAW ON", "CHAN1 ON;STOP",
                "SYST:DISP:UPD ON", "CHAN1 ON;CHAN1:RANG 0.5", "CHAN1:POS -2.0;CHAN1:COUP DC",
                "CHAN2 ON;CHAN2:RANG 0.5", "CHAN2:POS -2.0;CHAN2:COUP DC"})
        + (ifDemod ? opc({"CHAN3 ON;CHAN3:RANG 0.5", "CHAN3:POS -3.0;CHAN3:COUP DC", "CHAN3:TYPE RMS"})
                   : QStringList())
        + opc({"TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0", "CHAN3:SCAL 200e-3", "CHAN:DIGF:CUT 100e3",
               "CHAN1:BAND B20", "TRIG1:LEV1 " + level, "TRIG1:MODE NORM", "TRIG1:ANED:NREJ ON",
               "TRIG1:HOLD:MODE TIME", "TRIG1:HOLD:TIME 1.3", "TRIG1:OUT:STAT ON", "FORM ASC",
               "EXP:WAV:INCX OFF", "RUN"});
}

inline QStringList osSecondFamily(const QString& level)
{
    return opc({"TRIG:B:ENAB OFF", "TRIG:A:TYPE EDGE", "TRIG:A:SOUR CH1", "TRIG:A:ENAB ON",
                "TRIG:A:MODE NORM", "TRIG:A:EDGE:SLOP POS", "TRIG:A:EDGE:COUP DC",
                "TRIG:A:EDGE:FILT:LPAS ON", "TRIG:A:LEV1 " + level, "ACQ:WRAT MSAM", "TIM:SCAL 0.1",
                "TIM:POS 0.0", "TIM:REF 50",
                "CHAN2:STAT ON", "CHAN2:SCAL 0.05", "CHAN2:POS -3.0", "CHAN2:COUP DCL", "CHAN2:TYPE SAMP",
                "CHAN2:BAND B20",
                "CHAN1:STAT ON", "CHAN1:SCAL 0.05", "CHAN1:POS -3.0", "CHAN1:COUP DCL", "CHAN1:TYPE SAMP",
                "CHAN1:BAND B20"});
}

// Analyzer groups; `kle`: identification names KLE/KLEM, `zol`: names ZOL.
inline QStringList saPreamble(bool kle, bool reset = false)
{
    return QStringList{"*IDN?\n"} + opc((reset ? QStringList{"*RST"} : QStringList())
                                        + (kle ? QStringList{"FREQ:MODE SW"} : QStringList()));
}

inline QStringList saLevel(const QString& centre)
{
    return opc({"DISP:TRAC:Y:RLEV 0.0", "INP1:ATT 0.0", "FREQ:CENT " + centre, "FREQ:SPAN 0", "TRIG1:SOUR EXT"});
}

inline QStringList saSweep(int osTyp)
{
    return opc({QString("SWE:TIME ") + (osTyp != 0 ? "1.2" : "1"), "SWE:POIN 20001",
                "SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO", "BWID 50e6", "BWID:VID 20e3"});
}

inline QStringList saTrigger(bool zol)
{
    return opc(QStringList{"TRIG1:HOLD -0.6", "TRIG1:SLOP POS", "TRIG1:SLOP POS"}
               + (zol ? QStringList() : QStringList{"OUTP:IF VID", "OUTP:IF:IFFR 2.0"}));
}

inline QStringList saAll(bool kle, bool zol, int osTyp, const QString& centre)
{
    return saPreamble(kle) + saLevel(centre) + saSweep(osTyp) + saTrigger(zol);
}

inline QStringList vaChain(bool reset, const QString& threshold)
{
    return opc((reset ? QStringList{"*RST"} : QStringList())
               + QStringList{"SYST:DISP:UPD ON", "CONF:AVDA:TTV:APL:THR " + threshold,
                             "CONF:AVDA:TTV:APL:HYST 5", "INIT:AVDA"});
}

}  // namespace expected
