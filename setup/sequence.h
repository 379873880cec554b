// The Init set-ups as data: each instrument's set-up is a list of groups of
// steps, every step with the rule that applies when it fails, and a small
// runner that walks such a list through a caller-supplied send function.
// Nothing here touches VISA or widgets, so the sequences are tested as they
// stand; the Init slots only supply the send function.
#pragma once

#include <QString>
#include <QVector>

#include <visa.h>

#include <functional>

namespace setup {

enum class StepKind {
    Open,        // open the instrument session (resource from the form)
    SetTimeout,  // I/O time-out of the session, `timeoutMs`
    Query,       // `command` through VisaQuery
};

// What a failing step (any status but 0) does to the rest of the set-up.
enum class OnFailure {
    Ignore,        // nothing: the next step follows
    SkipGroup,     // the rest of its group is skipped, the next group follows
    End,           // the set-up ends with this status, instrument left in remote
    EndAfterLocal  // the set-up ends with this status after the go-to-local
};

// Steps sent only when the instrument's identification allows it. The test
// runs on the upper-cased "*IDN?" reply (empty unless that query succeeded).
enum class Condition {
    Always,
    ModelKle,    // reply names "KLE" or "KLEM"
    ModelNotZol  // reply does not name "ZOL"
};

struct Step
{
    StepKind kind = StepKind::Query;
    QString command;         // Query only
    ViUInt32 timeoutMs = 0;  // SetTimeout only
    OnFailure onFailure = OnFailure::End;
    Condition when = Condition::Always;
    bool identifies = false;  // its reply is the identification reply
};

struct Group
{
    QVector<Step> steps;
};

struct Sequence
{
    QVector<Group> groups;
    // The go-to-local that closes the set-up decides the result (analyzers);
    // otherwise its status is ignored (oscilloscope).
    bool localStatusIsResult = true;
};

// ---- the three set-ups --------------------------------------------------------

struct OscilloscopeParams
{
    int type = 0;  // 0 first family, anything else the second
    bool reset = false;
    bool ifDemod = false;       // "Use IF/Video-Demod": channel 3 (first family)
    double triggerLevel = 0.0;  // V
};

struct AnalyzerParams
{
    int oscilloscopeType = 0;  // the sweep spans the scope's window
    bool reset = false;
    double centreFrequency = 0.0;  // Hz
};

struct VideoParams
{
    bool reset = false;
    double threshold = 0.0;  // percent
};

Sequence oscilloscopeSequence(const OscilloscopeParams& p);
Sequence analyzerSequence(const AnalyzerParams& p);
Sequence videoSequence(const VideoParams& p);

// Numbers in commands: six significant digits, shortest form.
QString formatValue(double v);

// ---- running ------------------------------------------------------------------

// One action for the instrument: a step, or the closing go-to-local
// (`step` null). Returns the VISA status; a Query may set *reply.
using SendFn = std::function<ViStatus(const Step* step, QString* reply)>;

// An action that failed: its name (stepName) and status.
struct StepFailure
{
    QString step;
    ViStatus status = VI_SUCCESS;
};

struct Result
{
    ViStatus status = VI_SUCCESS;  // 0: the instrument is ready
    bool localSent = false;
    QString identification;  // "*IDN?" reply, empty when not obtained
    // Set only when status is not 0: the action whose failure decided it, and
    // the first action whose failure was not ignored. They differ when a
    // skipped group (a failed open, say) made a later step fail.
    StepFailure decisive, first;
};

Result run(const Sequence& seq, const SendFn& send);

// What the operator is told a step is: the command as sent without its line
// end, or the VISA call ("viOpen", ...); null is the closing go-to-local.
QString stepName(const Step* step);

}  // namespace setup
