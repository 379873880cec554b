// Simulated measurement bench: an oscilloscope, a spectrum analyzer and a video
// analyzer served over VXI-11 (portmapper + core channel) and raw SCPI sockets,
// driven by a seeded physical model of the screen-mirroring chain.
//
// The library starts in-process (tests) or behind the program quarnel-bench.
// Every public member function of Bench is thread-safe.
//
// Units: times on axes in seconds, delays in milliseconds (the unit the
// measurement program reports), levels in volts or dBm as named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {

enum class Instrument { Oscilloscope = 0, SpectrumAnalyzer = 1, VideoAnalyzer = 2 };
constexpr int kInstrumentCount = 3;

/// "oscilloscope", "spectrum analyzer", "video analyzer".
const char* instrumentName(Instrument instrument);
/// Accepts "scope"/"os"/"osc"/"oscilloscope", "sa"/"analyzer"/"spectrum",
/// "va"/"video" (any case). Returns false for anything else.
bool parseInstrument(const std::string& text, Instrument& instrument);

/// Command family the oscilloscope currently follows. It understands both at
/// any time; the family only decides what a time scale means (10 horizontal
/// divisions for the first family, 12 for the second). It switches to the
/// family of the last family-specific command received.
enum class ScopeFamily { First = 0, Second = 1 };

/// One delay of the chain: normal distribution, clipped to mean ± 3 jitter and
/// never below 0.
struct DelayDistribution
{
    double meanMs = 0.0;
    double jitterMs = 0.0;  ///< standard deviation
};

// ---- scripted faults ----------------------------------------------------------

enum class FaultKind {
    /// The matching program message is logged but neither executed nor answered:
    /// a client waiting for the reply times out. Matching a VXI-11 procedure
    /// name (e.g. "device_local", "create_link"): the RPC gets no reply at all.
    NoReply,
    /// The connection carrying the matching message is closed: without any reply
    /// (afterBytes < 0) or after the first afterBytes bytes of its reply, which
    /// may lie inside a binary block. Also valid on a procedure name.
    DropConnection,
    /// The reply becomes available only delayMs after the message arrived.
    SlowReply,
    /// The message is refused with SCPI error `scpiError` queued and nothing is
    /// executed or answered. On a procedure name the RPC returns `vxiError`.
    CommandError,
    /// The reply of the matching message is replaced by `text` (give the "\n").
    ReplaceReply,
    /// The reply goes out without END and never ends: after it, 64 KiB of
    /// filler every `delayMs` (2000 when 0), until the next message or a
    /// device clear.
    EndlessReply,
    /// The next binary block answering a matching message is malformed as
    /// `block` says.
    MalformedBlock,
    /// Model fault: the source channel starts at `level` volts (outside the
    /// program's start window) for the next `count` acquisitions.
    StartLevelOutside,
    /// Model fault: the RF envelope is exactly constant (analyzer trace and
    /// oscilloscope channel 3) for the next `count` acquisitions.
    FlatRf,
    /// Model fault: the sink channel never rises for the next `count` acquisitions.
    NoSinkEdge,
    /// Model fault: the video analyzer detects nothing for the next `count`
    /// acquisitions: READ:AVDA:TTV:STAT? answers 0 and the count does not grow.
    VideoStatusZero,
    /// HiSLIP: the matching message (or asynchronous request, by its procedure
    /// name) is answered with an Error message of control code `hislipCode`
    /// instead of being executed. Over VXI-11 and raw sockets: no reply.
    HislipError,
    /// HiSLIP: as HislipError with a FatalError; the session is then closed.
    HislipFatal,
    /// HiSLIP: the reply goes out as Data messages only; its DataEND never
    /// comes. Other transports answer normally.
    NoEnd
};

enum class BlockFault {
    NoHash,            ///< the block starts with its length digits, no "#"
    IndefiniteLength,  ///< "#0", data, "\n"
    NonDigitCount,     ///< "#" followed by a letter instead of the digit count
    NonDigitLength,    ///< a letter among the length digits
    ShortData,         ///< half the declared data bytes, then "\n"
    LengthFarBeyond,   ///< declares 999999999 bytes, sends the real data and "\n"
    NewlineInData      ///< a well-formed block whose first data byte is 0x0A (LF)
};

struct Fault
{
    Instrument instrument = Instrument::Oscilloscope;
    FaultKind kind = FaultKind::NoReply;
    /// Case-insensitive substring of the program message (as received, "\n"
    /// included) or a VXI-11 procedure name ("create_link", "device_local",
    /// "device_remote", "device_clear", "device_readstb", "device_trigger",
    /// "destroy_link"). Empty matches every program message. Not used by the
    /// model faults.
    std::string match;
    int skip = 0;                           ///< let this many matching messages (or acquisitions) pass first
    int count = 1;                          ///< messages or acquisitions affected; 0 = every one from then on
    long afterBytes = -1;                   ///< DropConnection
    int delayMs = 0;                        ///< SlowReply, EndlessReply
    int scpiError = -200;                   ///< CommandError on a message ("Execution error")
    int vxiError = 17;                      ///< CommandError on a procedure (17 = I/O error)
    std::string text;                       ///< ReplaceReply
    BlockFault block = BlockFault::NoHash;  ///< MalformedBlock
    double level = 0.4;                     ///< StartLevelOutside, volts
    int hislipCode = 0;                     ///< HislipError, HislipFatal: control code 0..255
};

/// Parses the fault syntax of the command line:
///   INSTRUMENT:KIND[:key=value]...[:match=TEXT]
/// KIND: noreply drop slow error reply endless block startlevel flatrf nosink
/// videozero hserror hsfatal noend.
/// Keys: skip count after delay code vxi hscode text block level; "match=" takes the
/// rest of the argument verbatim (it may contain ':' ';' ',' and blanks),
/// "\n" in text and match stands for a line feed. block values: nohash hash0
/// nondigit nondigitlen short far newline.
/// Examples: "sa:noreply:match=TRAC?"  "scope:drop:after=100:match=CHAN1:DATA?"
///           "scope:block:block=short:match=CHAN2:DATA?"  "scope:startlevel:count=3"
///           "va:error:vxi=17:match=device_local"
bool parseFault(const std::string& text, Fault& fault, std::string* error = nullptr);
/// Text of the syntax above for --help.
std::string faultSyntaxHelp();

// ---- options ----------------------------------------------------------------------

struct Options
{
    std::string scopeAddress = "127.0.0.11";
    std::string analyzerAddress = "127.0.0.12";
    std::string videoAddress = "127.0.0.13";
    uint16_t portmapperPort = 111;  ///< 0 = no portmapper (clients then need host,port)
    uint16_t rawPort = 5025;        ///< raw SCPI socket port on every address; 0 = none
    uint16_t hislipPort = 4880;     ///< HiSLIP port on every address; 0 = none
    uint16_t corePort = 0;          ///< VXI-11 core port; 0 = chosen by the system
    /// Largest device_write the core channel accepts, announced in create_link
    /// (1024 .. 16 MiB); longer writes get VXI-11 error 5.
    uint32_t maxRecvSize = 1 << 20;

    /// Record length when no ACQ:POIN was commanded (also after *RST).
    /// Upper limit kMaxScopePoints.
    size_t scopePoints = 20000;
    /// Family the oscilloscope follows before any family-specific command.
    /// The second family is what the program selects when it has no settings yet.
    ScopeFamily initialFamily = ScopeFamily::Second;

    std::string scopeIdentity = "Tervane Bench,Ovix-Pelmo Simulated Oscilloscope,SIM0001,1.0";
    /// Spectrum analyzer *IDN? reply. The program's model tests look for "KLE",
    /// "KLEM" and "ZOL" in it.
    std::string analyzerIdentity = "Tervane Bench,KLE Simulated Spectrum Analyzer,SIM0002,1.0";
    std::string videoIdentity = "Tervane Bench,Simulated Video Analyzer,SIM0003,1.0";

    DelayDistribution sourceToRf{25.0, 2.0};
    DelayDistribution sourceToHdmi{55.0, 4.0};
    DelayDistribution sourceToSink{95.0, 6.0};

    /// Height of the source's light step as a share of the model's 0.25 V:
    /// below 1 a weaker photodiode signal (the onsets stay where they are).
    double sourceScale = 1.0;

    uint64_t seed = 1;
    /// Carrier of the radio link, Hz. The analyzer sees the link only when tuned
    /// near it (its resolution bandwidth decides how near).
    double linkFrequency = 5.192e9;
    /// When true an acquisition or a sweep takes its window length in real time
    /// before *OPC? answers; otherwise it completes at once.
    bool realTime = false;
    /// Faults active from the start (more can be added with Bench::addFault).
    std::vector<Fault> faults;
};

constexpr size_t kMaxScopePoints = 50000000;  ///< 200 MB per float32 channel block
constexpr size_t kMaxSweepPoints = 10000001;

/// Options whose three addresses are fresh unique loopback addresses (see
/// uniqueLoopbackAddresses); everything else default.
Options testOptions();

/// `count` loopback addresses no other process running tests gets at the same
/// time: 127.A.B.C with B.C derived from the process id and A from a
/// per-process counter, never in 127.0.0.0/24 (so never 127.0.0.1 nor the
/// default bench addresses). Each call returns new ones (about 80 sets of three
/// per process before they repeat).
std::vector<std::string> uniqueLoopbackAddresses(int count = 3);

// ---- observability ------------------------------------------------------------------

enum class LogKind {
    Message,  ///< a complete program message, text exactly as received ("\n" included)
    /// A VXI-11 procedure other than device_write/device_read, or the HiSLIP
    /// request that does the same ("device_clear", "device_readstb",
    /// "device_local", "device_remote", "device_lock", "device_unlock",
    /// "device_trigger"; "initialize" when a HiSLIP session starts).
    Procedure,
    Connection  ///< a connection opened ("open") or closed ("close")
};
enum class Transport { Vxi11, Socket, HiSlip };

struct LogEntry
{
    LogKind kind = LogKind::Message;
    Transport transport = Transport::Vxi11;
    int connection = 0;  ///< bench-wide connection number, from 1
    int link = 0;        ///< VXI-11 link id (0 on raw sockets and connection entries)
    /// Message text; procedure name ("create_link", "device_local",
    /// "device_remote", "device_clear", "device_readstb", "device_trigger",
    /// "device_lock", "device_unlock", "destroy_link", "device_abort", ...);
    /// or "open"/"close".
    std::string text;
    /// create_link: the device name; Connection: the peer "address:port";
    /// otherwise empty.
    std::string detail;
    double time = 0.0;  ///< seconds since start()
};

/// Ground truth of one acquisition of the oscilloscope.
struct GroundTruth
{
    uint64_t index = 0;  ///< 1, 2, ... since start()
    ScopeFamily family = ScopeFamily::Second;
    double eventTime = 0.0;     ///< onset of the source rise, s on the scope axis (0 = trigger point)
    double windowStart = 0.0;   ///< time of the first sample, s
    double windowLength = 0.0;  ///< time from the first to the last sample, s
    size_t points = 0;          ///< samples per channel
    double sourceToRfMs = 0.0;  ///< delays drawn for this event
    double sourceToHdmiMs = 0.0;
    double sourceToSinkMs = 0.0;
    double sourceBase = 0.0;  ///< start level of the source channel, V
    bool flatRf = false;      ///< FlatRf fault applied
    bool sinkEdge = true;     ///< false when NoSinkEdge applied
    /// The video analyzer measured this event (its analysis runs, the
    /// threshold lies within the picture change, no VideoStatusZero fault).
    bool videoDetected = true;
    /// Spectrum analyzer sweep triggered by this acquisition (false if it was
    /// not armed: single-sweep mode without INIT:CONT OFF/INIT since the last sweep).
    bool analyzerSwept = false;
    double sweepStart = 0.0;  ///< s relative to the trigger point (= hold-off with EXT trigger)
    double sweepTime = 0.0;   ///< s
    size_t sweepPoints = 0;
    /// Source→RF that a reader gets who lays the first `points` analyzer samples
    /// onto the scope window (what the program does): with the first family's
    /// −0.6 s hold-off and 1 s sweep this is sourceToRfMs + about 100 ms.
    double analyzerApparentRfMs = 0.0;
};

/// Snapshot of the commanded oscilloscope settings (for tests and the CLI).
struct ScopeState
{
    ScopeFamily family = ScopeFamily::Second;
    double timeRange = 1.2;   ///< s, whole window
    double reference = 50.0;  ///< trigger point position, % of the window
    double position = 0.0;    ///< horizontal position, s
    size_t points = 20000;
    bool running = true;      ///< continuous acquisition
    bool realFormat = false;  ///< FORM REAL,32 (else ASC)
    double triggerLevel = 0.0;
};

struct AnalyzerState
{
    double centre = 0.0, span = 0.0, sweepTime = 0.0, holdoff = 0.0;
    double rbw = 0.0, vbw = 0.0;
    size_t sweepPoints = 0;
    bool continuous = true, externalTrigger = false, realFormat = false;
};

struct VideoState
{
    double threshold = 0.0, hysteresis = 0.0;
    bool running = false;
    long count = 0;
};

// ---- the bench -------------------------------------------------------------------------

class Bench
{
public:
    explicit Bench(Options options = Options());
    ~Bench();  ///< stops
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    /// Binds every listener and starts serving. On failure nothing stays open
    /// and the reason is in `error` (and errorText()); a refused port below 1024
    /// says which privilege is missing and how to grant it.
    bool start(std::string* error = nullptr);
    /// Closes every listener and connection and joins all threads. Idempotent.
    void stop();
    bool running() const;
    std::string errorText() const;
    const Options& options() const;

    std::string address(Instrument instrument) const;
    /// "TCPIP::<address>::INSTR" (when the portmapper runs on 111; otherwise
    /// "TCPIP::<address>,<core port>::INSTR").
    std::string resourceString(Instrument instrument) const;
    /// "TCPIP::<address>::<raw port>::SOCKET"; empty when no raw port.
    std::string socketResourceString(Instrument instrument) const;
    /// "TCPIP::<address>::hislip0::INSTR" (",<port>" after hislip0 when not
    /// 4880); empty when HiSLIP is off.
    std::string hislipResourceString(Instrument instrument) const;
    uint16_t corePort(Instrument instrument) const;  ///< 0 before start()

    /// Everything the instrument received, in order.
    std::vector<LogEntry> log(Instrument instrument) const;
    /// Only the program messages, exact texts.
    std::vector<std::string> messages(Instrument instrument) const;
    void clearLog();
    void clearLog(Instrument instrument);

    std::vector<GroundTruth> groundTruth() const;
    /// false when no acquisition happened yet.
    bool lastGroundTruth(GroundTruth& truth) const;
    /// Called (on a server thread, without bench locks held) after every acquisition.
    void setAcquisitionCallback(std::function<void(const GroundTruth&)> callback);

    void addFault(const Fault& fault);
    void clearFaults();

    ScopeState scopeState() const;
    AnalyzerState analyzerState() const;
    VideoState videoState() const;

    class Private;

private:
    std::unique_ptr<Private> d;
};

}  // namespace bench
}  // namespace quarnel
