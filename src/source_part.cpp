#include "source_part.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mvb/parts.h"

namespace {

/// Where the records after the head records begin: the data start (after a byte-order mark)
/// moved past `layout.headRecords` records. The file is read from its start for it.
bool headEnd(MvbTxtFile* file, const RecordLayout& layout, uint64_t dataStart, uint64_t* end) {
    *end = dataStart;
    if (layout.headRecords <= 0) return true;
    if (layout.recordWidth > 0) {
        *end = std::min(file->getSize(),
                        dataStart + uint64_t(layout.headRecords) * uint64_t(layout.recordWidth));
        return true;
    }
    for (int i = 0; i < layout.headRecords; ++i) {
        bool lineEnded = false;
        const int skipped = file->skip(-1, &lineEnded);
        if (skipped < 0) return false;
        if (skipped == 0 && !lineEnded) break;
    }
    *end = file->getPosition();
    return true;
}

/// Where the part `part` of `count` begins: 1 with `*at` set, 0 when the records cannot be
/// told apart there, negative on failure.
int partStart(MvbTxtFile* file, const RecordLayout& layout, uint64_t dataStart, uint64_t head,
              int part, int count, uint64_t* at) {
    const uint64_t size = file->getSize();
    if (part == 0) {
        *at = dataStart;
        return 1;
    }
    if (part >= count) {
        *at = size;
        return 1;
    }
    const uint64_t offset = std::max(mvbPartOffset(size, part, count), dataStart);
    if (layout.recordWidth > 0) {
        const uint64_t width = static_cast<uint64_t>(layout.recordWidth);
        *at = dataStart + (offset - dataStart + width - 1) / width * width;
    } else {
        const int found = file->findRecordStart(offset, layout.quoting, at);
        if (found != 1) return found;
    }
    *at = std::min(std::max(*at, head), size);
    return 1;
}

/// Leaves the file to part 0: the other parts warn, naming why, and read nothing.
void leaveToFirstPart(SourceFileSet& files, const SourcePart& part, StepHost* host,
                      const char* why) {
    if (part.index == 0) return;
    const std::string text = "file \"" + std::string(files.currentName().view()) +
                             "\" is read whole by part 0, so part " + std::to_string(part.index) +
                             " reads nothing of it: " + why;
    host->getLog()->logMessage(1, MvbString(text));
    files.closeFile();
}

bool reportFailure(MvbTxtFile* file, StepHost* host) {
    MvbString errorText;
    file->getLastError(errorText);
    host->reportError(errorText);
    return false;
}

}  // namespace

bool readSourcePart(SourceFileSet& files, const RecordLayout& layout, StepHost* host,
                    PartReading* reading) {
    *reading = PartReading{};
    if (layout.headRecords < 0) {
        // As the step was asked, but hardly as meant: say why no row will come.
        const char* what = layout.recordWidth == 0 ? "line" : "record";
        host->getLog()->logMessage(
            1, MvbString("SKIPROWS is negative, so every " + std::string(what) +
                         " of every file is skipped and the step gives no rows; give the number "
                         "of head " +
                         what + "s to skip, 0 or more"));
    }
    const SourcePart part = sourcePartOf(host);
    if (part.split() && layout.rowLimit > 0) {
        // Each part counts its own rows: the parts joined are not the whole run's first rows.
        host->getLog()->logMessage(
            1, MvbString("MAX_OUTPUT_ROWS " + std::to_string(layout.rowLimit) +
                         " counts the rows of this part only, so the parts joined may hold up "
                         "to " +
                         std::to_string(part.count) +
                         " times as many; run the job whole to get the first rows of the data"));
    }
    MvbTxtFile* file = files.file();
    if (!part.split() || files.isFileSet() || file == nullptr) return true;

    uint64_t dataStart = 0;
    const int movable = file->findRecordStart(0, nullptr, &dataStart);
    if (movable < 0) return reportFailure(file, host);
    if (movable == 0) {
        struct stat info {};
        if (::stat(files.plainPath().asCstr(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_size == 0) {
            // An empty file: no part has anything of it to read.
            if (part.index != 0) files.closeFile();
            return true;
        }
        leaveToFirstPart(files, part, host,
                         "it is standard input or gzip data, which is read from its start only");
        return true;
    }
    if (layout.headRecords < 0) {
        // Every line is a head line: there is nothing to share.
        leaveToFirstPart(files, part, host, "SKIPROWS is negative, so every line is skipped");
        return true;
    }
    uint64_t head = dataStart;
    if (!headEnd(file, layout, dataStart, &head)) return reportFailure(file, host);

    // Where records may hold line ends, a part can only be sure of its own range when every
    // part finds its start: otherwise part 0 reads the whole file. Starts found further on
    // than the next part's are taken back to it, so that the ranges follow each other.
    const bool everyStart = layout.quoting != nullptr && layout.recordWidth == 0;
    const int first = everyStart ? 0 : part.index;
    const int last = everyStart ? part.count : part.index + 1;
    std::vector<uint64_t> starts(static_cast<size_t>(last - first + 1));
    for (int k = first; k <= last; ++k) {
        const int found = partStart(file, layout, dataStart, head, k, part.count,
                                    &starts[static_cast<size_t>(k - first)]);
        if (found < 0) return reportFailure(file, host);
        if (found == 0) {
            if (!file->readRange(dataStart, file->getSize())) return reportFailure(file, host);
            leaveToFirstPart(files, part, host,
                             "its records cannot be told apart at a byte position (quoted "
                             "values that hold line ends, read from either side of one, never "
                             "agree on where a record starts)");
            return true;
        }
    }
    for (size_t i = starts.size() - 1; i > 0; --i)
        starts[i - 1] = std::min(starts[i - 1], starts[i]);
    const uint64_t begin = starts[static_cast<size_t>(part.index - first)];
    const uint64_t end = starts[static_cast<size_t>(part.index - first + 1)];
    if (!file->readRange(begin, end)) return reportFailure(file, host);
    reading->skipsHead = part.index == 0;
    reading->ranged = true;
    return true;
}
