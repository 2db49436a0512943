#include "agent/shell/configuration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/files.h"
#include "platform/profile_file.h"
#include "platform/text_rules.h"

namespace tavrel::agent {
namespace {

namespace platform = tavrel::platform;

// The Windows read fills a buffer whose declared size is 144: one place is
// kept for the terminating NUL, so 143 characters come back at most.
constexpr size_t kTextBufferSize = 144;

constexpr std::string_view kGeneral = "General";
constexpr std::string_view kUpdates = "Updates";
constexpr std::string_view kTavrelPath = "TavrelPath";

std::string numberText(float value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

struct WindowKey {
    std::string_view section;
    std::string_view key;
};

WindowKey windowKey(WindowSetting index) {
    switch (index) {
        case WindowSetting::HideInTray:
            return {kGeneral, "HideInTray"};
        case WindowSetting::HideOnMinimize:
            return {kGeneral, "HideOnMinimize"};
        case WindowSetting::ShowMenuButtons:
            return {kGeneral, "ShowMenuButtons"};
        case WindowSetting::FormHeight:
            return {kGeneral, "FormHeight"};
        case WindowSetting::FormWidth:
            return {kGeneral, "FormWidth"};
        case WindowSetting::LastCheck:
            return {kUpdates, "LastCheck"};
    }
    return {kGeneral, ""};
}

bool asFlag(const SettingValue& value) {
    if (auto b = std::get_if<bool>(&value)) return *b;
    if (auto f = std::get_if<float>(&value)) return *f != 0;
    return ParseFlagText(std::get<std::string>(value), false);
}

float asNumber(const SettingValue& value) {
    if (auto b = std::get_if<bool>(&value)) return *b ? -1.0f : 0.0f;
    if (auto f = std::get_if<float>(&value)) return *f;
    float out = 0;
    std::string_view t = platform::trimText(std::get<std::string>(value));
    // A plus sign may stand before the digits; from_chars reads no sign but minus.
    if (t.size() > 1 && t[0] == '+' &&
        (std::isdigit(static_cast<unsigned char>(t[1])) || t[1] == '.'))
        t.remove_prefix(1);
    auto r = std::from_chars(t.data(), t.data() + t.size(), out);
    // "nan" and "inf" are words, not numbers, and no window size.
    const bool number = r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(out);
    return number ? out : 0.0f;
}

std::string asText(const SettingValue& value) {
    if (auto b = std::get_if<bool>(&value)) return *b ? "True" : "False";
    if (auto f = std::get_if<float>(&value)) return numberText(*f);
    return std::get<std::string>(value);
}

}  // namespace

bool ParseFlagText(std::string_view text, bool defaultValue) {
    const std::string word = platform::upperText(text);
    if (word == "TRUE" || word == "YES" || word == "1") return true;
    if (word == "FALSE" || word == "NO" || word == "0") return false;
    return defaultValue;
}

std::string Configuration::FilePath() const {
    return m_state.agentFolder + m_state.configBaseName + ".INI";
}

bool Configuration::ConfigFileExists() const { return platform::fileExists(FilePath()); }

std::string Configuration::ReadText(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    std::string value = platform::readProfileString(FilePath(), section, key, defaultValue);
    if (value.size() > kTextBufferSize - 1) value.resize(kTextBufferSize - 1);
    // The Windows read stops at a NUL character in the value.
    if (auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
    return value;
}

int Configuration::WriteText(std::string_view section, std::string_view key,
                             std::string_view value) {
    return platform::writeProfileString(FilePath(), section, key, value);
}

bool Configuration::ReadFlag(std::string_view section, std::string_view key,
                             bool defaultValue) const {
    return ParseFlagText(ReadText(section, key, ""), defaultValue);
}

int Configuration::WriteFlag(std::string_view section, std::string_view key, bool value) {
    return WriteText(section, key, value ? "True" : "False");
}

int16_t Configuration::ReadInteger(std::string_view section, std::string_view key,
                                   int16_t defaultValue) const {
    long long value = platform::readProfileInteger(FilePath(), section, key, defaultValue);
    return int16_t(std::clamp<long long>(value, INT16_MIN, INT16_MAX));
}

int Configuration::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteText(section, key, std::to_string(std::clamp(value, INT16_MIN + 0, INT16_MAX + 0)));
}

float Configuration::ReadNumber(std::string_view section, std::string_view key) const {
    return asNumber(ReadText(section, key, "0"));
}

int Configuration::WriteNumber(std::string_view section, std::string_view key, float value) {
    return WriteText(section, key, numberText(value));
}

SettingValue Configuration::ReadWindowSetting(WindowSetting index) const {
    const WindowKey k = windowKey(index);
    switch (index) {
        case WindowSetting::HideInTray:
        case WindowSetting::ShowMenuButtons:
            return ReadFlag(k.section, k.key, true);
        case WindowSetting::HideOnMinimize:
            return ReadFlag(k.section, k.key, false);
        case WindowSetting::FormHeight:
        case WindowSetting::FormWidth:
            return ReadNumber(k.section, k.key);
        case WindowSetting::LastCheck:
            return ReadText(k.section, k.key, "");
    }
    return std::string();
}

int Configuration::WriteWindowSetting(WindowSetting index, const SettingValue& value) {
    const WindowKey k = windowKey(index);
    switch (index) {
        case WindowSetting::HideInTray:
        case WindowSetting::HideOnMinimize:
        case WindowSetting::ShowMenuButtons:
            return WriteFlag(k.section, k.key, asFlag(value));
        case WindowSetting::FormHeight:
        case WindowSetting::FormWidth:
            return WriteNumber(k.section, k.key, asNumber(value));
        case WindowSetting::LastCheck:
            return WriteText(k.section, k.key, asText(value));
    }
    return 0;
}

bool Configuration::ReadTraceFile() const { return ReadFlag(kUpdates, "TraceFile", false); }
int Configuration::WriteTraceFile(bool value) { return WriteFlag(kUpdates, "TraceFile", value); }
bool Configuration::ReadUpdateFlag() const { return ReadFlag(kUpdates, "UpdateFlag", false); }
int Configuration::WriteUpdateFlag(bool value) { return WriteFlag(kUpdates, "UpdateFlag", value); }

std::string Configuration::ReadMainPath() {
    if (m_rememberedMainPath.empty() && !m_state.applicationFolder.empty()) {
        m_rememberedMainPath = m_state.applicationFolder;
    }
    m_state.applicationFolder = ReadText(kTavrelPath, "MainPath", m_rememberedMainPath);
    return m_state.applicationFolder;
}

int Configuration::WriteMainPath(std::string_view folder) {
    m_state.applicationFolder = std::string(folder);
    return WriteText(kTavrelPath, "MainPath", folder);
}

std::string Configuration::ReadUpdateStart() const {
    return ReadText(kUpdates, "UpdateStart", "01:00");
}
int Configuration::WriteUpdateStart(std::string_view v) {
    return WriteText(kUpdates, "UpdateStart", v);
}
std::string Configuration::ReadUpdateFinish() const {
    return ReadText(kUpdates, "UpdateFinish", "03:00");
}
int Configuration::WriteUpdateFinish(std::string_view v) {
    return WriteText(kUpdates, "UpdateFinish", v);
}
std::string Configuration::ReadUpdateLast() const { return ReadText(kUpdates, "UpdateLast", ""); }
int Configuration::WriteUpdateLast(std::string_view v) {
    return WriteText(kUpdates, "UpdateLast", v);
}
int16_t Configuration::ReadKeepLastRecords() const {
    return ReadInteger(kGeneral, "KeepLastRecords", 100);
}
int Configuration::WriteKeepLastRecords(int value) {
    return WriteInteger(kGeneral, "KeepLastRecords", value);
}
std::string Configuration::ReadFtpHost() const {
    return ReadText(kUpdates, "FtpHost", "localhost");
}
int Configuration::WriteFtpHost(std::string_view v) { return WriteText(kUpdates, "FtpHost", v); }

}  // namespace tavrel::agent
