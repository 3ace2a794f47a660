// Line reading throughput on a large UTF-8 CSV file in the page cache: a plain buffered
// newline count as the ceiling, readLine over the whole file, and readLine with the line
// splitter on every line.
//
// The file (256 MiB unless TEXT_BENCH_MB says otherwise) is generated once in the temporary
// folder and reused by later runs.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "mvb/parse.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

namespace {

size_t targetBytes() {
    const char* megabytes = std::getenv("TEXT_BENCH_MB");
    return static_cast<size_t>(megabytes != nullptr ? std::atoi(megabytes) : 256) << 20;
}

/// Builds the CSV file once: six fields per line, some quoted, some with non-ASCII letters.
const std::string& csvPath() {
    static const std::string path = [] {
        const size_t size = targetBytes();
        const std::string file = (std::filesystem::temp_directory_path() /
                                  ("readline_bench_" + std::to_string(size >> 20) + "mb.csv"))
                                     .string();
        struct stat info {};
        if (stat(file.c_str(), &info) == 0 && static_cast<size_t>(info.st_size) >= size) {
            return file;
        }
        static const char* const kCities[] = {
            "Berlin", "K\xC3\xB6ln", "Z\xC3\xBCrich", "Paris", "\xE6\x9D\xB1\xE4\xBA\xAC", "Lyon"};
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) {
            std::perror(file.c_str());
            std::exit(1);
        }
        std::string block;
        size_t written = 0;
        for (unsigned row = 0; written < size; ++row) {
            char line[160];
            const int length = std::snprintf(
                line, sizeof line,
                "%u,customer %u,%s,\"note %u, with a comma\",%u.%02u,2024-%02u-%02u\n", row,
                row * 7919u % 100000u, kCities[row % 6], row % 977u, row % 100000u, row % 100u,
                row % 12u + 1u, row % 28u + 1u);
            block.append(line, static_cast<size_t>(length));
            if (block.size() >= (1u << 20)) {
                std::fwrite(block.data(), 1, block.size(), out);
                written += block.size();
                block.clear();
            }
        }
        std::fclose(out);
        return file;
    }();
    return path;
}

size_t fileSize() {
    struct stat info {};
    stat(csvPath().c_str(), &info);
    return static_cast<size_t>(info.st_size);
}

void BM_PlainNewlineCount(benchmark::State& state) {
    auto buffer = std::make_unique<char[]>(1u << 20);
    for (auto _ : state) {
        const int fd = ::open(csvPath().c_str(), O_RDONLY);
        size_t lines = 0;
        for (ssize_t got; (got = ::read(fd, buffer.get(), 1u << 20)) > 0;) {
            const char* at = buffer.get();
            const char* end = at + got;
            while ((at = static_cast<const char*>(
                        std::memchr(at, '\n', static_cast<size_t>(end - at)))) != nullptr) {
                ++lines;
                ++at;
            }
        }
        ::close(fd);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize()));
}

void BM_ReadLine(benchmark::State& state) {
    for (auto _ : state) {
        MvbString error;
        MvbTxtFile* file = mvbTxtFileOpen(csvPath().c_str(), MVB_OPEN_READ, 65001, 0, error);
        if (file == nullptr) {
            state.SkipWithError(error.asCstr());
            return;
        }
        size_t lines = 0;
        MvbTextSpan line;
        bool present = false;
        while (file->readLine(-1, &line, &present) >= 0 && present) {
            ++lines;
        }
        file->close();
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize()));
}

void BM_ReadLineSplit(benchmark::State& state) {
    constexpr int kCapacity = 16;
    char* fields[kCapacity];
    std::string scratch(1024, '\0');
    for (auto _ : state) {
        MvbString error;
        MvbTxtFile* file = mvbTxtFileOpen(csvPath().c_str(), MVB_OPEN_READ, 65001, 0, error);
        if (file == nullptr) {
            state.SkipWithError(error.asCstr());
            return;
        }
        size_t fieldCount = 0;
        MvbTextSpan line;
        bool present = false;
        while (file->readLine(-1, &line, &present) >= 0 && present) {
            if (static_cast<size_t>(line.bytes) >= scratch.size()) {
                scratch.resize(static_cast<size_t>(line.bytes) * 2 + 1);
            }
            fieldCount += static_cast<size_t>(mvs_parse_text_ex2(const_cast<char*>(line.text),
                                                                 fields, kCapacity, scratch.data(),
                                                                 line.bytes, 0, '"', 0));
        }
        file->close();
        benchmark::DoNotOptimize(fieldCount);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize()));
}

BENCHMARK(BM_PlainNewlineCount)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadLine)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadLineSplit)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
