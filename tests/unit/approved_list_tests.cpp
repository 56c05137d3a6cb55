#include <gtest/gtest.h>

#include <string>

#include "device/approved_list.h"

// Case is ignored, '*' takes any run (none too), '?' one character, and the
// whole ID must match.
TEST(ApprovedList, PatternsMatchWholeIdsWithWildcards)
{
    const char* id = "USB\\VID_0781&PID_5567\\4C530001";
    EXPECT_TRUE(MatchesPattern("USB\\VID_0781&PID_5567\\4C530001", id));
    EXPECT_TRUE(MatchesPattern("usb\\vid_0781&pid_5567\\4c530001", id));
    EXPECT_TRUE(MatchesPattern("USB\\VID_0781&PID_5567\\*", id));
    EXPECT_TRUE(MatchesPattern("USB\\VID_0781&*", id));
    EXPECT_TRUE(MatchesPattern("*", id));
    EXPECT_TRUE(MatchesPattern("USB\\VID_0781&PID_55??\\*0001", id));
    EXPECT_TRUE(MatchesPattern("*5567*0001", id)) << "a star that must give back";
    EXPECT_FALSE(MatchesPattern("USB\\VID_0781&PID_5567", id)) << "a prefix is not the ID";
    EXPECT_FALSE(MatchesPattern("USB\\VID_0781&PID_5567\\4C530001?", id));
    EXPECT_FALSE(MatchesPattern("USB\\VID_046D&*", id));
    EXPECT_FALSE(MatchesPattern("", id));
    EXPECT_TRUE(MatchesPattern("*", ""));

    // The list finds each kind of entry among others of every prefix.
    const char value[] = "USB\\VID_046D&*\0usb\\vid_0781&pid_5567\\4c530001\0*5567\\X*\0USB\\VID_0781&PID_55??\\Z*\0"
                         "USB\\VID_9999&PID_????\\*-end\0";
    static CApprovedList list;
    list.Load(value, sizeof value);
    EXPECT_TRUE(list.Approves(id)) << "exact, case ignored";
    EXPECT_TRUE(list.Approves("USB\\VID_046D&PID_C31C\\6&1&0&1")) << "a vendor's";
    EXPECT_TRUE(list.Approves("USB\\VID_1234&PID_5567\\XYZ")) << "a leading star";
    EXPECT_TRUE(list.Approves("USB\\VID_0781&PID_5599\\Z1"));
    EXPECT_FALSE(list.Approves("USB\\VID_0781&PID_5567\\4C530002"));
    EXPECT_FALSE(list.Approves("USB\\VID_046"));
    EXPECT_TRUE(list.Approves("USB\\VID_9999&PID_0001\\AB-END")) << "a literal end after the last star";
    EXPECT_FALSE(list.Approves("USB\\VID_9999&PID_0001\\AB-ENDS"));
}

// A REG_MULTI_SZ's entries: the first 1,000 valid ones count; one over 200
// characters or with a control character is left out, and each kind of
// problem is named; the list as event 114 shows it is cut at 2,000.
TEST(ApprovedList, KeepsValidEntriesWithinTheLimitsAndNamesWhatItLeftOut)
{
    std::string value;
    for (int i = 0; i < 1002; ++i) value += "USB\\VID_" + std::to_string(1000 + i) + "&*" + '\0';
    value += std::string(201, 'A') + '\0' + "BAD\tENTRY" + '\0' + std::string(200, 'B') + '\0' + '\0';
    value += "AFTER THE END";
    static CApprovedList list;
    list.Load(value.data(), value.size());
    EXPECT_EQ(APPROVED_ENTRIES_MAX, list.Count());
    EXPECT_TRUE(list.Approves("usb\\vid_1999&pid_0001\\x"));
    EXPECT_FALSE(list.Approves("USB\\VID_2000&PID_0001\\X")) << "beyond the 1,000th";
    char szProblems[APPROVED_PROBLEM_TEXT_SIZE];
    list.DescribeProblems(szProblems);
    EXPECT_STREQ("entries left out: 3 beyond the first 1000; 1 over 200 characters; 1 with a control character",
                 szProblems);
    char szText[APPROVED_LIST_TEXT_SIZE];
    list.Describe(szText);
    EXPECT_EQ(APPROVED_LIST_TEXT_MAX, std::string(szText).size());
    EXPECT_EQ("USB\\VID_1000&*; USB\\VID_1001&*", std::string(szText, 30));
    EXPECT_EQ("...", std::string(szText).substr(APPROVED_LIST_TEXT_MAX - 3));

    const char unterminated[] = {'U', 'S', 'B', '\\', '*'};
    list.Load(unterminated, sizeof unterminated);
    EXPECT_EQ(0u, list.Count()) << "an entry the value does not end is not read";
    list.DescribeProblems(szProblems);
    EXPECT_STREQ("", szProblems);
}
