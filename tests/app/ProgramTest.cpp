#include "CommandLineInfo.h"
#include "LogTestSupport.h"
#include "PlatformVersion.h"
#include "ScanFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool DebugFor(std::vector<const char*> arrArgs) {
    arrArgs.insert(arrArgs.begin(), "tarrow");
    CScannerCommandLineInfo cmdInfo;
    ParseCommandLine(static_cast<int>(arrArgs.size()), arrArgs.data(), cmdInfo);
    return cmdInfo.m_bDebug;
}

TEST(CommandLine, OnlyDebugWithOnePrefixInAnyCaseSwitchesTheLogOn) {
    const struct {
        std::vector<const char*> arrArgs;
        bool bDebug;
    } arrCases[] = {
        {{"/debug"}, true},
        {{"-debug"}, true},
        {{"/Debug"}, true},
        {{"-DEBUG"}, true},
        {{"/dEbUg"}, true},
        {{"debug"}, false},
        {{"--debug"}, false},
        {{"/debugx"}, false},
        {{"/debu"}, false},
        {{"//debug"}, false},
        {{"/ debug"}, false},
        {{"/deb\xC4\xB1g"}, false}, // a dotless i is not an i
        {{}, false},
        {{""}, false},
        {{"/"}, false},
        {{"-x", "/tmp", "/debug", "--json"}, true}, // anywhere, among anything
        {{"/debug", "whatever"}, true},
    };
    for (const auto& c : arrCases) {
        std::string strArgs;
        for (const char* psz : c.arrArgs)
            strArgs += std::string(" '") + psz + "'";
        EXPECT_EQ(DebugFor(c.arrArgs), c.bDebug) << strArgs;
    }
}

TEST(PlatformGate, KernelsFromThreeOnPassOlderOnesAreWarnedAbout) {
    const struct {
        const char* pszRelease;
        bool bParsed;
        std::uint32_t nMajor, nMinor;
        bool bSupported;
    } arrCases[] = {
        {"6.1.0-18-amd64", true, 6, 1, true},
        {"3.0", true, 3, 0, true},
        {"3.2.0", true, 3, 2, true},
        {"4.19.0-0.bpo.1-cloud-amd64", true, 4, 19, true},
        {"10.0", true, 10, 0, true},
        {"2.6.39", true, 2, 6, false},
        {"2.6.32-754.el6.x86_64", true, 2, 6, false},
        {"2.4", true, 2, 4, false},
        {"0.0", true, 0, 0, false},
        {"4294967295.4294967295", true, 4294967295u, 4294967295u, true},
        // Not a release: the record keeps its zeros, so the gate warns.
        {"", false, 0, 0, false},
        {"6", false, 0, 0, false},
        {"6.", false, 0, 0, false},
        {".1", false, 0, 0, false},
        {"v6.1", false, 0, 0, false},
        {"4294967296.1", false, 0, 0, false},
    };
    for (const auto& c : arrCases) {
        OsVersionInfo info;
        EXPECT_EQ(ParseKernelRelease(c.pszRelease, info), c.bParsed) << c.pszRelease;
        EXPECT_EQ(info.dwMajorVersion, c.nMajor) << c.pszRelease;
        EXPECT_EQ(info.dwMinorVersion, c.nMinor) << c.pszRelease;
        EXPECT_EQ(IsPlatformSupported(info), c.bSupported) << c.pszRelease;
    }
}

TEST(PlatformGate, TheTestVariableStandsInForTheRunningKernel) {
    const auto pQuery = CreateKernelVersionQuery();
    OsVersionInfo running;
    ASSERT_TRUE(pQuery->GetVersionEx(running)); // this machine runs a kernel it can name
    EXPECT_TRUE(IsPlatformSupported(running));

    ::setenv(kTestKernelVersionVariable, "2.6.32", 1);
    OsVersionInfo old;
    EXPECT_TRUE(pQuery->GetVersionEx(old));
    EXPECT_EQ(old.dwMajorVersion, 2u);
    EXPECT_EQ(old.dwMinorVersion, 6u);
    ::setenv(kTestKernelVersionVariable, "garbage", 1);
    OsVersionInfo failed;
    EXPECT_FALSE(pQuery->GetVersionEx(failed));
    EXPECT_FALSE(IsPlatformSupported(failed));
    ::unsetenv(kTestKernelVersionVariable);
}

TEST(ScanFolders, TheVariableNamesFoldersAndNeverFallsBackToTheMachine) {
    CScratchFolder scratch;
    const std::string strA = scratch.Path() + "/a", strB = scratch.Path() + "/b";
    ASSERT_EQ(::mkdir(strA.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(strB.c_str(), 0700), 0);
    WriteFile(scratch.Path() + "/file", "x");
    ASSERT_EQ(::symlink(strB.c_str(), (scratch.Path() + "/link").c_str()), 0);

    std::vector<std::string> arrLeftOut;
    EXPECT_EQ(ResolveScanFolders(strA + "::" + scratch.Path() + "/link:" + scratch.Path() +
                                     "/file:" + scratch.Path() + "/missing:",
                                 arrLeftOut),
              (std::vector<std::string>{strA, strB}));
    EXPECT_EQ(arrLeftOut,
              (std::vector<std::string>{scratch.Path() + "/file", scratch.Path() + "/missing"}));

    // Set: its folders are the drives. Set to nothing usable: no drives at all.
    ::setenv(kScanFoldersVariable, (strB + ":" + strA).c_str(), 1);
    auto pSetup = ScanSetupFromEnvironment();
    EXPECT_EQ(pSetup->volumeTable()->GetLogicalDrives(), (std::vector<std::string>{strA, strB}));
    ::setenv(kScanFoldersVariable, (scratch.Path() + "/missing").c_str(), 1);
    pSetup = ScanSetupFromEnvironment();
    EXPECT_TRUE(pSetup->volumeTable()->GetLogicalDrives().empty());
    ::setenv(kScanFoldersVariable, "", 1);
    EXPECT_TRUE(ScanSetupFromEnvironment()->volumeTable()->GetLogicalDrives().empty());

    // Unset: the machine's own drives, as the system reads them.
    ::unsetenv(kScanFoldersVariable);
    EXPECT_EQ(ScanSetupFromEnvironment()->volumeTable()->GetLogicalDrives(),
              SystemScanSetup().volumeTable()->GetLogicalDrives());
}

} // namespace
