#include "mvb/parts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

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

bool mvbPartKeepsFileName(const std::string& path) {
    if (path == "-") return true;
    // /dev/stdout and /dev/fd/1 name what a descriptor is, which a regular file can be too.
    // (Other names in /dev, such as /dev/shm/out.csv, go by what they are.)
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).lexically_normal();
    for (const std::string_view name :
         {"/dev/stdout", "/dev/stderr", "/dev/fd/", "/proc/self/fd/"}) {
        if (!error && absolute.starts_with(name) &&
            (name.back() == '/' || absolute.size() == name.size()))
            return true;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

std::string mvbPartFileName(const std::string& path, int part, int count) {
    if (mvbPartKeepsFileName(path)) return path;
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
    // A compressed file keeps the extension of what it holds: out.part-0000-of-0002.csv.gz
    // (".gz" in any case, as such a name is written compressed in any case).
    if (path.size() - dot == 3 && (path[dot + 1] | 0x20) == 'g' && (path[dot + 2] | 0x20) == 'z') {
        const size_t inner = path.rfind('.', dot - 1);
        if (inner != std::string::npos && inner > nameStart) dot = inner;
    }
    return path.substr(0, dot) + tag + path.substr(dot);
}
