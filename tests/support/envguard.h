// Sets or removes environment variables for one scope and puts the old values back when it
// ends, the last change first (a variable changed twice ends with the value it had before both).
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class EnvGuard {
public:
    EnvGuard() = default;
    // One variable; a value of nullptr removes it.
    EnvGuard(const std::string &name, const char *value) { Set(name, value); }
    // Several, in order: EnvGuard env{{"NAME", "value"}, {"GONE", nullptr}}.
    EnvGuard(std::initializer_list<std::pair<const char *, const char *>> values)
    {
        for (const auto &[name, value] : values)
            Set(name, value);
    }
    ~EnvGuard()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

    // A value of nullptr removes the variable.
    void Set(const std::string &name, const char *value)
    {
        const char *old = getenv(name.c_str());
        saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        if (value != nullptr)
            setenv(name.c_str(), value, 1);
        else
            unsetenv(name.c_str());
    }
    void Set(const std::string &name, const std::string &value) { Set(name, value.c_str()); }
    void Unset(const std::string &name) { Set(name, nullptr); }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace testsupport
