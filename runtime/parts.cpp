#include "mvb/parts.h"

#include <algorithm>
#include <cstdio>

namespace {

/// Room for a byte count times a part count.
__extension__ typedef unsigned __int128 Wide;

}  // namespace

void mvbDealFiles(const uint64_t* sizes, size_t fileCount, int count, int* parts) noexcept {
    Wide total = 0;
    for (size_t i = 0; i < fileCount; ++i)
        total += Wide{sizes[i]} + 1;
    Wide before = 0;
    for (size_t i = 0; i < fileCount; ++i) {
        const Wide weight = Wide{sizes[i]} + 1;
        // The middle of the file, in half bytes so that it stays whole.
        const Wide middle = before * 2 + weight;
        const Wide part = count <= 1 ? 0 : middle * static_cast<unsigned>(count) / (total * 2);
        parts[i] = static_cast<int>(std::min<Wide>(part, static_cast<unsigned>(count - 1)));
        before += weight;
    }
}

uint64_t mvbPartOffset(uint64_t size, int part, int count) noexcept {
    if (count <= 0 || part <= 0) return 0;
    if (part >= count) return size;
    return static_cast<uint64_t>(Wide{size} * static_cast<unsigned>(part) /
                                 static_cast<unsigned>(count));
}

namespace {

std::string paddedNumber(int number, int count) {
    int digits = 4;
    for (int rest = (count - 1) / 10000; rest > 0; rest /= 10)
        ++digits;
    char text[32];
    std::snprintf(text, sizeof text, "%0*d", digits, number);
    return text;
}

}  // namespace

std::string mvbPartFileName(const std::string& path, int part, int count) {
    if (path == "-") return path;
    const std::string number = paddedNumber(part, count);
    const size_t marker = path.find("{part}");
    if (marker != std::string::npos) {
        std::string named = path;
        for (size_t at = marker; at != std::string::npos; at = named.find("{part}", at)) {
            named.replace(at, 6, number);
            at += number.size();
        }
        return named;
    }
    const std::string tag = ".part-" + number + "-of-" + paddedNumber(count, count);
    const size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot <= nameStart) return path + tag;
    // A compressed file keeps the extension of what it holds: out.part-0000-of-0002.csv.gz.
    if (path.compare(dot, std::string::npos, ".gz") == 0) {
        const size_t inner = path.rfind('.', dot - 1);
        if (inner != std::string::npos && inner > nameStart) dot = inner;
    }
    return path.substr(0, dot) + tag + path.substr(dot);
}
