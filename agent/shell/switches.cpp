#include "agent/shell/switches.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "platform/text_rules.h"

namespace tavrel::agent {
namespace {

std::string twoDigitHour(long long h) {
    std::string s = std::to_string(h);
    return (s.size() < 2 ? "0" + s : s) + ":00";
}

std::string timeOfDay(const platform::DateTime& at) {
    return platform::formatDateTime(at, platform::kTimeOfDayPattern);
}

struct Window {
    bool startSet = false;
    bool finishSet = false;
};

// An S or F switch: "h" for a whole hour, "+h" for hours from now.
void applyTimeSwitch(std::string_view rest, const platform::DateTime& now, int defaultMinutes,
                     std::string& target, bool& set) {
    if (!rest.empty() && rest.front() == '+') {
        long long hours = SwitchValue(rest.substr(1));
        if (hours < 0) return;
        target = timeOfDay(now.plusMinutes(hours == 0 ? defaultMinutes : hours * 60));
        set = true;
        return;
    }
    long long hour = SwitchValue(rest);
    if (hour < 1) return;
    target = twoDigitHour(hour);
    set = true;
}

}  // namespace

long long SwitchValue(std::string_view text) {
    std::string compact;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact += c;
    }
    // Only a sign, digits, one decimal point and an exponent are read.
    size_t i = 0;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) ++i;
    size_t digitsStart = i;
    while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]))) ++i;
    if (i < compact.size() && compact[i] == '.') {
        ++i;
        while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]))) ++i;
    }
    if (i == digitsStart || (i == digitsStart + 1 && compact[digitsStart] == '.')) return 0;
    if (i < compact.size() && (compact[i] == 'E' || compact[i] == 'e')) {
        size_t j = i + 1;
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-')) ++j;
        size_t expDigits = j;
        while (j < compact.size() && std::isdigit(static_cast<unsigned char>(compact[j]))) ++j;
        if (j > expDigits) i = j;
    }
    double value = std::strtod(compact.substr(0, i).c_str(), nullptr);
    // Hours far beyond a day make no sense; keep them inside a range that
    // cannot overflow the time arithmetic.
    if (!std::isfinite(value)) return 0;
    value = std::fmax(std::fmin(value, 1e9), -1e9);
    return static_cast<long long>(std::nearbyint(value));
}

void ParseSwitches(std::string_view commandLine, const platform::DateTime& now, RunState& state) {
    const std::string text = platform::upperText(commandLine);

    Window window;
    std::string restart;
    // Every piece between slashes counts, the one before the first slash too.
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = text.find('/', pos);
        std::string piece =
            text.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        pos = next == std::string::npos ? next : next + 1;
        if (piece.empty()) continue;
        const std::string_view rest = std::string_view(piece).substr(1);
        switch (piece.front()) {
            case 'N':
                state.nowMode = true;
                state.scheduleStart = timeOfDay(now);
                state.scheduleFinish = timeOfDay(now.plusMinutes(30));
                window.startSet = window.finishSet = true;
                break;
            case 'S':
                applyTimeSwitch(rest, now, 15, state.scheduleStart, window.startSet);
                restart += "/" + piece;
                break;
            case 'F':
                applyTimeSwitch(rest, now, 30, state.scheduleFinish, window.finishSet);
                restart += "/" + piece;
                break;
            case 'U':
                state.unloadAfterRun = true;
                restart += "/" + piece;
                break;
            default:
                break;
        }
    }
    if (window.startSet && window.finishSet) {
        state.scheduleMode = true;
        state.restartSwitches = " " + restart;
    } else {
        state.restartSwitches.clear();
    }
}

}  // namespace tavrel::agent
