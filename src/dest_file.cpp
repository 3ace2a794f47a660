#include "dest_file.h"

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
    }
    return true;
}

bool DestFile::fail(StepHost* host) const {
    MvbString error;
    if (file_ != nullptr) file_->getLastError(error);
    host->reportError(error);
    return false;
}

bool DestFile::flushAndClose(StepHost* host) {
    if (file_ == nullptr) return true;
    const bool flushed = file_->flush();
    if (!flushed) fail(host);
    discard();
    return flushed;
}

void DestFile::discard() noexcept {
    if (file_ != nullptr) {
        MvbTxtFile* file = file_;
        file_ = nullptr;
        file->close();
    }
}

int DestFile::endOfData(StepHost* host, bool* failed) {
    if (flushAndClose(host)) return 1;
    *failed = true;
    return 2;
}

void DestFile::finishRun(StepHost* host, bool wrote, bool* failed, const char* summary,
                         const MvbString& fileName) {
    if (!wrote || *failed) {
        discard();
        return;
    }
    if (!flushAndClose(host)) {
        *failed = true;
        return;
    }
    host->reportInfo(MvbString(summary, false), true);
    host->reportInfo(fileName, false);
}
