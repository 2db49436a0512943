// The agent's configuration file: agent folder + "TavrelUPDATE.INI".
//
// Every setting of the agent is read and written through these primitives and
// the typed accessors over them. The file's path is built on every call from
// the run state, never cached. No read or write reports a failure to its
// caller: a missing file or key gives the default, and a failed write goes
// unnoticed (the result of the platform write is returned for tests only).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "agent/shell/run_state.h"

namespace tavrel::agent {

// The keys of the window settings, by the numbers the main window uses.
enum class WindowSetting : int {
    HideInTray = 1,       // [General] flag, default true
    HideOnMinimize = 2,   // [General] flag, default false
    ShowMenuButtons = 4,  // [General] flag, default true
    FormHeight = 5,       // [General] number (twips), default 0
    FormWidth = 6,        // [General] number (twips), default 0
    LastCheck = 16,       // [Updates] text, default empty
};

// A window setting's value: a flag, a number or a text, by key.
using SettingValue = std::variant<bool, float, std::string>;

class Configuration {
  public:
    // Reads and writes the file in `state.agentFolder`; `state.applicationFolder`
    // follows every read and write of MainPath. `state` must outlive this object.
    explicit Configuration(RunState& state) : m_state(state) {}

    // Agent folder + base name + ".INI".
    std::string FilePath() const;
    bool ConfigFileExists() const;

    // Text values: at most 143 characters are returned; a stored empty value
    // reads as empty, a missing key as `defaultValue`. Writing an empty text
    // removes the key.
    std::string ReadText(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
    int WriteText(std::string_view section, std::string_view key, std::string_view value);

    // Flags: TRUE, YES, 1 and FALSE, NO, 0 in any case; anything else gives the default.
    bool ReadFlag(std::string_view section, std::string_view key, bool defaultValue) const;
    int WriteFlag(std::string_view section, std::string_view key, bool value);

    // 16-bit integers: leading digits; values outside the 16-bit range read
    // as the nearest 16-bit value.
    int16_t ReadInteger(std::string_view section, std::string_view key, int16_t defaultValue) const;
    int WriteInteger(std::string_view section, std::string_view key, int value);

    // Single-precision numbers, stored as their shortest decimal text; text
    // that is not a number reads as 0.
    float ReadNumber(std::string_view section, std::string_view key) const;
    int WriteNumber(std::string_view section, std::string_view key, float value);

    SettingValue ReadWindowSetting(WindowSetting index) const;
    // Writes a value of the key's kind; a value of another kind is converted.
    int WriteWindowSetting(WindowSetting index, const SettingValue& value);

    bool ReadTraceFile() const;
    int WriteTraceFile(bool value);
    bool ReadUpdateFlag() const;
    int WriteUpdateFlag(bool value);
    // Reads MainPath into the application folder and returns it; a missing key
    // keeps the folder that the agent was already using.
    std::string ReadMainPath();
    // Sets the application folder, then writes MainPath.
    int WriteMainPath(std::string_view folder);
    std::string ReadUpdateStart() const;
    int WriteUpdateStart(std::string_view value);
    std::string ReadUpdateFinish() const;
    int WriteUpdateFinish(std::string_view value);
    std::string ReadUpdateLast() const;
    int WriteUpdateLast(std::string_view value);
    int16_t ReadKeepLastRecords() const;
    int WriteKeepLastRecords(int value);
    // The update server, "host" or "host:port".
    std::string ReadFtpHost() const;
    int WriteFtpHost(std::string_view value);

  private:
    RunState& m_state;
    // The folder a lost MainPath key falls back to.
    std::string m_rememberedMainPath;
};

// Parses a flag text as the configuration does; nullopt-like `defaultValue`
// for anything unrecognised.
bool ParseFlagText(std::string_view text, bool defaultValue);

}  // namespace tavrel::agent
