#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "support/textfile_support.h"

namespace textfile_test {
namespace {

// The encodings that the text files convert without the system's converter. Whatever a file
// reads or writes in them must be exactly what that converter makes of the same bytes, and it
// must fail where the converter fails.
const char* const kEncodings[] = {
    "ASCII",       "CP437",      "CP850",       "CP866",       "CP1250",      "CP1251",
    "CP1252",      "CP1253",     "CP1254",      "CP1256",      "CP1257",      "ISO-8859-1",
    "ISO-8859-2",  "ISO-8859-3", "ISO-8859-4",  "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",
    "ISO-8859-8",  "ISO-8859-9", "ISO-8859-10", "ISO-8859-11", "ISO-8859-13", "ISO-8859-14",
    "ISO-8859-15", "UTF-16LE",   "UTF-16BE"};

/// `text` converted by the system's converter; false when it cannot convert all of it.
bool systemConvert(const char* to, const char* from, const std::string& text, std::string* out) {
    const iconv_t handle = iconv_open(to, from);
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "the system cannot convert " << from << " to " << to;
        return false;
    }
    std::string result(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPos = result.data();
    size_t outLeft = result.size();
    const bool done = iconv(handle, &in, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1);
    iconv_close(handle);
    result.resize(result.size() - outLeft);
    *out = result;
    return done;
}

/// The UTF-8 bytes of `code` (a code point that is no surrogate).
std::string utf8Of(uint32_t code) {
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    if (code >= 0x80) text += static_cast<char>(0x80 | (code & 0x3F));
    return text;
}

int numberOf(const char* name) {
    int number = 0;
    EXPECT_TRUE(mvbEncodingFromName(name, &number)) << name;
    return number;
}

bool isUtf16(const std::string& name) {
    return name.rfind("UTF-16", 0) == 0;
}

/// `unit` as the two bytes of a UTF-16 unit in `name`'s byte order.
std::string unitBytes(const std::string& name, uint32_t unit) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    return name == "UTF-16BE" ? std::string{high, low} : std::string{low, high};
}

/// A random line of `name`'s bytes without a line end: mostly ASCII and characters the
/// encoding has, now and then something it lacks (a byte of no character, a lone surrogate).
std::string randomLine(const std::string& name, std::mt19937& random) {
    std::string line;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
        const uint32_t pick = random() % 1000;
        uint32_t code = pick < 600 ? 0x20 + random() % 0x5F : random() % 0x10000;
        if (!isUtf16(name)) {
            code &= 0xFF;
            line += static_cast<char>(code == '\n' || code == '\r' ? 'x' : code);
            continue;
        }
        if (code == '\n' || code == '\r') code = 'y';
        if (code >= 0xD800 && code < 0xE000 && random() % 4 != 0) {
            // A pair, most of the time; a lone half at times.
            line += unitBytes(name, 0xD800 + random() % 0x400);
            code = 0xDC00 + random() % 0x400;
        }
        line += unitBytes(name, code);
    }
    return line;
}

TEST(DirectCodec, ReadsWhatTheSystemConverterReads) {
    std::mt19937 random(20261209);
    TempDir dir;
    const std::string path = dir.file("in.txt");
    for (const std::string name : kEncodings) {
        SCOPED_TRACE(name);
        const std::string lineEnd = isUtf16(name) ? unitBytes(name, '\n') : "\n";
        for (int trial = 0; trial < 40; ++trial) {
            std::string bytes;
            std::vector<std::string> expected;
            bool failed = false;
            for (int k = 0; k < 6; ++k) {
                const std::string line = randomLine(name, random);
                bytes += line + lineEnd;
                std::string text;
                if (failed) continue;
                failed = !systemConvert("UTF-8", name.c_str(), line, &text);
                expected.push_back(failed ? "<error" : text);
            }
            if (isUtf16(name) && trial % 8 == 0) {
                bytes += bytes.back();  // half a unit at the end
                if (!failed) expected.push_back("<error");
            }
            writeBytes(path, bytes);
            for (const size_t bufferBytes : {size_t{5}, size_t{0}}) {
                MvbTxtFile* file =
                    openWith(path, MVB_OPEN_READ, numberOf(name.c_str()), 0, bufferBytes);
                ASSERT_NE(file, nullptr);
                std::vector<std::string> lines = readAllLines(file);
                file->close();
                if (!lines.empty() && lines.back().rfind("<error", 0) == 0) {
                    lines.back() = "<error";
                }
                EXPECT_EQ(lines, expected) << "trial " << trial << ", buffer " << bufferBytes;
            }
        }
    }
}

/// A random UTF-8 text: mostly ASCII, then Latin, other letters of the first plane and now and
/// then one past it, a malformed sequence or a sequence cut short at the end.
std::string randomUtf8(std::mt19937& random) {
    static const char* const kFaults[] = {
        "\x80",     "\xC3",     "\xE2\x82",         "\xED\xA0\x80",
        "\xF0\x9F", "\xC0\xAF", "\xF4\x90\x80\x80", "\xFF"};
    std::string text;
    const int length = static_cast<int>(random() % 30);
    for (int k = 0; k < length; ++k) {
        const uint32_t pick = random() % 1000;
        uint32_t code = 0x20 + random() % 0x5F;
        if (pick >= 990) {
            text += kFaults[random() % std::size(kFaults)];
            continue;
        }
        if (pick >= 800) code = 0xA0 + random() % 0x60;
        if (pick >= 900) code = 0x100 + random() % 0x2000;
        if (pick >= 980) code = 0x10000 + random() % 0x1000;
        text += utf8Of(code);
    }
    return text;
}

TEST(DirectCodec, WritesWhatTheSystemConverterWrites) {
    std::mt19937 random(1209);
    TempDir dir;
    const std::string path = dir.file("out.txt");
    for (const std::string name : kEncodings) {
        SCOPED_TRACE(name);
        MvbTxtFile* file = openWith(path, MVB_OPEN_CREATE, numberOf(name.c_str()), 0);
        ASSERT_NE(file, nullptr);
        std::string expected;
        for (int k = 0; k < 400; ++k) {
            const std::string text = randomUtf8(random);
            std::string bytes;
            const bool converts = systemConvert(name.c_str(), "UTF-8", text, &bytes);
            EXPECT_EQ(file->writeChars(text.data(), static_cast<int>(text.size())), converts)
                << "text " << k;
            if (converts) expected += bytes;
        }
        // Every character of the first plane on its own.
        for (uint32_t code = 1; code < 0x10000; ++code) {
            if (code >= 0xD800 && code < 0xE000) continue;
            const std::string text = utf8Of(code);
            std::string bytes;
            const bool converts = systemConvert(name.c_str(), "UTF-8", text, &bytes);
            ASSERT_EQ(file->writeChars(text.data(), static_cast<int>(text.size())), converts)
                << "U+" << std::hex << code;
            if (converts) expected += bytes;
        }
        ASSERT_TRUE(file->flush());
        file->close();
        EXPECT_TRUE(readBytes(path) == expected);
    }
}

// In code pages 1255 and 1258 every byte is a character of its own: a letter and the accents
// after it are not joined when read, so that text read and written again in the same code page
// keeps its bytes.
TEST(DirectCodec, CodePagesWithAccentsKeepEachByteACharacter) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    const struct {
        const char* name;
        std::string bytes;
        std::string text;
        /// A joined character the code page has no byte for, written as the text's parts.
        std::string joined = {};
    } cases[] = {
        {"CP1258", "a\xEC", "a\u0301"},
        {"CP1258", "A\xDE\xD2", "A\u0303\u0309"},
        {"CP1258", "A\xF2", "A\u0323", "\u1EA0"},
        {"CP1255", "\xE1\xCC", "\u05D1\u05BC", "\uFB31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.text);
        writeBytes(path, c.bytes + "\n");
        MvbTxtFile* file = openWith(path, MVB_OPEN_READ, numberOf(c.name), 0);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(readAllLines(file), std::vector<std::string>{c.text});
        file->close();
        for (const std::string& written : {c.text, c.joined}) {
            if (written.empty()) continue;
            file = openWith(path, MVB_OPEN_CREATE, numberOf(c.name), 0);
            ASSERT_NE(file, nullptr);
            EXPECT_TRUE(file->writeLine(written.c_str())) << lastError(file);
            EXPECT_TRUE(file->flush()) << lastError(file);
            file->close();
            EXPECT_EQ(readBytes(path), c.bytes + "\n") << written;
        }
    }
}

}  // namespace
}  // namespace textfile_test
