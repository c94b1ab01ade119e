#include "Environment.h"
#include "ModulePath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

// Sets or unsets a variable for one test and puts the old value back afterwards.
class CEnvVariable {
public:
    CEnvVariable(const char* pszName, const char* pszValue) : m_strName(pszName) {
        if (const char* psz = std::getenv(pszName))
            m_old = psz;
        if (pszValue)
            ::setenv(pszName, pszValue, 1);
        else
            ::unsetenv(pszName);
    }
    ~CEnvVariable() {
        if (m_old)
            ::setenv(m_strName.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName;
    std::optional<std::string> m_old;
};

} // namespace

TEST(ExpandEnvironmentStrings, ReferencesExpandAsWindowsDoes) {
    CEnvVariable a("TARROW_A", "alpha");
    CEnvVariable empty("TARROW_EMPTY", "");
    CEnvVariable unset("TARROW_UNSET", nullptr);
    EXPECT_EQ(ExpandEnvironmentStrings("x%TARROW_A%y%TARROW_A%"), "xalphayalpha");
    EXPECT_EQ(ExpandEnvironmentStrings("%tarrow_a%"), "alpha"); // names ignore case
    EXPECT_EQ(ExpandEnvironmentStrings("[%TARROW_EMPTY%]"), "[]");
    // Unknown names, "%%" and an unfinished reference stay as written.
    EXPECT_EQ(ExpandEnvironmentStrings("%TARROW_UNSET%\\x"), "%TARROW_UNSET%\\x");
    EXPECT_EQ(ExpandEnvironmentStrings("%TARROW_UNSET%TARROW_A%"), "%TARROW_UNSET%TARROW_A%");
    EXPECT_EQ(ExpandEnvironmentStrings("100%% %TARROW_A"), "100%% %TARROW_A");
    EXPECT_EQ(ExpandEnvironmentStrings("50% %TARROW_A%"), "50% %TARROW_A%");
    EXPECT_EQ(ExpandEnvironmentStrings(""), "");
    EXPECT_EQ(ExpandEnvironmentStrings("no refs"), "no refs");
}

TEST(ExpandEnvironmentStrings, TempIsAlwaysTheTemporaryFolder) {
    {
        CEnvVariable temp("TEMP", "/var/tmp/me/");
        CEnvVariable tmpdir("TMPDIR", "/elsewhere");
        EXPECT_EQ(ExpandEnvironmentStrings("%TEMP%\\Tarrow\\"), "/var/tmp/me\\Tarrow\\");
        EXPECT_EQ(GetTempPath(), "/var/tmp/me/");
        EXPECT_EQ(GetLogFolder(), "/var/tmp/me/Tarrow/");
    }
    {
        CEnvVariable temp("TEMP", nullptr);
        CEnvVariable tmpdir("TMPDIR", "/run/user/1000");
        EXPECT_EQ(ExpandEnvironmentStrings("%TEMP%"), "/run/user/1000");
        EXPECT_EQ(GetLogFolder(), "/run/user/1000/Tarrow/");
    }
    {
        // A '\\' in a value is part of a Linux name, not a separator.
        CEnvVariable temp("TEMP", "/tmp/odd\\name");
        EXPECT_EQ(GetLogFolder(), "/tmp/odd\\name/Tarrow/");
    }
    // Unset, empty or relative, none leads to the root or the working folder.
    for (const char* pszTemp : {static_cast<const char*>(nullptr), "", "relative/tmp"}) {
        CEnvVariable temp("TEMP", pszTemp);
        CEnvVariable tmpdir("TMPDIR", pszTemp);
        EXPECT_EQ(ExpandEnvironmentStrings("%Temp%"), "/tmp");
        EXPECT_EQ(GetTempPath(), "/tmp/");
        EXPECT_EQ(GetLogFolder(), "/tmp/Tarrow/");
    }
}

TEST(ExpandEnvironmentStrings, BackslashesBecomeSeparators) {
    EXPECT_EQ(ToNativeSeparators("a\\b\\c\\"), "a/b/c/");
    EXPECT_EQ(ToNativeSeparators("/already/native"), "/already/native");
}

TEST(ModulePath, IsThisProgram) {
    const std::string strPath = GetModulePath();
    ASSERT_FALSE(strPath.empty());
    EXPECT_EQ(strPath.front(), '/');
    EXPECT_EQ(GetModuleFolder() + GetModuleFileName(), strPath);
    EXPECT_EQ(GetModuleFileName(), "log_tests");
    EXPECT_EQ(::access(strPath.c_str(), X_OK), 0);
}
