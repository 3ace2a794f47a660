#include "source_progress.h"

#include <cinttypes>
#include <cstdio>

namespace {

/// Files of this many bytes or more are shown in MB, smaller ones in KB.
constexpr int64_t kMegabyteThreshold = 31622776;

}  // namespace

int formatSourceByteStatus(const MvbTxtFile* file, uint64_t rows, MvbString* text) {
    char buffer[96];
    if (file == nullptr) {
        std::snprintf(buffer, sizeof buffer, "Read %" PRIu64 " rows", rows);
        text->assign(buffer);
        return 0;
    }
    const auto size = static_cast<int64_t>(file->getSize());
    const auto position = static_cast<int64_t>(file->getPosition());
    int percent = 0;
    int64_t unit = 1000;
    const char* unitName = "KB";
    if (size != 0) {
        percent = static_cast<int>(position * 100 / size);
        if (size >= kMegabyteThreshold) {
            unit = 1000000;
            unitName = "MB";
        }
    }
    std::snprintf(buffer, sizeof buffer, "Read %d/%d %s (%" PRIu64 " rows)",
                  static_cast<int32_t>(position / unit), static_cast<int32_t>(size / unit),
                  unitName, rows);
    text->assign(buffer);
    return percent;
}

int formatSourceRowStatus(uint64_t rows, uint64_t expected, MvbString* text) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "Read %" PRIu64 " of %" PRIu64 " rows", rows, expected);
    text->assign(buffer);
    return expected == 0 ? 0 : static_cast<int>(static_cast<uint32_t>(rows * 100 / expected));
}

bool estimateSourceRows(const MvbTxtFile* file, uint64_t rows, uint64_t* estimate) {
    *estimate = 0;
    if (file == nullptr) return false;
    const auto position = static_cast<int64_t>(file->getPosition());
    if (position == 0) return false;
    const auto size = static_cast<int64_t>(file->getSize());
    *estimate = static_cast<uint64_t>(static_cast<double>(size) / static_cast<double>(position) *
                                      static_cast<double>(rows));
    return true;
}

void reportSourceSummary(StepHost* host, uint64_t rows) {
    host->reportInfo(MvbString("Input file: ", true), true);
    host->reportInfo(host->getPropertyValues()->getValue(0, true).asString(), false);
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 " rows read", rows);
    host->reportInfo(MvbString(text, false), false);
}
