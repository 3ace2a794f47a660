#pragma once

#include <cstdint>
#include <string_view>

#include "dest_core.h"
#include "dest_file.h"
#include "dest_line_buffer.h"
#include "step/plugin.h"

/// DEST_DELIMTEXT: passes every row on and, in a run that writes, writes the FIELDS as one
/// delimited line per row. Non-numeric, non-null values are enclosed in the qualifier, with a
/// qualifier inside them doubled so that the file reads back to the same values.
///
/// `start` only proves that the file can be opened; the file is created (or opened to append)
/// at the first row, so a run without rows leaves no file behind.
class DTS_TxtDelimDest final : public StepPluginStep {
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
    ~DTS_TxtDelimDest() override = default;
    void notifyEvent(int, int) override {}

  private:
    bool startRun();
    int takeAndWriteRow();
    /// Opens the file for writing (with `probe`, only proves it can be) and writes the header
    /// line when asked for. False after reporting the failure.
    bool openFile(bool probe);
    /// Appends `text` to the line being built, enclosed in the qualifier with each qualifier
    /// inside it doubled.
    void appendQualified(std::string_view text);

    DestinationCore core_;
    DestFile file_;
    int encoding_ = -1;
    uint32_t openFlags_ = 0;
    MvbString delimiter_;
    MvbString qualifier_;
    MvbString fileName_;
    bool includeHeader_ = false;
    bool append_ = false;
    /// A write, flush or open of this run failed: the summary is not reported.
    bool writeFailed_ = false;
    /// The line being written, reused from row to row.
    LineBuffer line_;
};
