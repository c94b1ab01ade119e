#include "TextEncoder.h"

#include "Utf8.h"

#include <cerrno>
#include <strings.h>

namespace {

bool IsCopiedUnchanged(const char* psz) {
    return ::strcasecmp(psz, "UTF-8") == 0 || ::strcasecmp(psz, "UTF8") == 0 ||
           ::strcasecmp(psz, "ANSI_X3.4-1968") == 0 || ::strcasecmp(psz, "ASCII") == 0 ||
           ::strcasecmp(psz, "US-ASCII") == 0;
}

} // namespace

CTextEncoder::CTextEncoder(const char* pszCodeset) {
    if (pszCodeset == nullptr || *pszCodeset == '\0' || IsCopiedUnchanged(pszCodeset))
        return;
    m_cd = ::iconv_open(pszCodeset, "UTF-8");
}

CTextEncoder::~CTextEncoder() {
    if (m_cd != kNoConversion)
        ::iconv_close(m_cd);
}

void CTextEncoder::Append(std::string_view strUtf8, std::string& strOut) {
    if (m_cd == kNoConversion) {
        strOut += strUtf8;
        return;
    }
    // iconv's interface is not const-correct; it never writes through pIn.
    char* pIn = const_cast<char*>(strUtf8.data());
    std::size_t nInLeft = strUtf8.size();
    std::size_t nUsed = strOut.size();
    strOut.resize(nUsed + nInLeft * 2 + 16);
    auto grow = [&strOut] { strOut.resize(strOut.size() * 2 + 16); };
    while (nInLeft > 0) {
        char* pOut = strOut.data() + nUsed;
        std::size_t nOutLeft = strOut.size() - nUsed;
        std::size_t nResult = ::iconv(m_cd, &pIn, &nInLeft, &pOut, &nOutLeft);
        int nError = errno;
        nUsed = strOut.size() - nOutLeft;
        if (nResult != static_cast<std::size_t>(-1))
            break;
        if (nError == E2BIG) {
            grow();
            continue;
        }
        // EILSEQ: not UTF-8, or a character the target lacks; EINVAL: the text ends
        // inside a sequence. One '?' stands for what is skipped. Locale encodings
        // are ASCII-compatible, so the byte is the target's question mark too.
        std::size_t nSkip = nInLeft;
        if (nError != EINVAL) {
            nSkip = Utf8SequenceLength(std::string_view(pIn, nInLeft));
            if (nSkip == 0)
                nSkip = 1;
        }
        pIn += nSkip;
        nInLeft -= nSkip;
        if (nUsed == strOut.size())
            grow();
        strOut[nUsed++] = '?';
    }
    // Back to the initial shift state, so that the next text starts clean.
    for (;;) {
        char* pOut = strOut.data() + nUsed;
        std::size_t nOutLeft = strOut.size() - nUsed;
        std::size_t nResult = ::iconv(m_cd, nullptr, nullptr, &pOut, &nOutLeft);
        int nError = errno;
        nUsed = strOut.size() - nOutLeft;
        if (nResult == static_cast<std::size_t>(-1) && nError == E2BIG) {
            grow();
            continue;
        }
        break;
    }
    strOut.resize(nUsed);
}
