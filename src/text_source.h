#pragma once

#include <cstdint>
#include <memory>

#include "source_fields.h"
#include "source_file_set.h"
#include "source_progress.h"
#include "text_step.h"
#include "value_warnings.h"

/// What the two sources share as steps: no input, the files they read, the rows produced in a
/// run, and the declared fields' date formats and converter.
class TextSource : public TextStep {
  protected:
    TextSource(const char* sourceFile, const StepPropertyTable& properties) noexcept
        : TextStep(sourceFile, 0, properties) {}

    /// Closes a file or listing still open.
    void releaseResources() noexcept override { files_.close(); }
    /// Closes the files and reports "Input file: ", FILENAME and the rows read, then the counts
    /// of values not kept as read when there are any.
    void finishStep() override {
        files_.close();
        reportSourceSummary(host(), rowCount_);
        warnings_.reportSummary(false);
    }
    /// Reports the open file's last error text.
    void reportFileError() {
        MvbString errorText;
        if (files_.file() != nullptr) files_.file()->getLastError(errorText);
        host()->reportError(errorText);
    }

    SourceFileSet files_;
    uint64_t rowCount_ = 0;               ///< rows produced in this run
    std::unique_ptr<int[]> typeFormats_;  ///< date format of each field
    int fieldCount_ = 0;                  ///< rows of FIELDS
    int fileNameFieldIndex_ = -1;         ///< the FILENAME_FIELD field; -1 for none
    SourceFieldConverter converter_;
    ValueWarnings warnings_;  ///< missing fields and values not kept as read
};
