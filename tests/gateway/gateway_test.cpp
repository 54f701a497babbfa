// Error texts, media and state names, and the job number of the report's r parameter.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ldap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mailtrack/exterror.h"
#include "mailtrack/exterror_testing.h"
#include "mailtrack/gwutils.h"
#include "mailtrack/report.h"

namespace {

std::string Text(ErrorCode code, size_t length = EXT_ERROR_TEXT_SIZE)
{
    char buffer[EXT_ERROR_TEXT_SIZE + 8];
    memset(buffer, 'x', sizeof buffer);
    ErrorCodeText(code, buffer, length);
    return buffer;
}

TEST(ErrorCodeText, FixedTexts)
{
    struct Case {
        ErrorCode code;
        const char *text;
    } cases[] = {
        {0, "OK."},
        {0x20000000u, "GW0: Failed"},
        {0x20000001u, "GW1: Timeout"},
        {0x20000005u, "GW5: To be implemented\n"},
        {0x20000006u, "GW6: FAXROOT not set\n"},
        {0x20000009u, "GW9: Invalid Address"},
        {0x2000000au, "GWa: Unknown Error"},
        {0x2000000cu, "GWc: Daemon POP3 Timeout"},
        {0x2000000du, "GWd: Unknown Error"},
        {0x50000000u, "CV0: Unknown Error"},
        {0x50000001u, "CV1: Failed"},
        {0x50000005u, "CV5: Message too long (smslen exceeded)"},
        {0x50000006u, "CV6: Unknown Error"},
        {0x40000019u, "CF19: $EC_25:"},
        {0x4000ffffu, "CFffff: $EC_65535:"},
        {0x60000001u, "Unknown Error 60000001. "},
        {0xf0000000u, "Unknown Error f0000000. "},
        {0x00000007u, "Unknown Error 7. "},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Text(cases[i].code), cases[i].text) << "case " << i;
}

TEST(ErrorCodeText, SystemAndDirectoryTexts)
{
    EXPECT_EQ(Text(0x10000000u | ENOENT), std::string("SY2: ") + strerror(ENOENT));
    EXPECT_EQ(Text(0x1000000du), std::string("SYd: ") + strerror(13));
    EXPECT_EQ(Text(0x30000000u | LDAP_NO_SUCH_OBJECT),
              std::string("LD20: ") + ldap_err2string(LDAP_NO_SUCH_OBJECT));
}

// The LD texts come from the LDAP library loaded at the first LD text: they must be the linked
// library's own, for known codes, negative client codes and codes the library does not know.
TEST(ErrorCodeText, DirectoryTextsAreTheLibrarysOwn)
{
    const int codes[] = {LDAP_SUCCESS,
                         LDAP_NO_SUCH_OBJECT,
                         LDAP_INVALID_CREDENTIALS,
                         LDAP_SERVER_DOWN,
                         LDAP_TIMEOUT,
                         LDAP_OTHER,
                         LDAP_BUSY,
                         12345,
                         -1000,
                         0x0FFFFFFF};
    for (size_t i = 0; i < std::size(codes); ++i) {
        const int code = codes[i];
        EXPECT_STREQ(LdapResultText(code), ldap_err2string(code)) << "case " << i << ": code " << code;
        // The code's 28 bits are what ErrorCodeText hands on: a negative code arrives masked.
        const ErrorCode ld = 0x30000000u | (static_cast<uint32_t>(code) & 0x0FFFFFFFu);
        const int passed = static_cast<int>(ld & 0x0FFFFFFFu);
        char prefix[32];
        snprintf(prefix, sizeof prefix, "LD%x: ", static_cast<unsigned>(passed));
        EXPECT_EQ(Text(ld), std::string(prefix) + ldap_err2string(passed))
            << "case " << i << ": code " << code;
    }
    // The run-time name names the library this test program is linked with.
    void *linked = dlopen(LdapLibraryName(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(linked, nullptr) << LdapLibraryName() << " is not the linked LDAP library";
    if (linked != nullptr)
        dlclose(linked);
}

// Threads asking for their first LD text at once all get the library's text.
TEST(ErrorCodeText, DirectoryTextsFromManyThreads)
{
    std::vector<std::string> texts(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < texts.size(); ++t)
        threads.emplace_back([&texts, t] { texts[t] = Text(0x30000000u | LDAP_INVALID_CREDENTIALS); });
    for (std::thread &t : threads)
        t.join();
    for (size_t t = 0; t < texts.size(); ++t)
        EXPECT_EQ(texts[t], std::string("LD31: ") + ldap_err2string(LDAP_INVALID_CREDENTIALS))
            << "thread " << t;
}

TEST(ErrorCodeText, CutToTheBuffer)
{
    EXPECT_EQ(Text(0x20000000u, 8), "GW0: Fa") << "length 8 gives seven characters";
    EXPECT_EQ(Text(0x20000000u, 1), "");
    EXPECT_EQ(Text(0, 3), "OK");
    char untouched[4] = "abc";
    ErrorCodeText(0, untouched, 0);
    EXPECT_STREQ(untouched, "abc");
}

TEST(ExtErrorText, HoldsTheText)
{
    ExtErrorText failed(0x20000000u);
    EXPECT_STREQ(failed.Text(), "GW0: Failed");
    ExtErrorText cf(0x40000019u);
    EXPECT_STREQ(cf.Text(), "CF19: $EC_25:") << "no client registered: the key";
}

TEST(ErrorCodeText, RegisteredButEmptyClientShowsKey)
{
    CLIENT *none = nullptr;
    SetErrorTextClient(&none);
    EXPECT_EQ(Text(0x40000019u), "CF19: $EC_25:");
    SetErrorTextClient(nullptr);
}

TEST(MediaNames, FlagsNamesAndCodes)
{
    struct FlagCase {
        uint32_t flags;
        MediaType media;
    } flags[] = {{0, MEDIA_FAX},          {0x400 | 0x100, MEDIA_SMS}, {0x200 | 0x80, MEDIA_VIDEO},
                 {0x100, MEDIA_VOICE},    {0x80, MEDIA_TELEX},        {0x7f, MEDIA_FAX},
                 {0xfffff800, MEDIA_FAX}, {0xffffffff, MEDIA_SMS}};
    for (size_t i = 0; i < std::size(flags); ++i)
        EXPECT_EQ(MediaFromFlags(flags[i].flags), flags[i].media) << "flag case " << i;

    struct NameCase {
        int media;
        const char *name;
    } names[] = {{0, "fax"},   {1, "fax"}, {2, "telex"}, {3, "fax"}, {4, "voice"},
                 {5, "video"}, {6, "sms"}, {7, "fax"},   {-1, "fax"}};
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_STREQ(MediaName(names[i].media), names[i].name) << "name case " << i;

    struct CodeCase {
        const char *name;
        MediaType media;
    } codes[] = {{"VOICE", MEDIA_VOICE}, {"Sms", MEDIA_SMS}, {"telex", MEDIA_TELEX}, {"video", MEDIA_VIDEO},
                 {"fax", MEDIA_FAX},     {"", MEDIA_FAX},    {"voices", MEDIA_FAX},  {nullptr, MEDIA_FAX}};
    for (size_t i = 0; i < std::size(codes); ++i)
        EXPECT_EQ(MediaCode(codes[i].name), codes[i].media) << "code case " << i;
}

TEST(TxStateNames, AllRanges)
{
    struct Case {
        int state;
        const char *name;
    } cases[] = {{0, "idle"},          {1, "busy line"}, {3, "too many retries"},   {5, "done"},
                 {10, "device error"}, {11, "unknown"},  {12, "in process by lcr"}, {17, "in process by lcr"},
                 {18, "unknown"},      {-1, "unknown"},  {65536 + 5, "done"},  // taken as 16 bits
                 {32768, "unknown"}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_STREQ(TxStateName(cases[i].state), cases[i].name) << "case " << i;
}

TEST(JobNumber, ReadLikeAtol)
{
    struct Case {
        const char *text;
        int32_t job;
    } cases[] = {{"42", 42},
                 {"  +42abc", 42},
                 {"xyz", 0},
                 {"-5", -5},
                 {"", 0},
                 {"\t\n 7", 7},
                 {"+-3", 0},
                 {"2147483647", 2147483647},
                 {"2147483648", 2147483647},
                 {"99999999999999999999", 2147483647},
                 {"-2147483648", -2147483647 - 1},
                 {"-99999999999", -2147483647 - 1},
                 {"007", 7}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ParseJobNumber(cases[i].text), cases[i].job) << "case " << i << ": " << cases[i].text;
}

}  // namespace
