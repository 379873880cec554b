#include "sequence.h"

namespace setup {

namespace {

const char* const kOpc = ";*OPC?\n";
const char* const kReset = "*RST;*OPC?\n";

Step open(OnFailure f)
{
    Step s;
    s.kind = StepKind::Open;
    s.onFailure = f;
    return s;
}

Step timeout(ViUInt32 ms, OnFailure f)
{
    Step s;
    s.kind = StepKind::SetTimeout;
    s.timeoutMs = ms;
    s.onFailure = f;
    return s;
}

Step query(const QString& command, OnFailure f, Condition when = Condition::Always)
{
    Step s;
    s.command = command;
    s.onFailure = f;
    s.when = when;
    return s;
}

// A setting command with a value: fixed prefix (ending in a blank), value, ";*OPC?\n".
QString withValue(const char* prefix, const QString& value)
{
    return QLatin1String(prefix) + value + QLatin1String(kOpc);
}

Group group(std::initializer_list<Step> steps)
{
    Group g;
    g.steps = steps;
    return g;
}

}  // namespace

QString formatValue(double v)
{
    return QString::number(v, 'g', 6);
}

Sequence oscilloscopeSequence(const OscilloscopeParams& p)
{
    using F = OnFailure;
    const QString level = formatValue(p.triggerLevel);

    // Preamble: each step only after the one before succeeded; its outcome
    // does not stop the set-up, the family's sequence is tried regardless.
    Group preamble = group({open(F::SkipGroup), timeout(5000, F::SkipGroup), query("SYST:ERR?\n", F::SkipGroup)});
    if (p.reset)
        preamble.steps << query(kReset, F::Ignore);

    Group body;
    if (p.type == 0) {
        body = group({
            query("ACQ:POIN:AUTO 1;*OPC?\n", F::End),
            query("TIM:RANG 1.0;*OPC?\n", F::End),
            query(withValue("ACQ:POIN ", QString::number(20000)), F::End),
            query("EXP:WAV:RAW ON;*OPC?\n", F::End),
            query("CHAN1 ON;STOP;*OPC?\n", F::End),
            query("SYST:DISP:UPD ON;*OPC?\n", F::End),
            query("CHAN1 ON;CHAN1:RANG 0.5;*OPC?\n", F::End),
            query("CHAN1:POS -2.0;CHAN1:COUP DC;*OPC?\n", F::End),
            query("CHAN2 ON;CHAN2:RANG 0.5;*OPC?\n", F::End),
            query("CHAN2:POS -2.0;CHAN2:COUP DC;*OPC?\n", F::End),
        });
        // Channel 3 carries the analyzer's IF/video output when that is in use.
        if (p.ifDemod) {
            body.steps << query("CHAN3 ON;CHAN3:RANG 0.5;*OPC?\n", F::End)
                       << query("CHAN3:POS -3.0;CHAN3:COUP DC;*OPC?\n", F::End)
                       << query("CHAN3:TYPE RMS;*OPC?\n", F::End);
        }
        body.steps << query("TIM:SCAL 100e-3;TIM:REF 50;TRIG3:OFFS:LIM 0;*OPC?\n", F::Ignore)
                   << query("CHAN3:SCAL 200e-3;*OPC?\n", F::EndAfterLocal)
                   << query("CHAN:DIGF:CUT 100e3;*OPC?\n", F::EndAfterLocal)
                   << query("CHAN1:BAND B20;*OPC?\n", F::EndAfterLocal)
                   << query(withValue("TRIG1:LEV1 ", level), F::EndAfterLocal)
                   << query("TRIG1:MODE NORM;*OPC?\n", F::EndAfterLocal)
                   << query("TRIG1:ANED:NREJ ON;*OPC?\n", F::EndAfterLocal)
                   << query("TRIG1:HOLD:MODE TIME;*OPC?\n", F::EndAfterLocal)
                   << query("TRIG1:HOLD:TIME 1.3;*OPC?\n", F::EndAfterLocal)
                   << query("TRIG1:OUT:STAT ON;*OPC?\n", F::EndAfterLocal)
                   << query("FORM ASC;*OPC?\n", F::EndAfterLocal) << query("EXP:WAV:INCX OFF;*OPC?\n", F::EndAfterLocal)
                   << query("RUN;*OPC?\n", F::EndAfterLocal);
    } else {
        body = group({
            query("TRIG:B:ENAB OFF;*OPC?\n", F::End),
            query("TRIG:A:TYPE EDGE;*OPC?\n", F::End),
            query("TRIG:A:SOUR CH1;*OPC?\n", F::End),
            query("TRIG:A:ENAB ON;*OPC?\n", F::End),
            query("TRIG:A:MODE NORM;*OPC?\n", F::End),
            query("TRIG:A:EDGE:SLOP POS;*OPC?\n", F::End),
            query("TRIG:A:EDGE:COUP DC;*OPC?\n", F::End),
            query("TRIG:A:EDGE:FILT:LPAS ON;*OPC?\n", F::End),
            query(withValue("TRIG:A:LEV1 ", level), F::End),
            query("ACQ:WRAT MSAM;*OPC?\n", F::End),
            query("TIM:SCAL 0.1;*OPC?\n", F::End),
            query("TIM:POS 0.0;*OPC?\n", F::End),
            query("TIM:REF 50;*OPC?\n", F::End),
            query("CHAN2:STAT ON;*OPC?\n", F::End),
            query("CHAN2:SCAL 0.05;*OPC?\n", F::End),
            query("CHAN2:POS -3.0;*OPC?\n", F::End),
            query("CHAN2:COUP DCL;*OPC?\n", F::End),
            query("CHAN2:TYPE SAMP;*OPC?\n", F::End),
            query("CHAN2:BAND B20;*OPC?\n", F::End),
            query("CHAN1:STAT ON;*OPC?\n", F::End),
            query("CHAN1:SCAL 0.05;*OPC?\n", F::End),
            query("CHAN1:POS -3.0;*OPC?\n", F::End),
            query("CHAN1:COUP DCL;*OPC?\n", F::End),
            query("CHAN1:TYPE SAMP;*OPC?\n", F::End),
            query("CHAN1:BAND B20;*OPC?\n", F::End),
        });
    }

    Sequence seq;
    seq.groups = {preamble, body};
    seq.localStatusIsResult = false;
    return seq;
}

Sequence analyzerSequence(const AnalyzerParams& p)
{
    using F = OnFailure;

    Step idn = query("*IDN?\n", F::SkipGroup);
    idn.identifies = true;
    Group preamble = group({open(F::SkipGroup), timeout(5000, F::SkipGroup), idn});
    // Before the model-specific mode, so the reset cannot undo it.
    if (p.reset)
        preamble.steps << query(kReset, F::Ignore);
    preamble.steps << query("FREQ:MODE SW;*OPC?\n", F::Ignore, Condition::ModelKle);

    const Group level = group({
        query("DISP:TRAC:Y:RLEV 0.0;*OPC?\n", F::SkipGroup),
        query("INP1:ATT 0.0;*OPC?\n", F::SkipGroup),
        query(withValue("FREQ:CENT ", formatValue(p.centreFrequency)), F::SkipGroup),
        query("FREQ:SPAN 0;*OPC?\n", F::SkipGroup),
        query("TRIG1:SOUR EXT;*OPC?\n", F::Ignore),
    });

    // The sweep spans the oscilloscope's acquisition window.
    const double sweep = p.oscilloscopeType != 0 ? 1.2 : 1.0;
    const Group sweepGroup = group({
        query(withValue("SWE:TIME ", formatValue(sweep)), F::End),
        query(withValue("SWE:POIN ", QString::number(20001)), F::End),
        query("SWE:TYPE SWE;SWE:OPT;BWID:FFT AUTO;*OPC?\n", F::End),
        query("BWID 50e6;*OPC?\n", F::End),
        query("BWID:VID 20e3;*OPC?\n", F::End),
    });

    const Group trigger = group({
        query(withValue("TRIG1:HOLD ", formatValue(-0.6)), F::SkipGroup),
        query("TRIG1:SLOP POS;*OPC?\n", F::SkipGroup),
        query("TRIG1:SLOP POS;*OPC?\n", F::SkipGroup),
        query("OUTP:IF VID;*OPC?\n", F::SkipGroup, Condition::ModelNotZol),
        query("OUTP:IF:IFFR 2.0;*OPC?\n", F::Ignore, Condition::ModelNotZol),
    });

    Sequence seq;
    seq.groups = {preamble, level, sweepGroup, trigger};
    seq.localStatusIsResult = true;
    return seq;
}

Sequence videoSequence(const VideoParams& p)
{
    using F = OnFailure;
    Group chain = group({open(F::End), timeout(10000, F::End)});
    if (p.reset)
        chain.steps << query(kReset, F::Ignore);
    chain.steps << query("SYST:DISP:UPD ON;*OPC?\n", F::End)
                << query(withValue("CONF:AVDA:TTV:APL:THR ", formatValue(p.threshold)), F::End)
                << query("CONF:AVDA:TTV:APL:HYST 5;*OPC?\n", F::End) << query("INIT:AVDA;*OPC?\n", F::End);

    Sequence seq;
    seq.groups = {chain};
    seq.localStatusIsResult = true;
    return seq;
}

namespace {

bool conditionHolds(Condition c, const QString& idnUpper)
{
    switch (c) {
    case Condition::Always:
        return true;
    case Condition::ModelKle:
        return idnUpper.indexOf(QLatin1String("KLE")) != -1 || idnUpper.indexOf(QLatin1String("KLEM")) != -1;
    case Condition::ModelNotZol:
        return idnUpper.indexOf(QLatin1String("ZOL")) == -1;
    }
    return false;
}

}  // namespace

Result run(const Sequence& seq, const SendFn& send)
{
    Result r;
    QString idnUpper;
    bool local = true;
    bool ended = false;

    for (const Group& g : seq.groups) {
        for (const Step& s : g.steps) {
            if (!conditionHolds(s.when, idnUpper))
                continue;
            QString reply;
            const ViStatus st = send(&s, &reply);
            if (st == VI_SUCCESS) {
                if (s.identifies) {
                    r.identification = reply;
                    idnUpper = reply.toUpper();
                }
                continue;
            }
            if (s.onFailure == OnFailure::Ignore)
                continue;
            if (r.first.step.isEmpty())
                r.first = {stepName(&s), st};
            if (s.onFailure == OnFailure::SkipGroup)
                break;
            r.status = st;
            r.decisive = {stepName(&s), st};
            local = s.onFailure == OnFailure::EndAfterLocal;
            ended = true;
            break;
        }
        if (ended)
            break;
    }

    if (local) {
        const ViStatus st = send(nullptr, nullptr);
        r.localSent = true;
        if (seq.localStatusIsResult && r.status == VI_SUCCESS && st != VI_SUCCESS) {
            r.status = st;
            r.decisive = {stepName(nullptr), st};
            if (r.first.step.isEmpty())
                r.first = r.decisive;
        }
    }
    if (r.status == VI_SUCCESS)
        r.first = StepFailure();
    return r;
}

QString stepName(const Step* step)
{
    if (!step)
        return QStringLiteral("viGpibControlREN (go to local)");
    switch (step->kind) {
    case StepKind::Open:
        return QStringLiteral("viOpen");
    case StepKind::SetTimeout:
        return QStringLiteral("viSetAttribute VI_ATTR_TMO_VALUE %1").arg(step->timeoutMs);
    case StepKind::Query:
        break;
    }
    QString c = step->command;
    while (c.endsWith(QLatin1Char('\n')))
        c.chop(1);
    return c;
}

}  // namespace setup
