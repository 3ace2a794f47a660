#include "encoding_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "mvb/charset.h"

namespace mvb::txt {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF"sv;
constexpr std::string_view kBomUtf16Le = "\xFF\xFE"sv;
constexpr std::string_view kBomUtf16Be = "\xFE\xFF"sv;
constexpr std::string_view kBomUtf32Le = "\xFF\xFE\x00\x00"sv;
constexpr std::string_view kBomUtf32Be = "\x00\x00\xFE\xFF"sv;

// Sorted by number for the binary search.
constexpr EncodingInfo kEncodings[] = {
    {mvbEncodingDefault, "UTF-8", 1, 4, 1, false, kBomUtf8},
    {437, "CP437", 1, 1, 1, false, {}},
    {850, "CP850", 1, 1, 1, false, {}},
    {866, "CP866", 1, 1, 1, false, {}},
    {932, "CP932", 1, 2, 1, false, {}},
    {936, "CP936", 1, 2, 1, false, {}},
    {949, "CP949", 1, 2, 1, false, {}},
    {950, "CP950", 1, 2, 1, false, {}},
    {mvbEncodingUtf16Le, "UTF-16LE", 2, 4, 2, false, kBomUtf16Le},
    {mvbEncodingUtf16Be, "UTF-16BE", 2, 4, 2, true, kBomUtf16Be},
    {1250, "CP1250", 1, 1, 1, false, {}},
    {1251, "CP1251", 1, 1, 1, false, {}},
    {1252, "CP1252", 1, 1, 1, false, {}},
    {1253, "CP1253", 1, 1, 1, false, {}},
    {1254, "CP1254", 1, 1, 1, false, {}},
    {1255, "CP1255", 1, 1, 1, false, {}},
    {1256, "CP1256", 1, 1, 1, false, {}},
    {1257, "CP1257", 1, 1, 1, false, {}},
    {1258, "CP1258", 1, 1, 1, false, {}},
    {mvbEncodingUtf32Le, "UTF-32LE", 4, 4, 4, false, kBomUtf32Le},
    {mvbEncodingUtf32Be, "UTF-32BE", 4, 4, 4, true, kBomUtf32Be},
    {mvbEncodingAscii, "ASCII", 1, 1, 1, false, {}},
    {mvbEncodingLatin1, "ISO-8859-1", 1, 1, 1, false, {}},
    {28592, "ISO-8859-2", 1, 1, 1, false, {}},
    {28593, "ISO-8859-3", 1, 1, 1, false, {}},
    {28594, "ISO-8859-4", 1, 1, 1, false, {}},
    {28595, "ISO-8859-5", 1, 1, 1, false, {}},
    {28596, "ISO-8859-6", 1, 1, 1, false, {}},
    {28597, "ISO-8859-7", 1, 1, 1, false, {}},
    {28598, "ISO-8859-8", 1, 1, 1, false, {}},
    {28599, "ISO-8859-9", 1, 1, 1, false, {}},
    {28600, "ISO-8859-10", 1, 1, 1, false, {}},
    {28601, "ISO-8859-11", 1, 1, 1, false, {}},
    // ISO-8859-12 was never published, so 28602 is not an encoding.
    {28603, "ISO-8859-13", 1, 1, 1, false, {}},
    {28604, "ISO-8859-14", 1, 1, 1, false, {}},
    {28605, "ISO-8859-15", 1, 1, 1, false, {}},
    {54936, "GB18030", 1, 4, 1, false, {}},
    {mvbEncodingUtf8, "UTF-8", 1, 4, 1, false, kBomUtf8},
};

constexpr const EncodingInfo& kUtf8 = kEncodings[std::size(kEncodings) - 1];

bool startsWith(const char* bytes, size_t size, std::string_view prefix) noexcept {
    return size >= prefix.size() && std::memcmp(bytes, prefix.data(), prefix.size()) == 0;
}

}  // namespace

const EncodingInfo* findEncoding(int number) noexcept {
    const auto* end = std::end(kEncodings);
    const auto* it =
        std::lower_bound(std::begin(kEncodings), end, number,
                         [](const EncodingInfo& info, int value) { return info.number < value; });
    return it != end && it->number == number ? it : nullptr;
}

const EncodingInfo& utf8Encoding() noexcept {
    return kUtf8;
}

const EncodingInfo* encodingFromBom(const char* bytes, size_t size,
                                    const EncodingInfo* preferred) noexcept {
    if (preferred != nullptr && !preferred->bom.empty() &&
        startsWith(bytes, size, preferred->bom)) {
        return preferred;
    }
    // The longer UTF-32LE mark is tried before the UTF-16LE mark it begins with.
    for (int number : {mvbEncodingUtf32Le, mvbEncodingUtf32Be, mvbEncodingUtf16Le,
                       mvbEncodingUtf16Be, mvbEncodingUtf8}) {
        const EncodingInfo* info = findEncoding(number);
        if (startsWith(bytes, size, info->bom)) {
            return info;
        }
    }
    return nullptr;
}

const EncodingInfo* encodingFromNulPattern(const char* bytes, size_t size) noexcept {
    if (size < 4) {
        return &kUtf8;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    int number = mvbEncodingUtf8;
    if (b[0] != 0 && b[1] == 0 && b[2] == 0 && b[3] == 0) {
        number = mvbEncodingUtf32Le;
    } else if (b[0] == 0 && b[1] == 0 && (b[2] != 0 || b[3] != 0)) {
        number = mvbEncodingUtf32Be;
    } else if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
        number = mvbEncodingUtf16Le;
    } else if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
        number = mvbEncodingUtf16Be;
    }
    return findEncoding(number);
}

}  // namespace mvb::txt

int np_uchar_chsize_min(int encoding) noexcept {
    const mvb::txt::EncodingInfo* info = mvb::txt::findEncoding(encoding);
    return info != nullptr ? info->minBytes : 1;
}

int np_uchar_xcsize_max(int encoding) noexcept {
    const mvb::txt::EncodingInfo* info = mvb::txt::findEncoding(encoding);
    return info != nullptr ? info->maxBytes : 4;
}
