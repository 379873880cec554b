// The video analyzer: counts picture changes and reports the source-to-HDMI delay.
//
// Documented behaviour: power-on threshold 50 %, hysteresis 2 %, analysis
// stopped. INIT:AVDA starts it and clears the count; each source event whose
// picture change (10 % to 80 % picture level) crosses the threshold with its
// hysteresis is counted. STAT? is 1 when the last event was measured, VAL?
// gives its source-to-HDMI delay in ms (9.91E+37 before any).
#include "instruments.h"

namespace quarnel {
namespace bench {

VideoAnalyzer::VideoAnalyzer(const Options& options) : ScpiInstrument(Instrument::VideoAnalyzer, options.videoIdentity)
{
    addNumber("CONFigure:AVDA:TTV:APL:THReshold", m_threshold, 0.0, 100.0);
    addNumber("CONFigure:AVDA:TTV:APL:HYSTeresis", m_hysteresis, 0.0, 50.0);
    add(
        "INITiate:AVDA",
        [this](Call& c) {
            if (c.paramCount())
                return static_cast<int>(scpi::ParameterNotAllowed);
            m_running = true;
            m_count = 0;
            m_lastDetected = false;
            return 0;
        },
        nullptr);
    add(
        "ABORt:AVDA",
        [this](Call&) {
            m_running = false;
            return 0;
        },
        nullptr);
    add("READ:AVDA:TTV:STATus", nullptr, [this](Call& c) {
        c.reply = m_running && m_lastDetected ? "1" : "0";
        return 0;
    });
    add("READ:AVDA:TTV:COUNt", nullptr, [this](Call& c) {
        c.reply = std::to_string(m_count);
        return 0;
    });
    add("READ:AVDA:TTV:VALue", nullptr, [this](Call& c) {
        c.reply = m_count > 0 ? scpi::formatNumber(m_lastValue) : "9.91E+37";
        return 0;
    });
    addBoolSetting("SYSTem:DISPlay:UPDate", false);
    powerOn();
}

void VideoAnalyzer::reset()
{
    ScpiInstrument::reset();
    m_threshold = 50.0;
    m_hysteresis = 2.0;
    m_running = false;
    m_count = 0;
    m_lastDetected = false;
    m_lastValue = 0.0;
}

void VideoAnalyzer::event(const model::Event& event, bool suppressed, GroundTruth& truth)
{
    bool detected = m_running && !suppressed && model::videoDetects(m_threshold, m_hysteresis);
    truth.videoDetected = detected;
    if (!m_running)
        return;
    m_lastDetected = detected;
    if (detected) {
        ++m_count;
        m_lastValue = model::videoReportedMs(event);
    }
}

VideoState VideoAnalyzer::state() const
{
    VideoState s;
    s.threshold = m_threshold;
    s.hysteresis = m_hysteresis;
    s.running = m_running;
    s.count = m_count;
    return s;
}

}  // namespace bench
}  // namespace quarnel
