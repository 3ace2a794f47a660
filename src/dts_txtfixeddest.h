#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "dest_core.h"
#include "dest_file.h"
#include "dest_line_buffer.h"
#include "step/plugin.h"
#include "value_warnings.h"

/// DEST_FIXEDTEXT: passes every row on and, in a run that writes, writes the FIELDS of each row
/// as one record, each field padded to its WIDTH, followed by the line end that LINE_END names
/// (or by nothing).
///
/// `start` only proves that the file can be opened; the file is created (or opened to append)
/// at the first row, so a run without rows leaves no file behind.
class DTS_TxtFixedDest final : public StepPluginStep {
  public:
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override;
    void release() override;
    int prepare(int flags) override;
    bool start() override;
    int processRow(int unused) override;
    void finish() override;
    bool getStatus(int* percent, MvbString* text) override;
    bool getProgress(uint64_t* total) override;
    void* queryExtension(int) override { return nullptr; }
    ~DTS_TxtFixedDest() override = default;
    void notifyEvent(int, int) override {}

  private:
    bool startRun();
    int takeAndWriteRow();
    bool openFile(bool probe);
    bool writeRecordAtOnce(const StepOutputItems* items);
    bool writeRecordByFields(const StepOutputItems* items);
    /// Warns about each field of a record written at once that was cut at its WIDTH.
    void warnCutFields(const StepOutputItems* items);
    void warnCut(const StepOutputItems* items, int field, std::string_view text);

    DestinationCore core_;
    DestFile file_;
    int encoding_ = -1;
    uint32_t openFlags_ = 0;
    MvbString fileName_;
    /// The WIDTH of each FIELDS row, each 0 or more; read by start.
    std::unique_ptr<int[]> fieldWidths_;
    bool writeLineEnd_ = false;
    /// The open file is UTF-8, so a WIDTH counts UTF-8 bytes and a record is padded here and
    /// handed to the file in one write.
    bool utf8File_ = false;
    /// The record being assembled; reused from row to row.
    LineBuffer line_;
    bool append_ = false;
    /// An open, write or flush of this run failed: the summary is not reported.
    bool writeFailed_ = false;
    ValueWarnings warnings_;  ///< values cut at their WIDTH
};
