// mailtrack: the CGI program that shows the delivery state of one message.
#include "mailtrack/report.h"

int main()
{
    return MailtrackMain();
}
