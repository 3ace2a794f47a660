// Throughput of the two text sources through the host's pipeline over a 256 MB file in the page
// cache, next to the rate at which the same bytes can merely be scanned for line ends.
//
//   build-src/bin/sources_bench [--benchmark_filter=...]
//
// The data files are generated once in /tmp (text_sources_bench.csv / .fixed / .csv.gz) and
// reused. The gzip case reports the rate of the text it inflates to.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "texthost/job.h"
#include "texthost/pipeline.h"

namespace {

constexpr uint64_t kTargetBytes = 256ull << 20;
const char* const kDelimitedPath = "/tmp/text_sources_bench.csv";
const char* const kFixedPath = "/tmp/text_sources_bench.fixed";

struct Lcg {
    uint64_t state = 0x2545F4914F6CDD1Dull;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

/// One row's ten values as texts: integer, real, short string, quoted string, date, integer,
/// real, short string, quoted string, date and time.
std::vector<std::string> makeRow(Lcg& rng) {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa"};
    char buffer[64];
    std::vector<std::string> values;
    values.push_back(std::to_string(rng.next() % 10000000));
    std::snprintf(buffer, sizeof buffer, "%.3f", (rng.next() % 2000000) / 1000.0 - 1000.0);
    values.push_back(buffer);
    values.push_back(kWords[rng.next() % 6]);
    values.push_back(std::string(kWords[rng.next() % 6]) + ", " + kWords[rng.next() % 6]);
    std::snprintf(buffer, sizeof buffer, "20%02u-%02u-%02u", rng.next() % 30, 1 + rng.next() % 12,
                  1 + rng.next() % 28);
    values.push_back(buffer);
    values.push_back(std::to_string(static_cast<int>(rng.next() % 2000) - 1000));
    std::snprintf(buffer, sizeof buffer, "%.2f", (rng.next() % 100000) / 100.0);
    values.push_back(buffer);
    values.push_back(kWords[rng.next() % 6]);
    values.push_back(std::string("say \"") + kWords[rng.next() % 6] + "\" twice");
    std::snprintf(buffer, sizeof buffer, "2024-%02u-%02u %02u:%02u:%02u", 1 + rng.next() % 12,
                  1 + rng.next() % 28, rng.next() % 24, rng.next() % 60, rng.next() % 60);
    values.push_back(buffer);
    return values;
}

/// Byte widths of the fixed-width layout, one per value of makeRow.
constexpr int kWidths[10] = {8, 10, 6, 14, 10, 6, 8, 6, 20, 19};

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

bool haveFile(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && static_cast<uint64_t>(info.st_size) >= kTargetBytes;
}

void generateFiles() {
    if (haveFile(kDelimitedPath) && haveFile(kFixedPath)) return;
    FILE* delimited = std::fopen(kDelimitedPath, "wb");
    FILE* fixed = std::fopen(kFixedPath, "wb");
    Lcg rng;
    uint64_t delimitedBytes = 0, fixedBytes = 0;
    std::string line;
    while (delimitedBytes < kTargetBytes || fixedBytes < kTargetBytes) {
        const auto values = makeRow(rng);
        line.clear();
        for (size_t i = 0; i < values.size(); ++i) {
            if (i != 0) line += ',';
            line += (i == 3 || i == 8) ? quoted(values[i]) : values[i];
        }
        line += '\n';
        if (delimitedBytes < kTargetBytes) {
            std::fwrite(line.data(), 1, line.size(), delimited);
            delimitedBytes += line.size();
        }
        line.clear();
        for (size_t i = 0; i < values.size(); ++i) {
            std::string cell = values[i].substr(0, kWidths[i]);
            cell.resize(kWidths[i], ' ');
            line += cell;
        }
        line += '\n';
        if (fixedBytes < kTargetBytes) {
            std::fwrite(line.data(), 1, line.size(), fixed);
            fixedBytes += line.size();
        }
    }
    std::fclose(delimited);
    std::fclose(fixed);
}

const char* const kGzipPath = "/tmp/text_sources_bench.csv.gz";

/// Compresses the delimited file once with the system's gzip program.
bool haveGzipFile() {
    struct stat plain {};
    struct stat packed {};
    if (::stat(kGzipPath, &packed) == 0 && ::stat(kDelimitedPath, &plain) == 0 &&
        packed.st_mtime >= plain.st_mtime && packed.st_size > 0) {
        return true;
    }
    const std::string command = std::string("gzip -c -6 ") + kDelimitedPath + " > " + kGzipPath +
                                ".part && mv " + kGzipPath + ".part " + kGzipPath;
    return std::system(command.c_str()) == 0;
}

uint64_t fileSize(const char* path) {
    struct stat info {};
    ::stat(path, &info);
    return static_cast<uint64_t>(info.st_size);
}

const char* const kTypes[10] = {"integer", "real", "string", "string", "date",
                                "integer", "real", "string", "string", "datetime"};

std::string delimitedJob(const char* path = kDelimitedPath, const char* extra = "") {
    std::string fields;
    for (int i = 0; i < 10; ++i) {
        if (i != 0) fields += ',';
        fields += "[\"f" + std::to_string(i) + "\",\"" + kTypes[i] + "\",32]";
    }
    return std::string(R"({"steps":[{"type":"SOURCE_DELIMTEXT","name":"src","properties":{)") +
           R"("FILENAME":")" + path + R"(","QUOTE":"\"",)" + extra + R"("FIELDS":[)" + fields +
           "]}}]}";
}

std::string fixedJob() {
    std::string fields;
    int start = 1;
    for (int i = 0; i < 10; ++i) {
        if (i != 0) fields += ',';
        fields += "[\"f" + std::to_string(i) + "\",\"" + kTypes[i] + "\"," + std::to_string(start) +
                  "," + std::to_string(kWidths[i]) + "]";
        start += kWidths[i];
    }
    return std::string(R"({"steps":[{"type":"SOURCE_FIXEDTEXT","name":"src","properties":{)") +
           R"("FILENAME":")" + kFixedPath + R"(","CRLF_TERMINATE":true,"RECORDWIDTH":)" +
           std::to_string(start - 1) + R"(,"FIELDS":[)" + fields + "]}}]}";
}

void runSource(benchmark::State& state, const std::string& jobText, const char* path) {
    generateFiles();
    const texthost::JobDefinition job = texthost::parseJobText(jobText, "/tmp");
    uint64_t rows = 0;
    for (auto _ : state) {
        texthost::Pipeline pipeline(job);
        if (!pipeline.prepareAndStart()) {
            state.SkipWithError("the source did not start");
            return;
        }
        int result = 0;
        while ((result = pipeline.pull()) == 0)
            ++rows;
        if (result != 1) {
            state.SkipWithError("the source failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(fileSize(path) * state.iterations()));
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void BM_NewlineCount(benchmark::State& state) {
    generateFiles();
    std::vector<char> buffer(1 << 20);
    uint64_t lines = 0;
    for (auto _ : state) {
        const int fd = ::open(kDelimitedPath, O_RDONLY);
        ssize_t got = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
            const char* p = buffer.data();
            const char* end = p + got;
            while ((p = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr) {
                ++lines;
                ++p;
            }
        }
        ::close(fd);
    }
    benchmark::DoNotOptimize(lines);
    state.SetBytesProcessed(static_cast<int64_t>(fileSize(kDelimitedPath) * state.iterations()));
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}

void BM_DelimitedSource(benchmark::State& state) {
    runSource(state, delimitedJob(), kDelimitedPath);
}
/// Every line of the file holds quotes, so each is scanned for a quoted line end.
void BM_DelimitedSourceNewlinesInValues(benchmark::State& state) {
    runSource(state, delimitedJob(kDelimitedPath, R"("NEWLINES_IN_VALUES":true,)"), kDelimitedPath);
}
/// The same file gzip-compressed; bytes/s count the text it inflates to.
void BM_DelimitedSourceGzip(benchmark::State& state) {
    generateFiles();
    if (!haveGzipFile()) {
        state.SkipWithError("gzip could not compress the file");
        return;
    }
    runSource(state, delimitedJob(kGzipPath), kDelimitedPath);
}
void BM_FixedWidthSourceLines(benchmark::State& state) {
    runSource(state, fixedJob(), kFixedPath);
}

}  // namespace

BENCHMARK(BM_NewlineCount)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DelimitedSource)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DelimitedSourceNewlinesInValues)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DelimitedSourceGzip)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_FixedWidthSourceLines)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
