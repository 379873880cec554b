// The INI settings file: 13 keys in four groups, kept between runs.
#pragma once

#include <QString>
#include <QStringList>

namespace cfgkey {
inline const char* const OsIp = "Oscilloscope/IP Address";
inline const char* const OsRst = "Oscilloscope/Reset";
inline const char* const OsTyp = "Oscilloscope/Type";
inline const char* const OsTrgLvl = "Oscilloscope/Trigger Level";
inline const char* const SaIp = "Spectrum Analyzer/IP Address";
inline const char* const SaRst = "Spectrum Analyzer/Reset";
inline const char* const SaFrq = "Spectrum Analyzer/Center Frequency";
inline const char* const SaIfDem = "Spectrum Analyzer/IF Demod";
inline const char* const VaIp = "Video Analyzer/IP Address";
inline const char* const VaRst = "Video Analyzer/Reset";
inline const char* const VaThres = "Video Analyzer/Threshold";
inline const char* const VaHdmi = "Video Analyzer/HDMI Delay";
inline const char* const SaveData = "General/Save Data";
}  // namespace cfgkey

// Default resource strings: where the simulated bench serves by default.
inline const char* const kDefaultOsRsrc = "TCPIP::127.0.0.11::INSTR";
inline const char* const kDefaultSaRsrc = "TCPIP::127.0.0.12::INSTR";
inline const char* const kDefaultVaRsrc = "TCPIP::127.0.0.13::INSTR";

// Values as the file holds them. Check boxes travel as Qt::CheckState ints
// (0 unchecked, 2 checked) on the way out and as bools on the way in.
struct CfgValues
{
    QString osIp = QString::fromLatin1(kDefaultOsRsrc);
    bool osRst = false;
    int osTyp = 1;
    double trgLvl = 0.027;
    QString saIp = QString::fromLatin1(kDefaultSaRsrc);
    bool saRst = false;
    double saFrq = 5.192e9;
    bool saIfDem = false;
    QString vaIp = QString::fromLatin1(kDefaultVaRsrc);
    bool vaRst = false;
    double vaThres = 35.0;
    bool vaHdmi = false;
    bool saveData = false;
};

// What is written: the same keys, check boxes as their check-state ints.
struct CfgSaveValues
{
    QString osIp;
    int osRst = 0;
    int osTyp = 0;
    double trgLvl = 0.0;
    QString saIp;
    int saRst = 0;
    double saFrq = 0.0;
    int saIfDem = 0;
    QString vaIp;
    int vaRst = 0;
    double vaThres = 0.0;
    bool vaHdmi = false;
    int saveData = 0;
};

// Qt's INI reader decodes "@Variant(" values with a binary decoder that
// allocates whatever size the bytes claim: a damaged file could exhaust memory
// or abort the program. The program never writes such values, so a file that
// holds one is not read: all keys get their defaults, and writing the settings
// first moves that file aside (name + ".unreadable").
bool cfgHoldsSerialisedValue(const QString& fnam);

// Missing keys get their defaults one by one. The three numbers keep their
// defaults too unless the file holds a finite number for them; other values
// that do not convert follow QVariant's rules (0 / false).
CfgValues readCfg(const QString& fnam);
void writeCfg(const QString& fnam, const CfgSaveValues& v);

// What is wrong with a settings file, for a program that runs unattended and
// must not measure with values it guessed: the file cannot be read or is not
// INI text, or one of the 13 keys holds a value that does not convert (a
// number that is not finite, a check box that is not a check state, a type
// other than 0 or 1, a resource that is not text). One line per problem;
// empty when the file is sound. Missing keys are not problems.
QStringList cfgProblems(const QString& fnam);

// Numbers shown in line edits: shortest of fixed/exponent, 6 significant digits.
QString formatNumber(double v);
