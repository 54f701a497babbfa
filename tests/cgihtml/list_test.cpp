// CgiLookups, list operations and the string helpers.
#include "cgitest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using cgitest::List;
using cgitest::Pairs;

namespace {

std::vector<std::string> Texts(const char **array)
{
    std::vector<std::string> out;
    for (const char **p = array; p != nullptr && *p != nullptr; ++p)
        out.emplace_back(*p);
    std::free(array);
    return out;
}

class CgiLookups : public ::testing::Test {
protected:
    void SetUp() override { CgiParseForm(&list.head, "a=1&b=&a=2&c=1&d=x"); }
    List list;
};

TEST_F(CgiLookups, ValueAndValues)
{
    EXPECT_STREQ(CgiValue(list.head, "a"), "1");
    EXPECT_STREQ(CgiValue(list.head, "b"), "");
    EXPECT_EQ(CgiValue(list.head, "A"), nullptr);
    EXPECT_EQ(CgiValue(list.head, "zz"), nullptr);
    EXPECT_EQ(CgiValue(nullptr, "a"), nullptr);
    EXPECT_EQ(Texts(CgiValues(list.head, "a")), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(CgiValues(list.head, "zz"), nullptr);

    // The array holds the entries' own texts.
    const char **values = CgiValues(list.head, "d");
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values[0], list.head->next->next->next->next->value);
    EXPECT_EQ(values[1], nullptr);
    std::free(values);
}

TEST_F(CgiLookups, NameOfAndNamesOf)
{
    EXPECT_STREQ(CgiNameOf(list.head, "1"), "a");
    EXPECT_STREQ(CgiNameOf(list.head, ""), "b");
    EXPECT_EQ(CgiNameOf(list.head, "X"), nullptr);
    EXPECT_EQ(Texts(CgiNamesOf(list.head, "1")), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(CgiNamesOf(list.head, "nothing"), nullptr);
}

TEST_F(CgiLookups, FieldChecks)
{
    EXPECT_TRUE(CgiFieldExists(list.head, "b"));
    EXPECT_FALSE(CgiFieldExists(list.head, "e"));
    EXPECT_TRUE(CgiFieldEmpty(list.head, "b"));
    EXPECT_TRUE(CgiFieldEmpty(list.head, "e"));
    EXPECT_FALSE(CgiFieldEmpty(list.head, "a"));
    EXPECT_FALSE(CgiFormEmpty(list.head));
}

TEST(CgiFormEmpty, EmptyListAndEmptyValues)
{
    EXPECT_TRUE(CgiFormEmpty(nullptr));
    List list;
    CgiParseForm(&list.head, "a=&b=");
    EXPECT_TRUE(CgiFormEmpty(list.head));
}

TEST(CgiList, InsertAfterKeepsOrderAndCopiesTexts)
{
    List list;
    CgiListInit(&list.head);
    std::string name = "first";
    CgiEntry *first = CgiListInsertAfter(&list.head, nullptr, name.c_str(), "1");
    name = "changed";
    EXPECT_STREQ(first->name, "first");
    CgiEntry *third = CgiListInsertAfter(&list.head, first, "third", "3");
    CgiListInsertAfter(&list.head, first, "second", "2");
    CgiListInsertAfter(&list.head, third, "fourth", "4");
    EXPECT_EQ(list.pairs(), (Pairs{{"first", "1"}, {"second", "2"}, {"third", "3"}, {"fourth", "4"}}));

    EXPECT_TRUE(CgiListContains(list.head, third));
    EXPECT_FALSE(CgiListContains(list.head, nullptr));
    CgiEntry stranger{nullptr, nullptr, nullptr};
    EXPECT_FALSE(CgiListContains(list.head, &stranger));
    EXPECT_TRUE(CgiListNodeOk(list.head, third));
    EXPECT_FALSE(CgiListNodeOk(list.head, nullptr));
    EXPECT_EQ(CgiListNext(first)->next, third);
}

TEST(CgiList, ForEachVisitsInOrder)
{
    List list;
    CgiParseForm(&list.head, "x=1&y=2&z=3");
    static std::string seen;
    seen.clear();
    CgiListForEach(list.head, [](const char *name, const char *value) {
        seen += std::string(name) + ":" + value + ";";
    });
    EXPECT_EQ(seen, "x:1;y:2;z:3;");
}

TEST(CgiList, ClearEmptiesTheList)
{
    List list;
    CgiParseForm(&list.head, "x=1&y=2&z=3");
    CgiListClear(&list.head);
    EXPECT_EQ(list.head, nullptr);
    CgiListClear(&list.head);  // clearing an empty list is harmless
    EXPECT_EQ(list.head, nullptr);
}

TEST(CgiListDeathTest, InsertWithNullNodeIntoNonEmptyListExits)
{
    EXPECT_EXIT(
        {
            CgiEntry *head = nullptr;
            CgiListInsertAfter(&head, nullptr, "a", "1");
            CgiListInsertAfter(&head, nullptr, "b", "2");
        },
        ::testing::ExitedWithCode(1), "");
}

TEST(CgiSubstr, Cases)
{
    struct Case {
        const char *text;
        int start;
        int count;
        const char *expected;  // null: no result
    } cases[] = {
        {"hello", 0, 2, "he"},  {"hello", 1, 3, "ell"},    {"hello", 1, 10, "ello"},  // clamped to the end
        {"hello", 5, 1, ""},    {"hello", 6, 1, nullptr},  {"hello", 0, 0, ""},      {"hello", 2, -3, ""},
        {"hello", -1, 2, "lo"},  // length - 1 + start = 3
        {"hello", -4, 1, "h"},  {"hello", -5, 1, nullptr}, {"", 0, 5, ""},           {nullptr, 0, 1, nullptr},
    };
    for (const Case &c : cases) {
        char *out = CgiSubstr(c.text, c.start, c.count);
        if (c.expected == nullptr)
            EXPECT_EQ(out, nullptr) << c.start << "," << c.count;
        else
            EXPECT_STREQ(out, c.expected) << (c.text ? c.text : "") << " " << c.start << "," << c.count;
        std::free(out);
    }
}

TEST(CgiEscapeShell, Cases)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"abcXYZ019", "abcXYZ019"},
        {"a b", "a\\ b"},
        {"$(rm -rf)", "\\$\\(rm\\ \\-rf\\)"},
        {"\\", "\\\\"},
        {"\xE9", "\\\xE9"},
        {";;;;", "\\;\\;\\;\\;"},  // the largest growth: twice the length
    };
    for (const Case &c : cases) {
        char *out = CgiEscapeShell(c.in);
        EXPECT_STREQ(out, c.out) << c.in;
        std::free(out);
    }
    EXPECT_EQ(CgiEscapeShell(nullptr), nullptr);
}

TEST(CgiStrDup, CopiesText)
{
    const char *text = "copy me";
    char *copy = CgiStrDup(text);
    EXPECT_STREQ(copy, text);
    EXPECT_NE(copy, text);
    std::free(copy);
    EXPECT_EQ(CgiStrDup(nullptr), nullptr);
}

}  // namespace
