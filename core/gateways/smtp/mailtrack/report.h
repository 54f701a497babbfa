// The delivery report of one message: the page that the CGI program mailtrack writes.
#pragma once

#include "cgihtml/cgihtml.h"

// Writes the complete report page (HTTP header included) for the parameters p=0, a (alpha
// host), u (user), r (job number) and n (recipient) in `entries`. Every resource taken on the
// way (temporary file, RPC runtime, client, decoded record, open log) is given back before the
// page ends, on every path. The report ends within 50 s of its start: no alpha call or connect
// waits beyond that (tela::SetCallDeadline), and a call that fails for it gives the error block
// of any failed call or export.
void ReportPage(const CgiEntry *entries);

// The error block: "<hr><h2 align=center>Error</h2><p align=center><b>", the formatted message,
// "</b></p><hr>". No header, page start or page end. Arguments that come from outside the
// program must be escaped by the caller (HtmlEscape).
void ErrorPage(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The request's page for the CGI entries: the report for p=0, else the short error pages
// "Illegal calling mode" (no p) or "Unknown program %s".
void AnswerRequest(const CgiEntry *entries);

// The job number of the r parameter: leading white space, an optional sign, then the digits up
// to the first other character; no digits give 0; values beyond 32 bits saturate.
int32_t ParseJobNumber(const char *text);

// The program: reads the CGI request (stdin and the environment) and writes its page. Returns
// the exit code: 1 when the request cannot be read (its message on the standard error), else 0.
int MailtrackMain();
