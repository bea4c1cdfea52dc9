#include "app/command_line.h"

#include <gtest/gtest.h>

using kav::CommandLine;
using Ask = CommandLine::Ask;
using Args = std::vector<std::string>;

namespace {

struct LineCase {
    const char* name;
    Args arguments; // after the program's name
    Ask ask;
    std::optional<std::string> startFile;
    std::optional<std::string> openFile;
    Args ignored;
};

class CommandLines : public testing::TestWithParam<LineCase> {};

TEST_P(CommandLines, TakeWhatALauncherPasses)
{
    const LineCase& c = GetParam();
    Args arguments{"kav"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CommandLine line = kav::ParseCommandLine(arguments);
    EXPECT_EQ(line.ask, c.ask);
    EXPECT_EQ(line.startFile, c.startFile);
    EXPECT_EQ(line.openFile, c.openFile);
    EXPECT_EQ(line.ignored, c.ignored);
}

const std::string kRaw = "\xff\xfe-punkty.txt";

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLines,
    testing::Values(LineCase{"Nothing", {}, Ask::Window, {}, {}, {}},
                    LineCase{"TwoFiles", {"a", "b"}, Ask::Window, "a", {}, {"b"}},
                    LineCase{"UnknownSwitches", {"-x", "a", "--print"}, Ask::Window, "a", {}, {"-x", "--print"}},
                    LineCase{"ADashIsAName", {"-"}, Ask::Window, "-", {}, {}},
                    LineCase{"NamesAfterTheEndOfOptions", {"--", "--help", "a"}, Ask::Window, "--help", {}, {"a"}},
                    LineCase{"NotUtf8", {kRaw}, Ask::Window, kRaw, {}, {}},
                    LineCase{"HelpWinsOverAll", {"a", "--version", "-?"}, Ask::Help, {}, {}, {}},
                    LineCase{"Version", {"-v", "a"}, Ask::Version, {}, {}, {}},
                    LineCase{"OpenTakesTheNextArgument", {"-o", "--help"}, Ask::Window, {}, "--help", {}},
                    LineCase{"OpenInOneArgument", {"--open=p"}, Ask::Window, {}, "p", {}},
                    LineCase{"OpenWithoutAFile", {"--open="}, Ask::Window, {}, {}, {}},
                    LineCase{"OpenAtTheEnd", {"a", "--open"}, Ask::Window, "a", {}, {}},
                    LineCase{"OpenPassesOverTheRest", {"a", "-o", "p", "--open", "q", "b"}, Ask::Window, {}, "p",
                             {"q", "a", "b"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
