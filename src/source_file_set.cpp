#include "source_file_set.h"

#include "source_settings.h"

#include "mvb/path.h"
#include "mvb/types.h"

uint32_t sourceOpenFlags(bool byteOrderMark, bool replaceNulls) noexcept {
    return (byteOrderMark ? MVB_FLAG_READ_BOM : 0u) | (replaceNulls ? MVB_FLAG_REPLACE_NULS : 0u);
}

FileSetStep SourceFileSet::select(const char* fileName, MvbString& errorText) {
    close();
    plainPath_.assign(fileName);
    listing_ = mvbDirectoryOpen(fileName, MVB_DIR_FILES, errorText);
    if (listing_ == nullptr || listing_->moveNext()) return FileSetStep::Ready;
    listing_->getLastError(errorText);
    return errorText.empty() ? FileSetStep::Finished : FileSetStep::Failed;
}

bool SourceFileSet::openSelected(const SourceOpenSettings& settings, MvbString& errorText) {
    settings_ = settings;
    closeFile();
    if (listing_ != nullptr) {
        file_ =
            listing_->openCurrent(MVB_OPEN_READ, settings_.encoding, settings_.flags, errorText);
        if (file_ == nullptr) return false;
        listing_->getCurrentName(currentName_);
        return true;
    }
    file_ = mvbTxtFileOpen(plainPath_.asCstr(), MVB_OPEN_READ, settings_.encoding, settings_.flags,
                           errorText);
    if (file_ == nullptr) return false;
    char directory[256];
    char name[256];
    if (np_fio_pparse(plainPath_.asCstr(), directory, sizeof directory, name, sizeof name) == 0) {
        currentName_.assign(name);
    }
    return true;
}

FileSetStep SourceFileSet::advance(MvbString& errorText) {
    closeFile();
    if (listing_ == nullptr) return FileSetStep::Finished;
    if (!listing_->moveNext()) {
        listing_->getLastError(errorText);
        return errorText.empty() ? FileSetStep::Finished : FileSetStep::Failed;
    }
    listing_->getCurrentName(currentName_);
    file_ = listing_->openCurrent(MVB_OPEN_READ, settings_.encoding, settings_.flags, errorText);
    return file_ != nullptr ? FileSetStep::Ready : FileSetStep::Failed;
}

void SourceFileSet::closeFile() noexcept {
    if (file_ != nullptr) {
        MvbTxtFile* file = file_;
        file_ = nullptr;
        file->close();
    }
}

void SourceFileSet::close() noexcept {
    closeFile();
    if (listing_ != nullptr) {
        MvbDirectoryListing* listing = listing_;
        listing_ = nullptr;
        listing->close();
    }
}

bool openSourceFiles(SourceFileSet& files, const SourceFileSettings& settings,
                     const StepMessages& messages, std::source_location where) {
    MvbString errorText;
    switch (files.select(settings.fileName.asCstr(), errorText)) {
        case FileSetStep::Ready:
            break;
        case FileSetStep::Finished:
            messages.report(StepMessageId(97, where), settings.fileName.view());
            return false;
        case FileSetStep::Failed:
            messages.host()->reportError(errorText);
            return false;
    }
    const SourceOpenSettings open{settings.encoding,
                                  sourceOpenFlags(settings.byteOrderMark, settings.replaceNulls)};
    if (files.openSelected(open, errorText)) return true;
    messages.host()->reportError(errorText);
    return false;
}
