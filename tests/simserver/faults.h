// Choosing the fault knob that applies to one request.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "fixture.h"

namespace simserver {

// The first fault of `fixture` for this program and procedure whose `match` the arguments
// satisfy and whose turn it is (after `skip` matching calls, at most `times` times); null when
// none. Counts the call for every fault that matches.
Fault *PickFault(Fixture &fixture, const std::string &prog, int proc, const nlohmann::json &args);

// True when every member of `match` equals the member of the same name in `args`.
bool Matches(const nlohmann::json &match, const nlohmann::json &args);

}  // namespace simserver
