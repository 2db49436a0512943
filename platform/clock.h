// Wall-clock time as the system sees it: local date and time to the second.
//
// Every "current time" of the product comes from a `Clock` passed in, so the
// schedule and retry rules can be tested at exact minutes with `FixedClock`.
#pragma once

#include <compare>
#include <string>
#include <string_view>

namespace tavrel::platform {

// A local calendar date and time of day. Months 1-12, days 1-31, hours 0-23.
struct DateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    // Day of the week, 0 = Sunday ... 6 = Saturday.
    int weekday() const;
    // This moment moved by `minutes` (may be negative), across days, months and years.
    DateTime plusMinutes(long long minutes) const;
    DateTime plusSeconds(long long seconds) const;
    // Seconds since 1970-01-01 00:00:00 of the same (zone-less) calendar.
    long long secondsSinceEpoch() const;
    static DateTime fromSecondsSinceEpoch(long long seconds);

    auto operator<=>(const DateTime&) const = default;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // The current local date and time.
    virtual DateTime now() const = 0;
};

// The machine's local time.
class SystemClock final : public Clock {
  public:
    DateTime now() const override;
};

// A clock that shows what it is told; tests move it by hand.
class FixedClock final : public Clock {
  public:
    explicit FixedClock(DateTime at) : m_now(at) {}
    DateTime now() const override { return m_now; }
    void set(DateTime at) { m_now = at; }
    void advanceMinutes(long long minutes) { m_now = m_now.plusMinutes(minutes); }
    void advanceSeconds(long long seconds) { m_now = m_now.plusSeconds(seconds); }

  private:
    DateTime m_now;
};

// Formats a date and time with a Visual Basic style pattern, always with English
// day and month names whatever the machine's locale. Tokens, matched without
// regard to case: yyyy, yy, mmmm, mmm, mm, m, dddd, ddd, dd, d, hh, h, nn, n,
// ss, s; "mm"/"m" directly after an hour token means minutes. Every other
// character is copied as it stands.
std::string formatDateTime(const DateTime& at, std::string_view pattern);

// The patterns the system uses.
inline constexpr std::string_view kDayPattern = "YYYYMMDD";
inline constexpr std::string_view kTimeOfDayPattern = "Hh:Nn";
inline constexpr std::string_view kDisplayPattern = "dd mmm yyyy Hh:Nn:Ss";
inline constexpr std::string_view kCompactPattern = "yyyymmddHhNnSs";
inline constexpr std::string_view kOperationLogPattern = "ddd dd mmm yyyy Hh:Nn:Ss ";
inline constexpr std::string_view kNowTextPattern = "ddd dd mmm yyyy - Hh:Nn:Ss";

}  // namespace tavrel::platform
