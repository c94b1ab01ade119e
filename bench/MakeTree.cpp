// Makes a synthetic folder tree for the scan benchmark and prints, as JSON, the count
// and byte total per group that a correct scan must report.
//
//   make-tree ROOT [ENTRIES] [SEED]
//
// About 10% of the entries are folders (depth up to 12, a few with thousands of
// entries), about 20% of the files carry a group's extension in mixed letter case,
// sizes are sparse (some of several GiB), and some names are not valid UTF-8.
#include "GroupExtensions.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kGroupNames[] = {"Documents", "Images", "Music", "Video"};
// Near misses included: they must not be counted.
const std::vector<const char*> kOther = {"txt",  "c", "h",   "o",  "json", "html", "tif", "doc.bak",
                                         "mp3~", "",  "log", "py", "so",   "xml",  "cfg"};

struct Folder {
    std::string strPath;
    int nDepth;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-tree ROOT [ENTRIES] [SEED]\n");
        return 2;
    }
    const std::string strRoot = argv[1];
    const long nEntries = argc > 2 ? std::atol(argv[2]) : 1'000'000;
    const unsigned nSeed = argc > 3 ? static_cast<unsigned>(std::atol(argv[3])) : 1;
    std::mt19937_64 rng(nSeed);
    auto uniform = [&](std::uint64_t n) { return n ? rng() % n : 0; };

    if (::mkdir(strRoot.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(strRoot.c_str());
        return 1;
    }
    const long nFolders = nEntries / 10;
    const long nFiles = nEntries - nFolders;
    std::vector<Folder> folders = {{strRoot, 0}};
    for (long i = 0; i < nFolders; ++i) {
        // Prefer recent folders as parents, so that chains grow deep.
        std::size_t nParent =
            uniform(4) == 0
                ? uniform(folders.size())
                : folders.size() - 1 - uniform(std::min<std::size_t>(folders.size(), 50));
        while (folders[nParent].nDepth >= 12)
            nParent = uniform(folders.size());
        std::string strName = std::to_string(i);
        strName.insert(0, "dir");
        if (uniform(200) == 0)
            strName += "-\xE9t\xE9"; // Latin-1
        Folder f{folders[nParent].strPath, folders[nParent].nDepth + 1};
        f.strPath += '/';
        f.strPath += strName;
        if (::mkdir(f.strPath.c_str(), 0755) != 0 && errno != EEXIST) {
            std::perror(f.strPath.c_str());
            return 1;
        }
        folders.push_back(std::move(f));
    }
    // A few crowded folders hold thousands of files each.
    std::vector<std::size_t> crowded;
    for (int i = 0; i < 40; ++i)
        crowded.push_back(uniform(folders.size()));

    std::array<long, 4> count{};
    std::array<std::int64_t, 4> bytes{};
    for (long i = 0; i < nFiles; ++i) {
        const Folder& folder =
            folders[uniform(10) < 2 ? crowded[uniform(crowded.size())] : uniform(folders.size())];
        std::string strName = std::to_string(i);
        strName.insert(strName.begin(), 'f');
        if (uniform(100) == 0)
            strName += "\xFF\xFE"; // not UTF-8
        int nGroup = -1;
        if (uniform(5) == 0) {
            nGroup = static_cast<int>(uniform(4));
            std::string strExt = kGroups[nGroup][uniform(kGroups[nGroup].size())];
            for (char& c : strExt) {
                if (uniform(3) == 0 && c >= 'a' && c <= 'z')
                    c = static_cast<char>(c - 32);
            }
            strName += '.';
            strName += strExt;
        } else {
            const char* pszExt = kOther[uniform(kOther.size())];
            if (*pszExt) {
                strName += '.';
                strName += pszExt;
            }
        }
        std::string strPath = folder.strPath;
        strPath += '/';
        strPath += strName;
        int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::perror(strPath.c_str());
            return 1;
        }
        if (nGroup >= 0) {
            // Sparse sizes: mostly small, some of several GiB.
            std::int64_t nSize = uniform(1000) == 0 ? static_cast<std::int64_t>(uniform(6ull << 30))
                                                    : static_cast<std::int64_t>(uniform(200'000));
            if (nSize > 0 && ::ftruncate(fd, nSize) != 0) {
                std::perror("ftruncate");
                return 1;
            }
            ++count[nGroup];
            bytes[nGroup] += nSize;
        }
        ::close(fd);
    }

    std::printf("{\"entries\": %ld, \"groups\": [", nFolders + nFiles);
    for (int g = 0; g < 4; ++g)
        std::printf("%s{\"name\": \"%s\", \"files\": %ld, \"bytes\": %lld}", g ? ", " : "",
                    kGroupNames[g], count[g], static_cast<long long>(bytes[g]));
    std::printf("]}\n");
    return 0;
}
