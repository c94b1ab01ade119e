// Turns the program's UTF-8 text into the bytes of the log file's encoding.
#pragma once

#include <string>
#include <string_view>

#include <iconv.h>

class CTextEncoder {
public:
    // pszCodeset: an iconv name such as nl_langinfo(CODESET) gives. UTF-8, and the
    // plain "C" locale's ASCII in which a byte is the character of the same value,
    // copy the text unchanged, so names that are not valid UTF-8 survive. So does a
    // codeset iconv does not know.
    explicit CTextEncoder(const char* pszCodeset);
    ~CTextEncoder();
    CTextEncoder(const CTextEncoder&) = delete;
    CTextEncoder& operator=(const CTextEncoder&) = delete;

    bool IsPassThrough() const { return m_cd == kNoConversion; }

    // Appends strUtf8 in the target encoding to strOut. A character the target
    // cannot represent, and each byte that is not part of valid UTF-8, becomes '?'.
    void Append(std::string_view strUtf8, std::string& strOut);

private:
    static inline const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd = kNoConversion;
};
