// The word-at-a-time byte scans of mvb/byte_scan.h against what they replace: strlen and a byte
// loop for a field's length, a byte loop for trailing blanks, memchr and a byte loop for the
// next delimiter. Each runs over many short texts of the lengths the row path sees (argument:
// the text length in bytes), so the call overhead counts as it does there.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "mvb/byte_scan.h"

namespace {

constexpr int kTexts = 4096;

/// `kTexts` texts of `length` letters, each NUL-terminated and padded as the scratch line is.
struct Fields {
    explicit Fields(size_t length) : stride(length + 1 + kMvbScanPadding) {
        bytes.assign(stride * kTexts, '\0');
        for (int t = 0; t < kTexts; ++t) {
            // Lengths vary a little around `length`, so branch prediction cannot learn one.
            const size_t n = length == 0 ? 0 : length - static_cast<size_t>(t % 3 == 0);
            std::memset(&bytes[stride * static_cast<size_t>(t)], 'a' + t % 26, n);
        }
    }
    const char* text(int t) const { return &bytes[stride * static_cast<size_t>(t)]; }
    char* text(int t) { return &bytes[stride * static_cast<size_t>(t)]; }
    size_t stride;
    std::vector<char> bytes;
};

size_t loopLength(const char* text) {
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

void BM_LengthPadded(benchmark::State& state) {
    const Fields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t)
            benchmark::DoNotOptimize(mvbPaddedStringLength(fields.text(t)));
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

void BM_LengthStrlen(benchmark::State& state) {
    const Fields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            const char* text = fields.text(t);
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(std::strlen(text));
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

void BM_LengthLoop(benchmark::State& state) {
    const Fields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            const char* text = fields.text(t);
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(loopLength(text));
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

/// A fixed-width field: a few letters, then blanks to `length`.
struct PaddedFields : Fields {
    explicit PaddedFields(size_t length) : Fields(length) {
        for (int t = 0; t < kTexts; ++t) {
            const size_t letters = static_cast<size_t>(t % 5);
            std::memset(text(t) + (letters < length ? letters : length), ' ',
                        letters < length ? length - letters : 0);
        }
    }
};

void BM_TrimWords(benchmark::State& state) {
    const auto length = static_cast<size_t>(state.range(0));
    const PaddedFields fields(length);
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t)
            benchmark::DoNotOptimize(mvbTrimmedBlankLength(fields.text(t), length));
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

void BM_TrimLoop(benchmark::State& state) {
    const auto length = static_cast<size_t>(state.range(0));
    const PaddedFields fields(length);
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            const char* text = fields.text(t);
            benchmark::DoNotOptimize(text);
            size_t n = length;
            while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t'))
                --n;
            benchmark::DoNotOptimize(n);
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

/// The next delimiter: each text is `length` letters and then a comma.
struct DelimitedFields : Fields {
    explicit DelimitedFields(size_t length) : Fields(length + 1) {
        for (int t = 0; t < kTexts; ++t)
            text(t)[mvbPaddedStringLength(text(t))] = ',';
    }
};

void BM_FindWords(benchmark::State& state) {
    DelimitedFields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            char* text = fields.text(t);
            benchmark::DoNotOptimize(mvbFindByte(text, text + fields.stride, ','));
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

void BM_FindMemchr(benchmark::State& state) {
    DelimitedFields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            char* text = fields.text(t);
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(std::memchr(text, ',', fields.stride));
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

void BM_FindLoop(benchmark::State& state) {
    DelimitedFields fields(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (int t = 0; t < kTexts; ++t) {
            char* text = fields.text(t);
            benchmark::DoNotOptimize(text);
            char* end = text + fields.stride;
            char* p = text;
            while (p < end && *p != ',')
                ++p;
            benchmark::DoNotOptimize(p);
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
}

#define TEXT_LENGTHS Arg(3)->Arg(8)->Arg(16)->Arg(40)->Arg(200)

BENCHMARK(BM_LengthPadded)->TEXT_LENGTHS;
BENCHMARK(BM_LengthStrlen)->TEXT_LENGTHS;
BENCHMARK(BM_LengthLoop)->TEXT_LENGTHS;
BENCHMARK(BM_TrimWords)->TEXT_LENGTHS;
BENCHMARK(BM_TrimLoop)->TEXT_LENGTHS;
BENCHMARK(BM_FindWords)->TEXT_LENGTHS;
BENCHMARK(BM_FindMemchr)->TEXT_LENGTHS;
BENCHMARK(BM_FindLoop)->TEXT_LENGTHS;

}  // namespace

BENCHMARK_MAIN();
