#pragma once

#include <cstdint>
#include <memory>

#include "mvb/string.h"
#include "source_fields.h"
#include "source_file_set.h"
#include "source_messages.h"
#include "source_progress.h"
#include "step/plugin.h"

/// SOURCE_DELIMTEXT, "Text file source (comma delimited)": reads one file, or every file a
/// pattern matches, and produces one row per line, split at a delimiter and converted to the
/// types of the FIELDS table. Head lines (SKIPROWS) are skipped in every file.
class DTS_TxtDelimSrc final : public StepPluginStep {
  public:
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override;
    /// Frees the buffers, closes a file or listing still open, and deletes the step.
    void release() override;
    /// Declares the output fields from FIELDS (and FILENAME_FIELD). With bit 1 of `flags` the
    /// input's encoding is probed for the fields' byte sizes and unknown types and unreadable
    /// lengths are errors. 3 (bit 0 set) or 7, 0 after a reported error.
    int prepare(int flags) override;
    /// Reads the settings, allocates the line buffers and opens the first file.
    bool start() override;
    /// 0: a row is in the output buffer; 1: no more rows; 2: failure or stop, reported.
    int processRow(int unused) override;
    /// Closes the files and reports "Input file: ", FILENAME and the rows read.
    void finish() override;
    /// "Complete" at 100 once the data has ended; else the bytes read of the current file.
    bool getStatus(int* percent, MvbString* text) override;
    /// The exact total once the data has ended; else an estimate from the current file's
    /// position (false with 0 before anything was read or without an open file).
    bool getProgress(uint64_t* total) override;
    void* queryExtension(int) override { return nullptr; }
    ~DTS_TxtDelimSrc() override = default;
    void notifyEvent(int, int) override {}

  private:
    int prepareFields(int flags);
    bool startRun();
    int produceRow();
    void finishRun();
    [[nodiscard]] bool decodeDelimiter(const MvbString& delimiter);
    /// Grows the scratch line to hold `lineBytes` and 1024 bytes more; false when out of memory.
    [[nodiscard]] bool growScratchLine(int lineBytes);
    void warnMissingFields();
    void reportFileError(const MvbTxtFile* file);
    template <typename... Args>
    void fail(StepMessageId id, const Args&... args) {
        reportStepMessage(host_, "src/dts_txtdelimsrc", id, args...);
    }

    StepHost* host_ = nullptr;
    std::unique_ptr<int[]> typeFormats_;  ///< date format of each field
    uint64_t totalRows_ = kUnknownRows;   ///< final row count, once the data has ended
    uint64_t rowCount_ = 0;               ///< rows produced in this run
    SourceFileSet files_;
    std::unique_ptr<char*[]> fieldPointers_;  ///< field starts inside the scratch line
    std::unique_ptr<char[]> scratchLine_;     ///< copy of the current line, split in place
    int scratchCapacity_ = 0;                 ///< usable bytes of the scratch line (NUL aside)
    int delimiterCode_ = 0;
    int quoteCode_ = 0;
    unsigned parseFlags_ = 0;
    bool newlinesInValues_ = false;  ///< a record goes on over line ends inside quotes
    MvbRecordQuoting quoting_;       ///< how readRecord() finds the end of a record
    int rowsToSkip_ = 0;             ///< head lines still to skip in the current file
    int skipRows_ = 0;
    int maxOutputRows_ = 0;  ///< 0 or negative: no limit
    int warningCount_ = 0;   ///< rows with missing fields in this run
    int fileNameFieldIndex_ = -1;
    int fieldCount_ = 0;
    bool done_ = false;  ///< the data has ended or finish() has run
    SourceFieldConverter converter_;
};
