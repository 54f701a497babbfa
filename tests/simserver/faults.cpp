// Fault knob selection.
#include "faults.h"

namespace simserver {

bool Matches(const nlohmann::json &match, const nlohmann::json &args)
{
    if (!match.is_object())
        return true;
    for (auto &[name, value] : match.items()) {
        if (!args.is_object() || !args.contains(name) || args[name] != value)
            return false;
    }
    return true;
}

Fault *PickFault(Fixture &fixture, const std::string &prog, int proc, const nlohmann::json &args)
{
    Fault *picked = nullptr;
    for (auto &f : fixture.faults) {
        if (f.prog != prog || f.proc != proc || !Matches(f.match, args))
            continue;
        ++f.seen;
        if (picked || f.seen <= f.skip || (f.times >= 0 && f.applied >= f.times))
            continue;
        ++f.applied;
        picked = &f;
    }
    return picked;
}

}  // namespace simserver
