#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "mvb/byte_scan.h"

namespace {

using mvb::scan::kBlockBytes;

// The block masks, both ways of making them, and the finder that hands out their positions,
// against a byte loop: texts of every length up to a little over two blocks, each held in
// exactly its own bytes (the sanitizers catch a read past them), the byte looked for at every
// offset, among bytes that differ from it in one bit (where a word-wise compare could borrow or
// carry into a neighbour) and at random other places.
TEST(ByteScan, BlockMasksFindWhatAByteLoopFinds) {
    using mvb::scan::blockMaskUpTo;
    using MaskFn = uint64_t (*)(const char*, size_t, char);
    const struct {
        const char* name;
        MaskFn mask;
        char c;
    } cases[] = {
        {"words, quote", blockMaskUpTo<mvb::scan::chunkMaskWords>, '"'},
        {"words, line feed", blockMaskUpTo<mvb::scan::chunkMaskWords>, '\n'},
        {"words, carriage return", blockMaskUpTo<mvb::scan::chunkMaskWords>, '\r'},
        {"words, high byte", blockMaskUpTo<mvb::scan::chunkMaskWords>, '\x80'},
        {"words, all bits", blockMaskUpTo<mvb::scan::chunkMaskWords>, '\xFF'},
#if defined(__SSE2__)
        {"vector, quote", blockMaskUpTo<mvb::scan::chunkMaskVector>, '"'},
        {"vector, line feed", blockMaskUpTo<mvb::scan::chunkMaskVector>, '\n'},
        {"vector, high byte", blockMaskUpTo<mvb::scan::chunkMaskVector>, '\x80'},
#endif
    };
    std::mt19937 random(20261208);
    for (const auto& c : cases) {
        const char near[] = {c.c,
                             static_cast<char>(c.c ^ 1),
                             static_cast<char>(c.c ^ 0x80),
                             static_cast<char>(c.c - 1),
                             static_cast<char>(c.c + 1),
                             '\0',
                             'a'};
        for (size_t length = 0; length <= 2 * kBlockBytes + 8; ++length) {
            for (size_t offset = 0; offset < length; ++offset) {
                std::vector<char> text(length);
                for (char& byte : text)
                    byte = near[random() % sizeof near];
                text[offset] = c.c;
                for (size_t from = 0; from < length; from += 1 + from % 7) {
                    const size_t count = std::min(length - from, kBlockBytes);
                    uint64_t expected = 0;
                    for (size_t i = 0; i < count; ++i)
                        expected |= static_cast<uint64_t>(text[from + i] == c.c) << i;
                    ASSERT_EQ(c.mask(text.data() + from, count, c.c), expected)
                        << c.name << ", length " << length << ", offset " << offset;
                    // A last part chunk read in place, over the bytes before it.
                    ASSERT_EQ(mvb::scan::blockMaskUpToAfter(text.data() + from, count, c.c, from),
                              expected)
                        << c.name << ", length " << length << ", from " << from;
                }
                std::vector<size_t> found;
                mvb::scan::ByteFinder finder(text.data(), text.data() + length, c.c);
                for (size_t at = finder.next(0); at < length; at = finder.next(at + 1))
                    found.push_back(at);
                std::vector<size_t> expected;
                for (size_t i = 0; i < length; ++i)
                    if (text[i] == c.c) expected.push_back(i);
                ASSERT_EQ(found, expected)
                    << c.name << ", length " << length << ", offset " << offset;
            }
        }
    }
}

// The line-length search: inline chunks, a last part chunk read over the bytes before it, and
// memchr past the first 128 bytes; each text is exactly its own bytes.
TEST(ByteScan, FindByteStopsAtTheFirstOccurrence) {
    std::mt19937 random(20261210);
    for (size_t length = 0; length <= 300; ++length) {
        for (int round = 0; round < 12; ++round) {
            std::vector<char> text(length);
            for (char& byte : text)
                byte = "\n\x0B\x8A\ra"[random() % 5 == 0 ? 1 + random() % 4 : 4];
            size_t expected = length;
            if (round % 3 != 0 && length > 0) {
                expected = random() % length;
                text[expected] = '\n';
                if (round % 2 == 0 && expected + 1 < length) text[length - 1] = '\n';
            }
            const char* begin = text.data();
            ASSERT_EQ(mvb::scan::findByte(begin, begin + length, '\n') - begin,
                      static_cast<std::ptrdiff_t>(expected))
                << "length " << length << ", round " << round;
        }
    }
}

// Padding is cut from the end whatever the text's length and wherever its last kept byte lies:
// each text is held in exactly its own bytes (the sanitizers catch a read outside them), with
// blanks, tabs and bytes one bit away from them (which a word-wise compare could mistake) on
// both sides of the last kept byte.
TEST(ByteScan, TrimmedBlankLengthIsWhereTheLastKeptByteEnds) {
    std::mt19937 random(20261211);
    for (size_t length = 0; length <= 40; ++length) {
        for (size_t kept = 0; kept <= length; ++kept) {
            std::vector<char> text(length);
            for (size_t i = 0; i < length; ++i)
                text[i] = i + 1 < kept ? "x \t!\x08\xA0"[random() % 6] : " \t"[random() % 2];
            if (kept != 0) text[kept - 1] = "x!\x08\xA0\x01"[random() % 5];
            ASSERT_EQ(mvbTrimmedBlankLength(text.data(), length), kept)
                << "length " << length << ", kept " << kept;
        }
    }
}

}  // namespace
