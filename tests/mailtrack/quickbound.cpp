// mailtrack with a shorter bound on the whole report (REPORT_BOUND_MS), so that tests of servers
// that never finish need not wait the program's full bound.
#include "mailtrack/report.h"
#include "mailtrack/report_testing.h"

int main()
{
    mailtrack_testing::SetReportBoundMs(REPORT_BOUND_MS);
    return MailtrackMain();
}
