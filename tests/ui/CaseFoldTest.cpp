#include "CaseFold.h"

#include <gtest/gtest.h>

#include <clocale>
#include <random>
#include <string>
#include <vector>

namespace {

// Switches the C runtime's locale for one test, as configuring the log does.
class CLocaleScope {
public:
    explicit CLocaleScope(const char* pszLocale)
        : m_strPrevious(std::setlocale(LC_ALL, nullptr)),
          m_bSet(std::setlocale(LC_ALL, pszLocale) != nullptr) {}
    ~CLocaleScope() { std::setlocale(LC_ALL, m_strPrevious.c_str()); }
    bool IsSet() const { return m_bSet; }

private:
    std::string m_strPrevious;
    bool m_bSet;
};

int Sign(int n) {
    return (n > 0) - (n < 0);
}

TEST(CaseFold, UnderCOnlyAToZFoldAndTheUsersLocaleFoldsTheRest) {
    const CLocaleScope c("C");
    const CCaseFold fold;
    EXPECT_EQ(fold.Compare("Report.DOC", "report.doc"), 0);
    EXPECT_NE(fold.Compare("\xC3\x84rger", "\xC3\xA4rger"), 0); // Ärger, ärger
    EXPECT_LT(fold.Compare("a", "B"), 0);
    EXPECT_LT(fold.Compare("B", "c"), 0);
    EXPECT_LT(fold.Compare("zz", "\xC3\xA9"), 0); // by code point: é after z
    EXPECT_LT(fold.Compare("ab", "abc"), 0);

    const CLocaleScope german("de_DE.UTF-8");
    if (!german.IsSet())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/install-deps.sh)";
    const CCaseFold user;
    EXPECT_EQ(user.Compare("\xC3\x84rger", "\xC3\xA4rger"), 0);
    EXPECT_EQ(user.Compare("\xCE\xA3OFIA", "\xCF\x83ofia"), 0); // Greek capital and small sigma
}

TEST(CaseFold, UndecodableBytesSortAsThemselvesAndNeverMatchAnythingElse) {
    const CCaseFold fold;
    EXPECT_LT(fold.Compare("caf\xE9", "caf\xFF"), 0);
    EXPECT_NE(fold.Compare("caf\xE9", "caf\xC3\xA9"), 0);     // Latin-1 é is not UTF-8 é
    EXPECT_NE(fold.Compare("caf\xE9", "caf\xEF\xBF\xBD"), 0); // nor the replacement character
    EXPECT_NE(fold.Compare("\xC3", "\xC3\x28"), 0);           // a sequence cut short
    EXPECT_NE(fold.Compare("\xC0\xAF", "/"), 0);              // overlong forms of '/'
    EXPECT_NE(fold.Compare("\xE0\x80\xAF", "/"), 0);
    EXPECT_NE(fold.Compare("\xF0\x80\x80\xAF", "/"), 0);
    EXPECT_NE(fold.Compare("\xED\xA0\x80", "\xED\xA0\x81"), 0); // encoded surrogates
    EXPECT_EQ(fold.Compare("X\xE9", "x\xE9"), 0);
    std::size_t i = 0;
    EXPECT_EQ(CCaseFold::DecodeNext("\xF0\x9F\x98", i), 0xDCF0u); // cut at the end
    EXPECT_EQ(i, 1u);
}

// The prefix key and the full comparison must never disagree, or the list's sort
// would put names out of order.
TEST(CaseFold, PrefixKeysOrderAsTheComparisonDoes) {
    const std::vector<std::string> arrPieces{"a",
                                             "A",
                                             "b",
                                             "Z",
                                             "_",
                                             "0",
                                             "\xC3\xA9",
                                             "\xC3\x89",
                                             "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80",
                                             "\xE9",
                                             "\xFF",
                                             "\xC3",
                                             "\xED\xA0\x80",
                                             " ",
                                             "."};
    for (const char* pszLocale : {"C", "de_DE.UTF-8"}) {
        const CLocaleScope scope(pszLocale);
        const CCaseFold fold;
        std::mt19937 random(7);
        std::vector<std::string> arrNames;
        for (int n = 0; n < 600; ++n) {
            std::string strName;
            const int nLength = static_cast<int>(random() % 12);
            for (int k = 0; k < nLength; ++k)
                strName += arrPieces[random() % arrPieces.size()];
            arrNames.push_back(strName);
        }
        for (std::size_t i = 0; i < arrNames.size(); ++i) {
            for (std::size_t j = i; j < arrNames.size(); j += 7) {
                const int d = fold.Compare(arrNames[i], arrNames[j]);
                ASSERT_EQ(fold.Compare(arrNames[j], arrNames[i]), -d);
                const std::uint64_t a = fold.Prefix(arrNames[i]), b = fold.Prefix(arrNames[j]);
                if (a != b) {
                    ASSERT_EQ(Sign(d), a < b ? -1 : 1) << pszLocale << " " << i << " " << j;
                } else {
                    // Equal so far: the next eight bytes decide, or the names are equal.
                    const std::uint64_t a8 = fold.Prefix(arrNames[i], 8);
                    const std::uint64_t b8 = fold.Prefix(arrNames[j], 8);
                    if (a8 != b8) {
                        ASSERT_EQ(Sign(d), a8 < b8 ? -1 : 1) << pszLocale << " " << i << " " << j;
                    } else if ((a & 0xFF) == 0 || (a8 & 0xFF) == 0) {
                        ASSERT_EQ(d, 0) << pszLocale << " " << i << " " << j;
                    }
                }
            }
        }
    }
}

} // namespace
