#include "mvb/text_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace {

std::string pattern(size_t length, size_t seed) {
    std::string text(length, ' ');
    for (size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return text;
}

void expectHolds(const mvb::TextBytes& bytes, std::string_view text) {
    EXPECT_EQ(std::string_view(bytes), text);
    EXPECT_EQ(bytes.c_str()[text.size()], '\0');
    EXPECT_GE(bytes.capacity(), text.size());
}

// Every length up to past the inline room and the short-copy sizes, each assigned after every
// other, so that each copy lands on a longer and a shorter text, inline and on the heap: from
// bytes, from bytes that can be read past the text (the padded copy of a short text), and
// from another text (whose short texts go over as one block).
TEST(TextBytes, AssignsEveryLengthAfterEveryOther) {
    enum class Way { Bytes, Padded, Copy };
    for (const Way way : {Way::Bytes, Way::Padded, Way::Copy}) {
        for (size_t before = 0; before <= 40; ++before) {
            for (size_t length = 0; length <= 40; ++length) {
                mvb::TextBytes bytes;
                const std::string first = pattern(before, 1);
                // Readable past its end, as the padded copy needs; the bytes after the text
                // must not become part of it.
                const std::string padded =
                    pattern(length, 2) + std::string(mvb::TextBytes::kPaddedReadBytes, 'x');
                const std::string_view second(padded.data(), length);
                bytes.assign(first.data(), first.size());
                if (way == Way::Bytes) {
                    bytes.assign(second.data(), second.size());
                } else if (way == Way::Padded) {
                    bytes.assignPadded(second.data(), second.size());
                } else {
                    mvb::TextBytes other;
                    other.assign(pattern(60, 3).data(), 60);  // a heap text, then a shorter one
                    other.assign(second.data(), second.size());
                    bytes = other;
                }
                SCOPED_TRACE(testing::Message()
                             << static_cast<int>(way) << ": " << before << " then " << length);
                expectHolds(bytes, second);
            }
        }
    }
}

// A text assigned from part of itself, short and long, and from all of its storage.
TEST(TextBytes, AssignsFromItsOwnBytes) {
    for (const size_t length : {3, 7, 12, 20, 23, 40, 300}) {
        SCOPED_TRACE(length);
        const std::string text = pattern(length, 3);
        mvb::TextBytes bytes;
        bytes.assign(text.data(), text.size());
        bytes.assign(bytes.data() + 1, length - 1);
        expectHolds(bytes, std::string_view(text).substr(1));

        const std::string full = pattern(bytes.capacity(), 4);
        bytes.assign(full.data(), full.size());
        bytes.assign(bytes.data(), bytes.size());
        expectHolds(bytes, full);
    }
}

TEST(TextBytes, CopiesMovesTruncatesAndReleases) {
    for (const size_t length : {5, 23, 24, 200}) {
        SCOPED_TRACE(length);
        const std::string text = pattern(length, 5);
        mvb::TextBytes original;
        original.assign(text.data(), text.size());

        mvb::TextBytes copy(original);
        expectHolds(copy, text);
        mvb::TextBytes moved(std::move(copy));
        expectHolds(moved, text);
        expectHolds(copy, "");  // NOLINT(bugprone-use-after-move): left empty on purpose

        mvb::TextBytes target;
        const std::string other = pattern(300, 6);
        target.assign(other.data(), other.size());
        target = std::move(moved);
        expectHolds(target, text);
        target = original;
        expectHolds(target, text);

        target.truncate(length / 2);
        expectHolds(target, std::string_view(text).substr(0, length / 2));
        target.release();
        expectHolds(target, "");
        EXPECT_LT(target.capacity(), 32u);
        // Still usable after its storage went.
        target.assign(text.data(), text.size());
        expectHolds(target, text);
    }
}

}  // namespace
