// The texts of the report program's pages, as the tests expect them byte for byte.
#pragma once

#include <string>
#include <vector>

namespace pages {

inline const std::string H = "Content-type: text/html; charset=ISO-8859-15\r\n\r\n";
inline const std::string B0 = "<html> <head>\n<title></title>\n</head>\n\n<body>\n";
inline const std::string RH =
    "<head><meta http-equiv=\"refresh\" content=10><title>Durorov Uzoroduru Vorerad Report</title>"
    "</head><body>";
inline const std::string END = "</body> </html>\n";

// The error block.
inline std::string E(const std::string &message)
{
    return "<hr><h2 align=center>Error</h2><p align=center><b>" + message + "</b></p><hr>";
}

// A page of main's own: header, empty page start, error block, page end.
inline std::string MainError(const std::string &message)
{
    return H + B0 + E(message) + END;
}

// A report that ended in an error block (after the table, when there is one).
inline std::string ReportError(const std::string &message, const std::string &table = "")
{
    return H + RH + table + E(message) + "</p>" + END;
}

inline std::string FinalState()
{
    return H + RH +
           "<p align=center><b>The message you are requesting has reached its final state.<br>"
           "If you have requested a report it has been sent to you.<br>"
           "Please do not use this reference any longer.<br></b></p>" +
           END;
}

struct Row {
    std::string from, to, subject, date, status, lastAttempt, retries;
};

inline std::string Table(const Row &r)
{
    return "<table border=0 cols=2>"
           "<tr><td><b>From:</b></td><td>" +
           r.from +
           "</td></tr>"
           "<tr><td><b>To:</b></td><td>" +
           r.to +
           "</td></tr>"
           "<tr><td><b>Subject:</b></td><td>" +
           r.subject +
           "</td></tr>"
           "<tr><td><b>Date:</b></td><td>" +
           r.date +
           "</td></tr>"
           "<tr><td><b>Status:</b></td><td>" +
           r.status +
           "</td></tr>"
           "<tr><td><b>Last Attempt:</b></td><td>" +
           r.lastAttempt +
           "</td></tr>"
           "<tr><td><b>Retries:</b></td><td>" +
           r.retries +
           "</td></tr>"
           "</table>";
}

// The standard record of fixtures/report.json, as the page shows it under TZ=UTC.
inline Row StandardRow()
{
    return {"alice@example.com",
            "bob@example.com/voice",
            "Quarterly figures",
            "Sun Sep  9 01:46:40 2001\n",
            "transmission (line busy)",
            "Sun Sep  9 01:56:40 2001\n",
            "3"};
}

inline std::string FullPage(const Row &row, const std::vector<std::string> &lines)
{
    std::string page = H + RH + Table(row) + "<hr><h4>Transmission Log:</h4>";
    for (const std::string &line : lines)
        page += line + "<br>";
    return page + "</p></p>" + END;
}

// "line 1" ... "line n", the generated log of the fixture.
inline std::vector<std::string> Lines(int n)
{
    std::vector<std::string> lines;
    for (int i = 1; i <= n; ++i)
        lines.push_back("line " + std::to_string(i));
    return lines;
}

// What a web server passes on of a page: everything behind the CGI header.
inline std::string Body(const std::string &page)
{
    return page.compare(0, H.size(), H) == 0 ? page.substr(H.size()) : page;
}

}  // namespace pages
