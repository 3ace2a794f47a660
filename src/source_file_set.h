#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mvb/directory.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "step/host.h"

/// How a source opens its files: the encoding number (-1 detects it) and the open flags.
struct SourceOpenSettings {
    int encoding = -1;
    uint32_t flags = 0;
};

/// The open flags of BYTE_ORDER_MARK (honour a byte-order mark) and REPLACE_NULLS.
uint32_t sourceOpenFlags(bool byteOrderMark, bool replaceNulls) noexcept;

/// Outcome of selecting or moving through a source's files.
enum class FileSetStep {
    Ready,     ///< a file is selected (and, after open or advance, open)
    Finished,  ///< no further file; for select(), the pattern matched nothing and the listing
               ///< gave no reason (the caller reports its own message)
    Failed,    ///< the error text says why
};

/// Which part of a job split into parts this run is; `count` 0 for a run of the whole job.
struct SourcePart {
    int index = 0;
    int count = 0;
    bool split() const noexcept { return count > 0; }
};

/// The part that the host says this run is.
SourcePart sourcePartOf(StepHost* host) noexcept;

/// Warns that the file `name` (mended: SourceFileSet::takeMendedName) was named in bytes that
/// are not UTF-8, which the FILENAME_FIELD holds as U+FFFD.
void warnOfMendedName(StepHost* host, const MvbString& name);

/// The file or the pattern's set of files that a source reads, and the one file open from it.
/// In a run of one part of a job, a pattern's files are dealt to the parts whole (see
/// mvbPartOfFile) and only this part's files are read.
/// It owns the open text file and the directory listing and closes both when destroyed, so no
/// step can leak them whatever the order of its calls.
class SourceFileSet {
  public:
    SourceFileSet() = default;
    SourceFileSet(const SourceFileSet&) = delete;
    SourceFileSet& operator=(const SourceFileSet&) = delete;
    ~SourceFileSet() { close(); }

    /// Closes whatever an earlier run left open, then decides whether `fileName` is one file or a
    /// pattern; a pattern's listing is moved to its first file. With a split `part`, the
    /// pattern's files are listed and sized once and this part's kept; a part that gets none
    /// is Ready with no file to open.
    [[nodiscard]] FileSetStep select(const char* fileName, const SourcePart& part,
                                     MvbString& errorText);
    /// Opens the selected file (the listing's current one, or `fileName` of select()) for
    /// reading with `settings`, which later files use too; sets the current name. False with
    /// the open's error text.
    [[nodiscard]] bool openSelected(const SourceOpenSettings& settings, MvbString& errorText);
    /// Closes the current file and opens the listing's next one. Finished when there is no
    /// listing or it has no further file and no error to tell.
    [[nodiscard]] FileSetStep advance(MvbString& errorText);

    /// Closes the open file, if any; the listing stays.
    void closeFile() noexcept;
    /// Closes the file and the listing.
    void close() noexcept;

    /// The open file, or null.
    MvbTxtFile* file() const noexcept { return file_; }
    /// True when FILENAME is a pattern of several files.
    bool isFileSet() const noexcept { return listing_ != nullptr || dealt_; }
    /// The name the FILENAME_FIELD carries: the listing's current path, or the file-name part of
    /// a plain FILENAME.
    const MvbString& currentName() const noexcept { return currentName_; }
    /// FILENAME as given, for a FILENAME that is no pattern.
    const MvbString& plainPath() const noexcept { return plainPath_; }
    /// True once after a file whose name is not UTF-8 was opened: currentName() holds it with
    /// U+FFFD for each byte that is not, so that the FILENAME_FIELD is text a destination can
    /// write.
    bool takeMendedName() noexcept { return std::exchange(nameMended_, false); }

  private:
    /// Lists the pattern's files and keeps the ones dealt to `part`.
    [[nodiscard]] FileSetStep dealFiles(const SourcePart& part, MvbString& errorText);
    [[nodiscard]] bool openPartFile(MvbString& errorText);
    /// Makes currentName_ UTF-8, each byte of a sequence that is not taken as U+FFFD.
    void mendName();

    MvbTxtFile* file_ = nullptr;
    MvbDirectoryListing* listing_ = nullptr;
    MvbString plainPath_;
    MvbString currentName_;
    SourceOpenSettings settings_;
    bool nameMended_ = false;
    bool dealt_ = false;                  ///< the part's files replace the listing
    std::vector<std::string> partFiles_;  ///< the part's files, in listing order
    size_t nextPartFile_ = 0;
};
