#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

std::vector<std::string> Split(std::string text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    std::vector<std::string> tokens;
    char* cursor = buffer.data();
    while (char* token = NextToken(&cursor)) tokens.push_back(token);
    EXPECT_EQ(text.empty() ? '\0' : text[0], buffer[0]) << "the first character is never overwritten";
    return tokens;
}

using Tokens = std::vector<std::string>;

}  // namespace

TEST(NextToken, SplitsAtRunsOfHyphensAndSlashes)
{
    EXPECT_EQ(Tokens({"debug"}), Split("-debug"));
    EXPECT_EQ(Tokens({"debug"}), Split("/debug"));
    EXPECT_EQ(Tokens({"debug"}), Split("debug"));
    EXPECT_EQ(Tokens({"debug", "install"}), Split("/debug/install"));
    EXPECT_EQ(Tokens({"a", "b"}), Split("--/a/-/b//"));
}

TEST(NextToken, KeepsSpacesInsideTokens)
{
    EXPECT_EQ(Tokens({"debug ", "install"}), Split("-debug -install"));
    EXPECT_EQ(Tokens({"install ", "debug"}), Split("-install -debug"));
    EXPECT_EQ(Tokens({" x y "}), Split(" x y "));
}

TEST(NextToken, FindsNoTokenInDelimitersAlone)
{
    EXPECT_EQ(Tokens(), Split(""));
    EXPECT_EQ(Tokens(), Split("-"));
    EXPECT_EQ(Tokens(), Split("/"));
    EXPECT_EQ(Tokens(), Split("-/-//"));
}

TEST(ParseOption, MatchesWholeLowerCaseWordsOnly)
{
    EXPECT_EQ(Option::Install, ParseOption("install"));
    EXPECT_EQ(Option::SilentInstall, ParseOption("silentinstall"));
    EXPECT_EQ(Option::Uninstall, ParseOption("uninstall"));
    EXPECT_EQ(Option::SilentUninstall, ParseOption("silentuninstall"));
    EXPECT_EQ(Option::Debug, ParseOption("debug"));
    EXPECT_EQ(Option::Usage, ParseOption("?"));

    EXPECT_EQ(Option::None, ParseOption("debug "));
    EXPECT_EQ(Option::None, ParseOption("Install"));
    EXPECT_EQ(Option::None, ParseOption("instal"));
    EXPECT_EQ(Option::None, ParseOption("foo"));
    EXPECT_EQ(Option::None, ParseOption(""));
}
