// Names of the greeting and goodbye page properties: the letter and the extension for IMAP
// users, else the fixed name, each kind in a buffer of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "apicln/tela.h"

namespace {

LineIDInfo Line(int imapUser, const char *lineId)
{
    LineIDInfo info;
    std::memset(&info, 0, sizeof info);
    info.imapUser = imapUser;
    std::snprintf(info.lineId, sizeof info.lineId, "%s", lineId);
    return info;
}

TEST(PagePropNames, FixedNamesOrLetterAndExtension)
{
    struct Case {
        int imapUser;
        const char *lineId;
        const char *greeting, *videoGreeting, *goodbye, *videoGoodbye;
    } cases[] = {
        {0, "4711", "GREETING", "VGREETING", "GOODBYE", "VGOODBYE"},
        {1, "4711", "a4711", "A4711", "b4711", "B4711"},
        {1, "", "a", "A", "b", "B"},
        // The extension is cut to 19 characters: the name fits a 20-character key.
        {1, "1234567890123456789012345", "a1234567890123456789", "A1234567890123456789",
         "b1234567890123456789", "B1234567890123456789"},
    };
    for (const Case &c : cases) {
        LineIDInfo info = Line(c.imapUser, c.lineId);
        EXPECT_STREQ(GetGreetingPropName(&info, 0), c.greeting) << c.lineId;
        EXPECT_STREQ(GetGreetingPropName(&info, 1), c.videoGreeting) << c.lineId;
        EXPECT_STREQ(GetGoodbyePropName(&info, 0), c.goodbye) << c.lineId;
        EXPECT_STREQ(GetGoodbyePropName(&info, 1), c.videoGoodbye) << c.lineId;
    }
}

TEST(PagePropNames, EachKindKeepsItsOwnBuffer)
{
    LineIDInfo info = Line(1, "200");
    const char *names[] = {GetGreetingPropName(&info, 0), GetGreetingPropName(&info, 1),
                           GetGoodbyePropName(&info, 0), GetGoodbyePropName(&info, 1)};
    EXPECT_STREQ(names[0], "a200");
    EXPECT_STREQ(names[1], "A200");
    EXPECT_STREQ(names[2], "b200");
    EXPECT_STREQ(names[3], "B200");
}

}  // namespace
