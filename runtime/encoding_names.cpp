// Encoding names: the texts that an ENCODING property may hold in place of a number.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding_table.h"
#include "mvb/charset.h"
#include "mvb/name_distance.h"
#include "mvb/string.h"

namespace {

struct EncodingName {
    std::string_view name;
    int number;
};

// The first name of each number is the one shown in messages. Names are compared folded (see
// foldName), so "utf8", "UTF_8" and "Utf-8" all match "utf-8" and each spelling is listed once.
// Where the web's labels and the registry's names disagree, the file-oriented meaning wins:
// "latin1" and "ascii" name ISO-8859-1 and ASCII, which the table holds, not windows-1252; "utf-16"
// without an order names little-endian UTF-16, as files without a mark mostly are.
constexpr EncodingName kNames[] = {
    {"UTF-8", mvbEncodingUtf8},
    {"unicode-1-1-utf-8", mvbEncodingUtf8},
    {"cp65001", mvbEncodingUtf8},
    {"UTF-16LE", mvbEncodingUtf16Le},
    {"UTF-16", mvbEncodingUtf16Le},
    {"unicode", mvbEncodingUtf16Le},
    {"unicodefeff", mvbEncodingUtf16Le},
    {"ucs-2", mvbEncodingUtf16Le},
    {"csunicode", mvbEncodingUtf16Le},
    {"iso-10646-ucs-2", mvbEncodingUtf16Le},
    {"UTF-16BE", mvbEncodingUtf16Be},
    {"unicodefffe", mvbEncodingUtf16Be},
    {"UTF-32LE", mvbEncodingUtf32Le},
    {"UTF-32", mvbEncodingUtf32Le},
    {"UTF-32BE", mvbEncodingUtf32Be},
    {"IBM437", 437},
    {"cp437", 437},
    {"cspc8codepage437", 437},
    {"IBM850", 850},
    {"cp850", 850},
    {"cspc850multilingual", 850},
    {"IBM866", 866},
    {"cp866", 866},
    {"csibm866", 866},
    {"Shift_JIS", 932},
    {"sjis", 932},
    {"ms_kanji", 932},
    {"windows-31j", 932},
    {"cp932", 932},
    {"ms932", 932},
    {"csshiftjis", 932},
    {"x-sjis", 932},
    {"GBK", 936},
    {"cp936", 936},
    {"windows-936", 936},
    {"gb2312", 936},
    {"gb_2312-80", 936},
    {"csgb2312", 936},
    {"chinese", 936},
    {"iso-ir-58", 936},
    {"x-gbk", 936},
    {"EUC-KR", 949},
    {"cp949", 949},
    {"windows-949", 949},
    {"uhc", 949},
    {"ks_c_5601-1987", 949},
    {"ks_c_5601-1989", 949},
    {"ksc5601", 949},
    {"korean", 949},
    {"csksc56011987", 949},
    {"csEUCKR", 949},
    {"iso-ir-149", 949},
    {"Big5", 950},
    {"cp950", 950},
    {"windows-950", 950},
    {"big5-hkscs", 950},
    {"cn-big5", 950},
    {"csbig5", 950},
    {"x-x-big5", 950},
    {"windows-1250", 1250},
    {"cp1250", 1250},
    {"x-cp1250", 1250},
    {"windows-1251", 1251},
    {"cp1251", 1251},
    {"x-cp1251", 1251},
    {"windows-1252", 1252},
    {"cp1252", 1252},
    {"x-cp1252", 1252},
    {"windows-1253", 1253},
    {"cp1253", 1253},
    {"x-cp1253", 1253},
    {"windows-1254", 1254},
    {"cp1254", 1254},
    {"x-cp1254", 1254},
    {"windows-1255", 1255},
    {"cp1255", 1255},
    {"x-cp1255", 1255},
    {"windows-1256", 1256},
    {"cp1256", 1256},
    {"x-cp1256", 1256},
    {"windows-1257", 1257},
    {"cp1257", 1257},
    {"x-cp1257", 1257},
    {"windows-1258", 1258},
    {"cp1258", 1258},
    {"x-cp1258", 1258},
    {"US-ASCII", mvbEncodingAscii},
    {"ascii", mvbEncodingAscii},
    {"ansi_x3.4-1968", mvbEncodingAscii},
    {"iso646-us", mvbEncodingAscii},
    {"us", mvbEncodingAscii},
    {"cp367", mvbEncodingAscii},
    {"ibm367", mvbEncodingAscii},
    {"csascii", mvbEncodingAscii},
    {"iso-ir-6", mvbEncodingAscii},
    {"ISO-8859-1", mvbEncodingLatin1},
    {"latin1", mvbEncodingLatin1},
    {"l1", mvbEncodingLatin1},
    {"iso_8859-1:1987", mvbEncodingLatin1},
    {"iso-ir-100", mvbEncodingLatin1},
    {"cp819", mvbEncodingLatin1},
    {"ibm819", mvbEncodingLatin1},
    {"csisolatin1", mvbEncodingLatin1},
    {"ISO-8859-2", 28592},
    {"latin2", 28592},
    {"l2", 28592},
    {"csisolatin2", 28592},
    {"iso-ir-101", 28592},
    {"ISO-8859-3", 28593},
    {"latin3", 28593},
    {"l3", 28593},
    {"csisolatin3", 28593},
    {"iso-ir-109", 28593},
    {"ISO-8859-4", 28594},
    {"latin4", 28594},
    {"l4", 28594},
    {"csisolatin4", 28594},
    {"iso-ir-110", 28594},
    {"ISO-8859-5", 28595},
    {"cyrillic", 28595},
    {"csisolatincyrillic", 28595},
    {"iso-ir-144", 28595},
    {"ISO-8859-6", 28596},
    {"arabic", 28596},
    {"asmo-708", 28596},
    {"ecma-114", 28596},
    {"csisolatinarabic", 28596},
    {"iso-ir-127", 28596},
    {"ISO-8859-7", 28597},
    {"greek", 28597},
    {"greek8", 28597},
    {"elot_928", 28597},
    {"ecma-118", 28597},
    {"csisolatingreek", 28597},
    {"iso-ir-126", 28597},
    {"ISO-8859-8", 28598},
    {"hebrew", 28598},
    {"csisolatinhebrew", 28598},
    {"iso-ir-138", 28598},
    {"ISO-8859-9", 28599},
    {"latin5", 28599},
    {"l5", 28599},
    {"csisolatin5", 28599},
    {"iso-ir-148", 28599},
    {"ISO-8859-10", 28600},
    {"latin6", 28600},
    {"l6", 28600},
    {"csisolatin6", 28600},
    {"iso-ir-157", 28600},
    {"ISO-8859-11", 28601},
    {"tis-620", 28601},
    {"ISO-8859-13", 28603},
    {"latin7", 28603},
    {"l7", 28603},
    {"ISO-8859-14", 28604},
    {"latin8", 28604},
    {"l8", 28604},
    {"iso-ir-199", 28604},
    {"ISO-8859-15", 28605},
    {"latin9", 28605},
    {"l9", 28605},
    {"latin-9", 28605},
    {"csisolatin9", 28605},
    {"GB18030", 54936},
    {"cp54936", 54936},
};

constexpr size_t kMaxNameLength = 64;

// Lower-case letters and digits only: spellings that differ in case, hyphens, underscores, dots,
// colons or blanks name the same encoding.
std::string foldName(std::string_view text) {
    std::string folded;
    folded.reserve(std::min(text.size(), kMaxNameLength));
    for (char c : text) {
        if (c >= 'A' && c <= 'Z') {
            folded.push_back(static_cast<char>(c - 'A' + 'a'));
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            folded.push_back(c);
        }
        if (folded.size() > kMaxNameLength) {
            break;
        }
    }
    return folded;
}

// A whole decimal integer with an optional sign, within the range of int.
bool parseNumber(std::string_view text, int* number) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    size_t digits = 0;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        digits = 1;
    }
    if (text.size() == digits || text.size() > 12) {
        return false;
    }
    for (size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    const long long value = std::strtoll(std::string(text).c_str(), nullptr, 10);
    if (value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *number = static_cast<int>(value);
    return true;
}

const EncodingName& shownName(int number) {
    for (const EncodingName& entry : kNames) {
        if (entry.number == number) {
            return entry;
        }
    }
    return kNames[0];
}

}  // namespace

bool mvbEncodingFromName(const char* text, int* number) noexcept {
    if (text == nullptr || number == nullptr) {
        return false;
    }
    try {
        if (parseNumber(text, number)) {
            return true;
        }
        const std::string folded = foldName(text);
        if (folded.empty() || folded.size() > kMaxNameLength) {
            return false;
        }
        for (const EncodingName& entry : kNames) {
            if (foldName(entry.name) == folded) {
                *number = entry.number;
                return true;
            }
        }
    } catch (...) {
        // Only an exhausted heap gets here; the name is then not known.
    }
    return false;
}

bool mvbIsKnownEncoding(int number) noexcept {
    return number == mvbEncodingDetect || mvb::txt::findEncoding(number) != nullptr;
}

MvbString mvbClosestEncodingNames(const char* text) {
    const std::string folded = foldName(text != nullptr ? text : "");
    struct Candidate {
        size_t distance;
        int number;
    };
    // The best distance per encoding number, so that three suggestions are three encodings.
    std::array<Candidate, std::size(kNames)> best{};
    size_t count = 0;
    for (const EncodingName& entry : kNames) {
        const size_t distance = mvbNameDistance(folded, foldName(entry.name));
        auto* found = std::find_if(best.begin(), best.begin() + count,
                                   [&](const Candidate& c) { return c.number == entry.number; });
        if (found == best.begin() + count) {
            best[count++] = {distance, entry.number};
        } else if (distance < found->distance) {
            found->distance = distance;
        }
    }
    std::stable_sort(
        best.begin(), best.begin() + count,
        [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
    std::string joined;
    for (size_t i = 0; i < std::min<size_t>(count, 3); ++i) {
        if (!joined.empty()) {
            joined += ", ";
        }
        joined += shownName(best[i].number).name;
    }
    return MvbString(joined);
}
