#include "source_file_set.h"

#include <sys/stat.h>

#include "source_settings.h"

#include "mvb/parts.h"
#include "mvb/path.h"
#include "mvb/types.h"

SourcePart sourcePartOf(StepHost* host) noexcept {
    SourcePart part;
    if (!host->getPart(&part.index, &part.count) || part.count < 1 || part.index < 0 ||
        part.index >= part.count) {
        return SourcePart{};
    }
    return part;
}

uint32_t sourceOpenFlags(bool byteOrderMark, bool replaceNulls) noexcept {
    return (byteOrderMark ? MVB_FLAG_READ_BOM : 0u) | (replaceNulls ? MVB_FLAG_REPLACE_NULS : 0u);
}

FileSetStep SourceFileSet::select(const char* fileName, const SourcePart& part,
                                  MvbString& errorText) {
    close();
    plainPath_.assign(fileName);
    listing_ = mvbDirectoryOpen(fileName, MVB_DIR_FILES, errorText);
    if (listing_ == nullptr) return FileSetStep::Ready;
    if (part.split()) return dealFiles(part, errorText);
    if (listing_->moveNext()) return FileSetStep::Ready;
    listing_->getLastError(errorText);
    return errorText.empty() ? FileSetStep::Finished : FileSetStep::Failed;
}

FileSetStep SourceFileSet::dealFiles(const SourcePart& part, MvbString& errorText) {
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    MvbString name;
    while (listing_->moveNext()) {
        listing_->getCurrentName(name);
        struct stat info {};
        // A file that cannot be sized counts as empty here; opening it tells why.
        sizes.push_back(stat(name.asCstr(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0);
        names.emplace_back(name.view());
    }
    listing_->getLastError(errorText);
    MvbDirectoryListing* listing = listing_;
    listing_ = nullptr;
    listing->close();
    if (!errorText.empty()) return FileSetStep::Failed;
    if (names.empty()) return FileSetStep::Finished;
    std::vector<int> parts(names.size());
    mvbDealFiles(sizes.data(), sizes.size(), part.count, parts.data());
    for (size_t i = 0; i < names.size(); ++i) {
        if (parts[i] == part.index) partFiles_.push_back(std::move(names[i]));
    }
    dealt_ = true;
    nextPartFile_ = 0;
    return FileSetStep::Ready;
}

bool SourceFileSet::openPartFile(MvbString& errorText) {
    if (nextPartFile_ >= partFiles_.size()) return true;
    const std::string& path = partFiles_[nextPartFile_++];
    currentName_.assign(path);
    mendName();
    file_ =
        mvbTxtFileOpen(path.c_str(), MVB_OPEN_READ, settings_.encoding, settings_.flags, errorText);
    return file_ != nullptr;
}

bool SourceFileSet::openSelected(const SourceOpenSettings& settings, MvbString& errorText) {
    settings_ = settings;
    closeFile();
    if (dealt_) {
        nextPartFile_ = 0;
        return openPartFile(errorText);
    }
    if (listing_ != nullptr) {
        file_ =
            listing_->openCurrent(MVB_OPEN_READ, settings_.encoding, settings_.flags, errorText);
        if (file_ == nullptr) return false;
        listing_->getCurrentName(currentName_);
        mendName();
        return true;
    }
    file_ = mvbTxtFileOpen(plainPath_.asCstr(), MVB_OPEN_READ, settings_.encoding, settings_.flags,
                           errorText);
    if (file_ == nullptr) return false;
    char directory[256];
    char name[256];
    if (np_fio_pparse(plainPath_.asCstr(), directory, sizeof directory, name, sizeof name) == 0) {
        currentName_.assign(name);
        mendName();
    }
    return true;
}

FileSetStep SourceFileSet::advance(MvbString& errorText) {
    closeFile();
    if (dealt_) {
        if (nextPartFile_ >= partFiles_.size()) return FileSetStep::Finished;
        return openPartFile(errorText) ? FileSetStep::Ready : FileSetStep::Failed;
    }
    if (listing_ == nullptr) return FileSetStep::Finished;
    if (!listing_->moveNext()) {
        listing_->getLastError(errorText);
        return errorText.empty() ? FileSetStep::Finished : FileSetStep::Failed;
    }
    listing_->getCurrentName(currentName_);
    mendName();
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
    dealt_ = false;
    partFiles_.clear();
    if (listing_ != nullptr) {
        MvbDirectoryListing* listing = listing_;
        listing_ = nullptr;
        listing->close();
    }
}

bool openSourceFiles(SourceFileSet& files, const SourceFileSettings& settings,
                     const StepMessages& messages, std::source_location where) {
    MvbString errorText;
    switch (files.select(settings.fileName.asCstr(), sourcePartOf(messages.host()), errorText)) {
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

void SourceFileSet::mendName() {
    const std::string_view name = currentName_.view();
    if (mvbIsValidUtf8(name.data(), static_cast<long>(name.size()))) return;
    std::string mended;
    for (size_t at = 0; at < name.size();) {
        const auto lead = static_cast<unsigned char>(name[at]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (at + length <= name.size() &&
            mvbIsValidUtf8(name.data() + at, static_cast<long>(length))) {
            mended.append(name.substr(at, length));
            at += length;
        } else {
            mended.append("\xEF\xBF\xBD");
            ++at;
        }
    }
    currentName_.assign(mended);
    nameMended_ = true;
}

void warnOfMendedName(StepHost* host, const MvbString& name) {
    host->getLog()->logMessage(
        1, MvbString("FILENAME_FIELD: the name of file \"" + std::string(name.view()) +
                     "\" is not UTF-8: each byte that is not is given as U+FFFD"));
}
