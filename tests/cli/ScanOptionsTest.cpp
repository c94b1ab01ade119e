// tarrow-scan's command line, parsed without running the program: every answer comes
// back to the caller, and only main ends the process.
#include "ScanOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

std::variant<Options, UsageError> Parse(std::vector<std::string> arrArgs) {
    arrArgs.insert(arrArgs.begin(), "tarrow-scan");
    std::vector<char*> argv;
    for (std::string& str : arrArgs)
        argv.push_back(str.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(arrArgs.size()), argv.data());
}

} // namespace

TEST(ScanOptions, EveryAnswerAndEveryErrorReturnsToTheCaller) {
    const struct {
        std::vector<std::string> arrArgs;
        const char* pszError; // null: parsed
    } cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"-json"}, "unknown option '-json'"},
        {{"--folder", "/"}, "unknown option '--folder'"},
        {{"--files"}, "--files needs --json"},
        {{"--exclude", ""}, "--exclude needs a folder"},
        {{"--read-ahead=1000"}, "--read-ahead needs a number of threads from 0 to 999"},
        {{"--metrics", "/tmp/"}, "--metrics needs a file name: '/tmp/'"},
        {{"--backed-up", "-", "--backed-up", "-"}, "--backed-up can read standard input once"},
        {{"/proc/self/status"}, "/proc/self/status: not a folder"},
        // An answer is given at once, whatever comes after it.
        {{"--help", "/missing"}, nullptr},
        {{"--files", "-h"}, nullptr},
        {{"--version"}, nullptr},
    };
    for (const auto& c : cases) {
        const auto parsed = Parse(c.arrArgs);
        SCOPED_TRACE(c.arrArgs.front());
        if (c.pszError) {
            ASSERT_TRUE(std::holds_alternative<UsageError>(parsed));
            EXPECT_EQ(std::get<UsageError>(parsed).strReason, c.pszError);
        } else {
            ASSERT_TRUE(std::holds_alternative<Options>(parsed));
            EXPECT_NE(std::get<Options>(parsed).action, Options::Action::scan);
        }
    }

    const auto parsed = Parse({"--json", "--files", "--exclude", "/a//b/", "--read-ahead=0",
                               "--metrics", "m.prom", "/proc/.."});
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    const Options& o = std::get<Options>(parsed);
    EXPECT_EQ(o.action, Options::Action::scan);
    EXPECT_TRUE(o.bJson && o.bFiles && !o.bLists && !o.bDebug);
    EXPECT_EQ(o.arrExclude, std::vector<std::string>{"/a/b"});
    EXPECT_EQ(o.nReadAhead, 0);
    EXPECT_EQ(o.strMetricsFolder, ".");
    EXPECT_EQ(o.strMetricsName, "m.prom");
    EXPECT_EQ(o.arrFolders, std::vector<std::string>{"/"});
}
