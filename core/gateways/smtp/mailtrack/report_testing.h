// For tests only: a shorter bound on the whole report, so that tests of servers that never
// finish need not wait the full 50 seconds.
#pragma once

namespace mailtrack_testing {

// Reports started from now on end within ms milliseconds (only shorter than 50 s; anything
// else restores 50 s).
void SetReportBoundMs(int ms);

}  // namespace mailtrack_testing
