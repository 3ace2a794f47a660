// The word-at-a-time byte scans of mvb/byte_scan.h against what they replace: a byte loop for
// trailing blanks, memchr and a byte loop for the
// next delimiter. Each runs over many short texts of the lengths the row path sees (argument:
// the text length in bytes), so the call overhead counts as it does there. Then the block
// masks the splitter finds a line's delimiters with, against a search from each field's start.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "mvb/byte_scan.h"

namespace {

constexpr int kTexts = 4096;

/// `kTexts` texts of `length` letters, each NUL-terminated, with a word of spare bytes after.
struct Fields {
    explicit Fields(size_t length) : stride(length + 1 + 8) {
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
            text(t)[std::strlen(text(t))] = ',';
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

/// Every delimiter of one long line of `kTexts` fields of `length` letters, as the splitter
/// looks for them: a block mask made once per 64 bytes, or a search from each field's start.
std::string delimitedLine(size_t length) {
    std::string line;
    for (int t = 0; t < kTexts; ++t)
        line.append(length, static_cast<char>('a' + t % 26)).push_back(',');
    return line;
}

void BM_FieldsByBlocks(benchmark::State& state) {
    const std::string line = delimitedLine(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        mvb::scan::ByteFinder finder(line.data(), line.data() + line.size(), ',');
        for (size_t at = finder.next(0); at < line.size(); at = finder.next(at + 1))
            benchmark::DoNotOptimize(at);
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

void BM_FieldsByWords(benchmark::State& state) {
    std::string line = delimitedLine(static_cast<size_t>(state.range(0)));
    char* const end = line.data() + line.size();
    for (auto _ : state) {
        for (char* at = mvbFindByte(line.data(), end, ','); at < end;
             at = mvbFindByte(at + 1, end, ','))
            benchmark::DoNotOptimize(at);
    }
    state.SetItemsProcessed(state.iterations() * kTexts);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}

/// The two ways of making a block's mask, over 64 KiB: the portable word-wise one and the
/// vector one the build picks on x86-64.
template <uint32_t (*Chunk)(const char*, char)>
void BM_BlockMask(benchmark::State& state) {
    const std::string text = delimitedLine(15);
    for (auto _ : state) {
        for (size_t at = 0; at + mvb::scan::kBlockBytes <= text.size();
             at += mvb::scan::kBlockBytes)
            benchmark::DoNotOptimize(mvb::scan::blockMask<Chunk>(text.data() + at, ','));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

#define TEXT_LENGTHS Arg(3)->Arg(8)->Arg(16)->Arg(40)->Arg(200)

BENCHMARK(BM_TrimWords)->TEXT_LENGTHS;
BENCHMARK(BM_TrimLoop)->TEXT_LENGTHS;
BENCHMARK(BM_FindWords)->TEXT_LENGTHS;
BENCHMARK(BM_FindMemchr)->TEXT_LENGTHS;
BENCHMARK(BM_FindLoop)->TEXT_LENGTHS;
BENCHMARK(BM_FieldsByBlocks)->TEXT_LENGTHS;
BENCHMARK(BM_FieldsByWords)->TEXT_LENGTHS;
BENCHMARK_TEMPLATE(BM_BlockMask, mvb::scan::chunkMaskWords);
#if defined(__SSE2__)
BENCHMARK_TEMPLATE(BM_BlockMask, mvb::scan::chunkMaskVector);
#endif

}  // namespace

BENCHMARK_MAIN();
