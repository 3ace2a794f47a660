// Value conversions on the row path: writing reals, integers and dates as text, and reading
// integers and reals from text, each over a few thousand values of one shape.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mvb/datavar.h"

namespace {

constexpr int kValues = 4096;

enum class RealShape { Money, Whole, FullPrecision, Tiny, Large };

double realOfShape(RealShape shape, int i) {
    switch (shape) {
        case RealShape::Money:
            return static_cast<double>((i * 7919) % 1000000) / 100.0;  // 1234.56
        case RealShape::Whole:
            return static_cast<double>((i * 7919) % 100000);  // 4711
        case RealShape::FullPrecision:
            return static_cast<double>(i + 1) / 7.0;  // 0.14285714285714285
        case RealShape::Tiny:
            return static_cast<double>(i + 1) * 1e-9;  // 0.000001234 or 1.234e-07
        case RealShape::Large:
            return static_cast<double>(i + 1) * 1e16;  // 12340000000000000000
    }
    return 0;
}

/// Writes each of `values` as text, as a destination does, for every round of the benchmark.
void formatAll(benchmark::State& state, const std::vector<MvbDatavar>& values) {
    char buffer[64];
    for (auto _ : state) {
        for (const MvbDatavar& value : values)
            benchmark::DoNotOptimize(value.formatText(buffer, sizeof buffer));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}

void formatReals(benchmark::State& state, RealShape shape) {
    std::vector<MvbDatavar> values;
    values.reserve(kValues);
    for (int i = 0; i < kValues; ++i)
        values.emplace_back(realOfShape(shape, i));
    formatAll(state, values);
}
BENCHMARK_CAPTURE(formatReals, money, RealShape::Money);
BENCHMARK_CAPTURE(formatReals, whole, RealShape::Whole);
BENCHMARK_CAPTURE(formatReals, full_precision, RealShape::FullPrecision);
BENCHMARK_CAPTURE(formatReals, tiny, RealShape::Tiny);
BENCHMARK_CAPTURE(formatReals, large, RealShape::Large);

void formatIntegers(benchmark::State& state) {
    std::vector<MvbDatavar> values;
    values.reserve(kValues);
    for (int i = 0; i < kValues; ++i)
        values.emplace_back(static_cast<int64_t>(i) * 104729 - 200000000);
    formatAll(state, values);
}
BENCHMARK(formatIntegers);

/// Dates of one year, every other one with a time of day, written as a destination writes them.
void formatDates(benchmark::State& state) {
    std::vector<MvbDatavar> values(kValues);
    for (int i = 0; i < kValues; ++i) {
        MvbDate date;
        const int seconds = i % 2 == 0 ? 0 : i * 7919 % 86400;
        date.assign(2024, 1 + i % 12, 1 + i % 28, seconds / 3600, seconds / 60 % 60, seconds % 60,
                    0);
        values[static_cast<size_t>(i)].assign(date);
    }
    formatAll(state, values);
}
BENCHMARK(formatDates);

/// Texts as a source hands them on: `digits`-digit integers, every third negative.
std::vector<MvbDatavar> integerTexts(int digits) {
    std::vector<MvbDatavar> texts;
    texts.reserve(kValues);
    for (int i = 0; i < kValues; ++i) {
        std::string text = i % 3 == 0 ? "-" : "";
        for (int d = 0; d < digits; ++d)
            text += static_cast<char>('1' + (i + d) % 9);
        texts.emplace_back(text.c_str());
    }
    return texts;
}

void readIntegers(benchmark::State& state) {
    const std::vector<MvbDatavar> texts = integerTexts(static_cast<int>(state.range(0)));
    bool error = false;
    for (auto _ : state) {
        for (const MvbDatavar& text : texts)
            benchmark::DoNotOptimize(text.asInt64(&error));
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(readIntegers)->Arg(3)->Arg(9)->Arg(18);

void readReals(benchmark::State& state) {
    std::vector<MvbDatavar> texts;
    texts.reserve(kValues);
    char buffer[64];
    for (int i = 0; i < kValues; ++i) {
        MvbDatavar(realOfShape(RealShape::Money, i)).formatText(buffer, sizeof buffer);
        texts.emplace_back(buffer);
    }
    bool error = false;
    for (auto _ : state) {
        for (const MvbDatavar& text : texts)
            benchmark::DoNotOptimize(text.asReal(&error));
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(readReals);

}  // namespace

BENCHMARK_MAIN();
