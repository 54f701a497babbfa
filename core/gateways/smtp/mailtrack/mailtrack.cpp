// mailtrack: the CGI program that shows the delivery state of one message.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cgihtml/cgihtml.h"
#include "mailtrack/report.h"

int main()
{
    // A browser that goes away (stdout a closed pipe) or a server that drops the connection must
    // not end the program before it has given back its temporary file.
    signal(SIGPIPE, SIG_IGN);

    CgiRequest request = CgiProcessRequest();
    request.uploadDir = nullptr;  // nothing here reads uploads: keep the entries, store no file
    CgiEntry *entries = nullptr;
    int count = 0;
    CgiError error = CgiReadInputFrom(request, &entries, &count);
    if (error != CGI_OK) {
        fputs(CgiErrorMessage(error), stderr);
        CgiListClear(&entries);
        return 1;
    }
    AnswerRequest(entries);
    CgiListClear(&entries);
    return 0;
}
