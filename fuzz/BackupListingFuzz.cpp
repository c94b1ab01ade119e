// Input: a backup listing, fed to the reader in pieces whose lengths come from the
// input's own first bytes, so that lines are cut at every place; then the index it
// filled is asked about paths of the listing.
#include "BackupListing.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    std::string_view input(reinterpret_cast<const char*>(pData), nSize);
    std::size_t nPiece = 4096;
    if (!input.empty()) {
        nPiece = 1 + static_cast<unsigned char>(input.front()) * 37;
        input.remove_prefix(1);
    }
    CBackupIndex index;
    {
        CListingReader reader(index, "fuzz", [](std::string_view s) { return s.size() % 3 != 0; });
        bool bOk = true;
        for (std::size_t i = 0; bOk && i < input.size(); i += nPiece)
            bOk = reader.Feed(input.substr(i, nPiece));
        if (bOk)
            reader.Finish();
    }
    index.Seal();
    // Names made of the input's bytes, valid UTF-8 or not, with '?' or without.
    for (std::size_t i = 0; i + 8 <= input.size() && i < 64 * 8; i += 8)
        index.Holds(input.substr(i, 8 + i % 24), static_cast<std::int64_t>(i), 0);
    return 0;
}
