#include "TextEncoder.h"

#include <cerrno>
#include <strings.h>

namespace {

bool IsCopiedUnchanged(const char* psz) {
    return ::strcasecmp(psz, "UTF-8") == 0 || ::strcasecmp(psz, "UTF8") == 0 ||
           ::strcasecmp(psz, "ANSI_X3.4-1968") == 0 || ::strcasecmp(psz, "ASCII") == 0 ||
           ::strcasecmp(psz, "US-ASCII") == 0;
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view str) {
    if (str.empty())
        return 0;
    auto b0 = static_cast<unsigned char>(str[0]);
    if (b0 < 0x80)
        return 1;
    std::size_t nLen;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        nLen = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        nLen = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        else if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        nLen = 4;
        if (b0 == 0xF0)
            lo = 0x90; // overlong
        else if (b0 == 0xF4)
            hi = 0x8F; // beyond U+10FFFF
    } else {
        return 0;
    }
    if (str.size() < nLen)
        return 0;
    auto b1 = static_cast<unsigned char>(str[1]);
    if (b1 < lo || b1 > hi)
        return 0;
    for (std::size_t i = 2; i < nLen; ++i) {
        auto b = static_cast<unsigned char>(str[i]);
        if (b < 0x80 || b > 0xBF)
            return 0;
    }
    return nLen;
}

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
