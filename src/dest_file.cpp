#include "dest_file.h"

#include <string>

#include "mvb/parts.h"
#include "mvb/types.h"

MvbString destFileName(StepHost* host, const MvbString& path) {
    int part = 0;
    int count = 0;
    if (!host->getPart(&part, &count)) return path;
    return MvbString(mvbPartFileName(std::string(path.view()), part, count));
}

bool runsInParts(StepHost* host) {
    return host->getPart(nullptr, nullptr);
}

bool writesTopOfOutput(StepHost* host) {
    int part = 0;
    int count = 0;
    return !host->getPart(&part, &count) || part == 0;
}

bool DestFile::open(StepHost* host, const MvbString& path, int mode, int encoding, uint32_t flags,
                    bool probe) {
    discard();
    MvbString error;
    MvbTxtFile* file = mvbTxtFileOpen(path.asCstr(), mode, encoding,
                                      probe ? flags | MVB_FLAG_PROBE : flags, error);
    if (file == nullptr) {
        host->reportError(error);
        return false;
    }
    if (probe) {
        file->close();
    } else {
        file_ = file;
        otherRecords_ = 0;
        rows_ = 0;
    }
    return true;
}

bool DestFile::fail(StepHost* host, uint64_t row) const {
    MvbString error;
    if (file_ != nullptr) file_->getLastError(error);
    if (row != 0)
        error = MvbString(std::string(error.view()) + " (writing row " + std::to_string(row) + ")");
    host->reportError(error);
    return false;
}

bool DestFile::commit(StepHost* host) {
    if (file_ == nullptr) return true;
    if (!file_->commit()) return fail(host);
    MvbTxtFile* file = file_;
    file_ = nullptr;
    file->close();
    return true;
}

uint64_t DestFile::abandon(bool keep, MvbString* keptAs, MvbString* error) noexcept {
    if (file_ == nullptr) return 0;
    MvbTxtFile* file = file_;
    file_ = nullptr;
    MvbString kept;
    // A file of no rows is not worth keeping: it holds no more than a header or a page head.
    const uint64_t records = file->abandon(keep && rows_ != 0, kept);
    if (keptAs != nullptr) *keptAs = kept;
    if (error != nullptr) file->getLastError(*error);
    file->close();
    return records > otherRecords_ ? records - otherRecords_ : 0;
}

void DestFile::discard() noexcept {
    abandon(true, nullptr);
}
