// The JSON parsers Debian offers, on the lines of a backup listing: simdjson's On
// Demand (what tarrow-scan reads listings with) against nlohmann-json, each taking the
// fields the reader takes (path, type, size, mtime) from every line. Then the reader
// itself, with its checks and its index.
//
//   listing-parse-bench LISTING [ROUNDS]
#include "BackupListing.h"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The lines of the text, which is followed by simdjson's padding.
std::vector<std::string_view> Lines(const std::string& strText, std::size_t nLength) {
    std::vector<std::string_view> arr;
    for (std::size_t i = 0; i < nLength;) {
        std::size_t n = strText.find('\n', i);
        if (n == std::string::npos || n > nLength)
            n = nLength;
        arr.emplace_back(strText.data() + i, n - i);
        i = n + 1;
    }
    return arr;
}

std::size_t WithSimdjson(const std::string& strText, const std::vector<std::string_view>& lines) {
    simdjson::ondemand::parser parser;
    std::size_t nSum = 0;
    for (std::string_view line : lines) {
        simdjson::ondemand::document doc;
        simdjson::ondemand::object obj;
        const std::size_t nCapacity =
            strText.size() - static_cast<std::size_t>(line.data() - strText.data());
        if (parser.iterate(line.data(), line.size(), nCapacity).get(doc) ||
            doc.get_object().get(obj))
            continue;
        for (auto fieldResult : obj) {
            simdjson::ondemand::field field;
            std::string_view strKey, s;
            if (std::move(fieldResult).get(field) || field.unescaped_key().get(strKey))
                break;
            std::uint64_t n;
            if (strKey == "size" && !field.value().get_uint64().get(n))
                nSum += n;
            else if ((strKey == "path" || strKey == "type" || strKey == "mtime") &&
                     !field.value().get_string().get(s))
                nSum += s.size();
        }
    }
    return nSum;
}

std::size_t WithNlohmann(const std::vector<std::string_view>& lines) {
    std::size_t nSum = 0;
    for (std::string_view line : lines) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object())
            continue;
        if (auto it = j.find("size"); it != j.end() && it->is_number_unsigned())
            nSum += it->get<std::uint64_t>();
        for (const char* psz : {"path", "type", "mtime"}) {
            if (auto it = j.find(psz); it != j.end() && it->is_string())
                nSum += it->get_ref<const std::string&>().size();
        }
    }
    return nSum;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: listing-parse-bench LISTING [ROUNDS]\n");
        return 2;
    }
    const int nRounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::ifstream in(argv[1], std::ios::binary);
    std::string strText((std::istreambuf_iterator<char>(in)), {});
    const std::size_t nLength = strText.size();
    strText.append(simdjson::SIMDJSON_PADDING, ' ');
    const std::vector<std::string_view> lines = Lines(strText, nLength);

    std::vector<double> simd, nlo, reader;
    std::size_t nA = 0, nB = 0;
    for (int r = 0; r < nRounds; ++r) {
        auto t0 = Clock::now();
        nA = WithSimdjson(strText, lines);
        simd.push_back(Seconds(t0));
        t0 = Clock::now();
        nB = WithNlohmann(lines);
        nlo.push_back(Seconds(t0));
        t0 = Clock::now();
        CBackupIndex index;
        CListingReader listing(index, argv[1]);
        if (!listing.Feed(std::string_view(strText.data(), nLength)) || !listing.Finish()) {
            std::fprintf(stderr, "%s: %s\n", argv[1], listing.Error().c_str());
            return 1;
        }
        index.Seal();
        reader.push_back(Seconds(t0));
    }
    if (nA != nB) {
        std::fprintf(stderr, "the parsers disagree: %zu against %zu\n", nA, nB);
        return 1;
    }
    auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
    const double mb = static_cast<double>(nLength) / 1e6;
    std::printf("%zu lines, %.0f MB; best of %d rounds\n", lines.size(), mb, nRounds);
    std::printf("  simdjson On Demand          %7.3f s  %6.0f MB/s  (its first stage: %s)\n",
                best(simd), mb / best(simd), simdjson::get_active_implementation()->name().c_str());
    std::printf("  nlohmann-json               %7.3f s  %6.0f MB/s\n", best(nlo), mb / best(nlo));
    std::printf("  tarrow-scan's reader        %7.3f s  %6.0f MB/s  (checks and index)\n",
                best(reader), mb / best(reader));
    std::printf("  nlohmann-json / simdjson    %7.1f x\n", best(nlo) / best(simd));
    return 0;
}
