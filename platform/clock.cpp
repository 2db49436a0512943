#include "platform/clock.h"

#include <cctype>
#include <ctime>

namespace tavrel::platform {
namespace {

constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

std::string twoDigits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

// Length of the run of `c` (case-insensitive) starting at `i`.
size_t runLength(std::string_view p, size_t i, char c) {
    size_t n = 0;
    while (i + n < p.size() && std::tolower(static_cast<unsigned char>(p[i + n])) == c) ++n;
    return n;
}

}  // namespace

long long DateTime::secondsSinceEpoch() const {
    return daysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second;
}

DateTime DateTime::fromSecondsSinceEpoch(long long seconds) {
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    DateTime t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = int(rest / 3600);
    t.minute = int(rest % 3600 / 60);
    t.second = int(rest % 60);
    return t;
}

int DateTime::weekday() const {
    long long days = daysFromCivil(year, month, day);
    long long w = (days + 4) % 7;  // 1970-01-01 was a Thursday
    return int(w < 0 ? w + 7 : w);
}

DateTime DateTime::plusSeconds(long long seconds) const {
    return fromSecondsSinceEpoch(secondsSinceEpoch() + seconds);
}

DateTime DateTime::plusMinutes(long long minutes) const { return plusSeconds(minutes * 60); }

DateTime SystemClock::now() const {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string formatDateTime(const DateTime& at, std::string_view pattern) {
    std::string out;
    bool afterHour = false;
    for (size_t i = 0; i < pattern.size();) {
        const char c = char(std::tolower(static_cast<unsigned char>(pattern[i])));
        size_t n = 1;
        switch (c) {
            case 'y':
                n = runLength(pattern, i, 'y');
                out += n >= 4 ? std::to_string(at.year) : twoDigits(at.year % 100);
                n = n >= 4 ? 4 : n;
                afterHour = false;
                break;
            case 'm':
                n = std::min<size_t>(runLength(pattern, i, 'm'), 4);
                if (afterHour && n <= 2) {
                    out += n == 2 ? twoDigits(at.minute) : std::to_string(at.minute);
                } else if (n == 4) {
                    out += kMonthNames[(at.month + 11) % 12];
                } else if (n == 3) {
                    out += std::string_view(kMonthNames[(at.month + 11) % 12]).substr(0, 3);
                } else {
                    out += n == 2 ? twoDigits(at.month) : std::to_string(at.month);
                }
                afterHour = false;
                break;
            case 'd':
                n = std::min<size_t>(runLength(pattern, i, 'd'), 4);
                if (n == 4) {
                    out += kDayNames[at.weekday()];
                } else if (n == 3) {
                    out += std::string_view(kDayNames[at.weekday()]).substr(0, 3);
                } else {
                    out += n == 2 ? twoDigits(at.day) : std::to_string(at.day);
                }
                afterHour = false;
                break;
            case 'h':
                n = std::min<size_t>(runLength(pattern, i, 'h'), 2);
                out += n == 2 ? twoDigits(at.hour) : std::to_string(at.hour);
                afterHour = true;
                break;
            case 'n':
                n = std::min<size_t>(runLength(pattern, i, 'n'), 2);
                out += n == 2 ? twoDigits(at.minute) : std::to_string(at.minute);
                afterHour = false;
                break;
            case 's':
                n = std::min<size_t>(runLength(pattern, i, 's'), 2);
                out += n == 2 ? twoDigits(at.second) : std::to_string(at.second);
                afterHour = false;
                break;
            default:
                out += pattern[i];
                // A separator between the hour and "mm" keeps "mm" meaning minutes.
                break;
        }
        i += n;
    }
    return out;
}

}  // namespace tavrel::platform
