#include "instruments.h"

#include <cctype>
#include <cmath>

namespace quarnel {
namespace bench {

using scpi::ProgramUnit;

ScpiInstrument::ScpiInstrument(Instrument kind, std::string identity) : m_kind(kind), m_identity(std::move(identity))
{
    // SYSTem:ERRor[:NEXT]? is common to all three.
    add("SYSTem:ERRor[:NEXT]", nullptr, [this](Call& c) {
        if (c.paramCount())
            return static_cast<int>(scpi::ParameterNotAllowed);
        c.reply = m_errors.pop();
        return 0;
    });
    add("SYSTem:ERRor:COUNt", nullptr, [this](Call& c) {
        c.reply = std::to_string(m_errors.size());
        return 0;
    });
}

void ScpiInstrument::add(const std::string& pattern, Handler set, Handler query, int family)
{
    m_commands.push_back(Command{scpi::Pattern(pattern), std::move(set), std::move(query), family});
}

std::string ScpiInstrument::settingKey(const std::string& pattern, const std::vector<int>& suffix)
{
    std::string key = pattern;
    for (int s : suffix)
        key += "#" + std::to_string(s);
    return key;
}

void ScpiInstrument::addSetting(const std::string& pattern, const std::string& initial, Parse parse, int family)
{
    m_settingDefaults[pattern] = initial;
    add(
        pattern,
        [this, pattern, parse](Call& c) {
            std::string text;
            if (int e = parse(c, text))
                return e;
            m_settings[settingKey(pattern, c.suffix)] = text;
            return 0;
        },
        [this, pattern](Call& c) {
            auto it = m_settings.find(settingKey(pattern, c.suffix));
            c.reply = it != m_settings.end() ? it->second : m_settingDefaults[pattern];
            return 0;
        },
        family);
}

void ScpiInstrument::addBoolSetting(const std::string& pattern, bool initial, int family)
{
    addSetting(
        pattern, initial ? "1" : "0",
        [](Call& c, std::string& text) {
            bool v;
            if (int e = oneBool(c, v))
                return e;
            text = v ? "1" : "0";
            return 0;
        },
        family);
}

void ScpiInstrument::addNumberSetting(const std::string& pattern, double initial, double lo, double hi, int family)
{
    addSetting(
        pattern, scpi::formatNumber(initial),
        [lo, hi](Call& c, std::string& text) {
            double v;
            if (int e = oneNumber(c, v, lo, hi))
                return e;
            text = scpi::formatNumber(v);
            return 0;
        },
        family);
}

void ScpiInstrument::addEnumSetting(const std::string& pattern, const std::vector<std::string>& choices,
                                    const std::string& initial, int family, bool optionalParam)
{
    addSetting(
        pattern, initial,
        [choices, initial, optionalParam](Call& c, std::string& text) {
            if (optionalParam && c.paramCount() == 0) {
                text = initial;
                return 0;
            }
            return oneChoice(c, choices, text);
        },
        family);
}

void ScpiInstrument::addNumber(const std::string& pattern, double& field, double lo, double hi, int family)
{
    double* target = &field;
    add(
        pattern, [target, lo, hi](Call& c) { return oneNumber(c, *target, lo, hi); },
        [target](Call& c) {
            c.reply = scpi::formatNumber(*target);
            return 0;
        },
        family);
}

void ScpiInstrument::addBool(const std::string& pattern, bool& field, int family)
{
    bool* target = &field;
    add(
        pattern, [target](Call& c) { return oneBool(c, *target); },
        [target](Call& c) {
            c.reply = *target ? "1" : "0";
            return 0;
        },
        family);
}

int ScpiInstrument::oneNumber(Call& c, double& value, double lo, double hi)
{
    if (c.paramCount() == 0)
        return scpi::MissingParameter;
    if (c.paramCount() > 1)
        return scpi::ParameterNotAllowed;
    int special = 0;
    double v;
    if (!scpi::parseNumber(c.param(0), v, &special))
        return scpi::DataTypeError;
    if (special == 1)
        v = lo;
    else if (special == 2)
        v = hi;
    else if (special == 3)
        return scpi::IllegalParameterValue;
    if (v < lo || v > hi)
        return scpi::DataOutOfRange;
    value = v;
    return 0;
}

int ScpiInstrument::oneBool(Call& c, bool& value)
{
    if (c.paramCount() == 0)
        return scpi::MissingParameter;
    if (c.paramCount() > 1)
        return scpi::ParameterNotAllowed;
    if (!scpi::parseBoolean(c.param(0), value))
        return scpi::DataTypeError;
    return 0;
}

int ScpiInstrument::oneChoice(Call& c, const std::vector<std::string>& choices, std::string& chosen)
{
    if (c.paramCount() == 0)
        return scpi::MissingParameter;
    if (c.paramCount() > 1)
        return scpi::ParameterNotAllowed;
    for (const std::string& choice : choices) {
        if (scpi::matchMnemonic(c.param(0), choice)) {
            // Answer queries with the short form, as instruments do.
            std::string shortForm;
            for (char ch : choice)
                if (std::isupper(static_cast<unsigned char>(ch)) || std::isdigit(static_cast<unsigned char>(ch)))
                    shortForm += ch;
            chosen = shortForm.empty() ? scpi::upper(choice) : shortForm;
            return 0;
        }
    }
    return scpi::IllegalParameterValue;
}

void ScpiInstrument::pushError(int code, const std::string& info)
{
    m_errors.push(code, info);
    m_esr |= scpi::esrBitFor(code);
}

uint8_t ScpiInstrument::statusByte(bool messageAvailable) const
{
    uint8_t stb = 0;
    if (!m_errors.empty())
        stb |= 0x04;
    if (messageAvailable)
        stb |= 0x10;
    if (m_esr & m_ese)
        stb |= 0x20;
    if (stb & m_sre & 0xBF)
        stb |= 0x40;
    return stb;
}

void ScpiInstrument::reset()
{
    m_settings.clear();
    m_real = false;
    m_bigEndian = false;
}

void ScpiInstrument::addDataFormat(const char* bigEndianName, const char* littleEndianName)
{
    add(
        "FORMat[:DATA]",
        [this](Call& c) {
            if (c.paramCount() == 0)
                return static_cast<int>(scpi::MissingParameter);
            if (c.paramCount() > 2)
                return static_cast<int>(scpi::ParameterNotAllowed);
            double v = 0.0;
            if (scpi::matchMnemonic(c.param(0), "ASCii")) {
                if (c.paramCount() == 2 && !(scpi::parseNumber(c.param(1), v) && v == 0.0))
                    return static_cast<int>(scpi::IllegalParameterValue);
                m_real = false;
                return 0;
            }
            if (!scpi::matchMnemonic(c.param(0), "REAL"))
                return static_cast<int>(scpi::IllegalParameterValue);
            v = 32.0;
            if (c.paramCount() == 2 && !scpi::parseNumber(c.param(1), v))
                return static_cast<int>(scpi::DataTypeError);
            if (v != 32.0)
                return static_cast<int>(scpi::IllegalParameterValue);
            m_real = true;
            return 0;
        },
        [this](Call& c) {
            c.reply = m_real ? "REAL,32" : "ASC,0";
            return 0;
        });
    const std::string big = bigEndianName, little = littleEndianName;
    add(
        "FORMat:BORDer",
        [this](Call& c) {
            std::string chosen;
            if (int e = oneChoice(c, {"LSBFirst", "MSBFirst", "NORMal", "SWAPped"}, chosen))
                return e;
            m_bigEndian = chosen == "MSBF" || chosen == "NORM";
            return 0;
        },
        [this, big, little](Call& c) {
            c.reply = m_bigEndian ? big : little;
            return 0;
        });
}

void ScpiInstrument::powerOn()
{
    reset();
    m_errors.clear();
    m_esr = 0x80;  // PON
    m_ese = m_sre = 0;
}

int ScpiInstrument::runCommon(const ProgramUnit& unit, ExecContext& ctx, std::string& reply, bool& aborted)
{
    const std::string& n = unit.commonName;
    aborted = false;
    auto noParams = [&]() { return unit.params.empty(); };
    auto byteParam = [&](uint8_t& target) {
        double v;
        if (unit.params.size() != 1)
            return unit.params.empty() ? static_cast<int>(scpi::MissingParameter)
                                       : static_cast<int>(scpi::ParameterNotAllowed);
        if (!scpi::parseNumber(unit.params[0], v))
            return static_cast<int>(scpi::DataTypeError);
        long r = std::lround(v);
        if (r < 0 || r > 255)
            return static_cast<int>(scpi::DataOutOfRange);
        target = static_cast<uint8_t>(r);
        return 0;
    };
    if (unit.query) {
        if (!noParams() && n != "ESE" && n != "SRE")
            return scpi::ParameterNotAllowed;
        if (n == "IDN") {
            reply = m_identity;
        } else if (n == "OPC") {
            reply = "1";  // every operation has completed when this unit runs
        } else if (n == "ESR") {
            reply = std::to_string(m_esr);
            m_esr = 0;
        } else if (n == "ESE") {
            reply = std::to_string(m_ese);
        } else if (n == "SRE") {
            reply = std::to_string(m_sre);
        } else if (n == "STB") {
            reply = std::to_string(statusByte(false));
        } else if (n == "TST") {
            reply = "0";
        } else {
            return scpi::UndefinedHeader;
        }
        return 0;
    }
    if (n == "RST") {
        reset();
    } else if (n == "CLS") {
        m_errors.clear();
        m_esr = 0;
    } else if (n == "OPC") {
        m_esr |= 0x01;
    } else if (n == "WAI") {
        // Operations complete at once.
    } else if (n == "TRG") {
        trigger(ctx);
    } else if (n == "ESE") {
        return byteParam(m_ese);
    } else if (n == "SRE") {
        return byteParam(m_sre);
    } else {
        return scpi::UndefinedHeader;
    }
    if (!noParams())
        return scpi::ParameterNotAllowed;
    return 0;
}

std::shared_ptr<const std::string> ScpiInstrument::execute(const std::string& message, ExecContext& ctx)
{
    std::vector<ProgramUnit> units;
    int syntaxError = 0;
    size_t syntaxUnit = 0;
    bool ok = scpi::splitMessage(message, units, syntaxError, syntaxUnit);

    struct Response
    {
        std::string text;
        std::shared_ptr<const std::string> shared;  ///< with its "\n"
    };
    std::vector<Response> responses;
    bool stopped = false;
    std::vector<scpi::HeaderNode> path;  // current compound path (all but the last node)
    for (const ProgramUnit& unit : units) {
        std::string reply;
        std::shared_ptr<const std::string> sharedReply;
        int error = 0;
        if (unit.common) {
            bool aborted = false;
            error = runCommon(unit, ctx, reply, aborted);
        } else {
            // Headers resolve from the root; a header that does not resolve there
            // is tried below the previous unit's path (SCPI's compound rule).
            const Command* found = nullptr;
            std::vector<int> suffix;
            std::vector<scpi::HeaderNode> resolved = unit.nodes;
            for (int attempt = 0; attempt < 2 && !found; ++attempt) {
                if (attempt == 1) {
                    if (unit.fromRoot || path.empty())
                        break;
                    resolved = path;
                    resolved.insert(resolved.end(), unit.nodes.begin(), unit.nodes.end());
                }
                for (const Command& cmd : m_commands) {
                    if ((unit.query ? cmd.query : cmd.set) && cmd.pattern.match(resolved, suffix)) {
                        found = &cmd;
                        break;
                    }
                }
            }
            if (!found) {
                error = scpi::UndefinedHeader;
            } else {
                path.assign(resolved.begin(), resolved.end() - 1);
                if (found->family >= 0)
                    familyCommand(found->family);
                Call call{unit, suffix, ctx, reply, sharedReply};
                error = unit.query ? found->query(call) : found->set(call);
            }
        }
        if (error) {
            pushError(error, unit.text);
            // A command error ends the message (the parser lost its footing);
            // execution errors only cost their own unit.
            if (error <= -100 && error > -200) {
                stopped = true;
                break;
            }
            continue;
        }
        if (unit.query)
            responses.push_back(Response{std::move(reply), std::move(sharedReply)});
    }
    if (!ok && !stopped && units.size() == syntaxUnit) {
        // The syntax error lies in the unit after the last good one; the good
        // ones ran above.
        pushError(syntaxError, std::string());
    }
    if (responses.empty())
        return nullptr;
    if (responses.size() == 1 && responses[0].shared)
        return responses[0].shared;
    // Large replies are moved, not copied, when they stand alone.
    std::string out = std::move(responses[0].text);
    if (responses[0].shared)
        out.assign(*responses[0].shared, 0, responses[0].shared->size() - 1);
    for (size_t i = 1; i < responses.size(); ++i) {
        out += ';';
        if (responses[i].shared)
            out.append(*responses[i].shared, 0, responses[i].shared->size() - 1);
        else
            out += responses[i].text;
    }
    out += '\n';
    return std::make_shared<const std::string>(std::move(out));
}

}  // namespace bench
}  // namespace quarnel
