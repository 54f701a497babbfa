// Pins the local time zone of the process for one test and restores the one before.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class TimeZoneGuard {
public:
    explicit TimeZoneGuard(const char *zone)
    {
        if (const char *old = getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneGuard()
    {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZoneGuard(const TimeZoneGuard &) = delete;
    TimeZoneGuard &operator=(const TimeZoneGuard &) = delete;

private:
    std::optional<std::string> old_;
};
