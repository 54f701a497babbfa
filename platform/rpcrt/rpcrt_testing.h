// For tests only: a shorter bound on the whole of every call, so that tests of hostile servers
// need not wait the full 25 seconds.
#pragma once

namespace tela::rpcrt_testing {

// From now on no call on a TCP handle waits longer than ms milliseconds in all (0: no cap, the
// handle's own total applies).
void SetCallBoundMs(int ms);

}  // namespace tela::rpcrt_testing
