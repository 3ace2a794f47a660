#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "dest_core.h"
#include "dest_file.h"
#include "dest_line_buffer.h"
#include "step/plugin.h"

/// DEST_HTML: passes every row on and, in a run that writes, renders each row as a row of an
/// HTML table. `start` writes the style sheet beside the report and the report's page head;
/// the end of the data writes the closing tail. Fed by a step of type PROFILER, the table is
/// laid out in four titled sections, a row whose first shown field is empty closing one
/// section and opening the next.
class DTS_TxtHtmlDest final : public StepPluginStep {
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
    ~DTS_TxtHtmlDest() override = default;
    void notifyEvent(int, int) override {}

  private:
    bool startRun();
    bool writeStyleSheet();
    /// Writes the page head and opens the table. False after reporting a failed write.
    bool writeHead(const MvbString& title);
    int takeAndRenderRow();
    /// Appends the column heading row (ended by a line end) to `out_`.
    void appendHeadings();
    /// Appends the section break of the profiler layout; true when the row is to be left out.
    bool appendSectionStart(const StepOutputItems* items);
    /// Appends `text` with the characters that are markup in HTML replaced by entities.
    void appendEscaped(std::string_view text);
    /// Writes the markup gathered in `out_`, then a line end when `endLine`, and empties
    /// `out_`. False after reporting a failed write.
    bool emit(bool endLine);
    /// Appends `text` to `out_` and writes it all as a line.
    bool emitLine(std::string_view text) {
        out_.append(text);
        return emit(true);
    }

    DestinationCore core_;
    DestFile file_;
    MvbString fileName_;
    bool profilerLayout_ = false;
    int sectionIndex_ = 0;
    /// A write, flush or open of this run failed: the summary is not reported.
    bool writeFailed_ = false;
    /// The OUTPUTNAME of each FIELDS row, read by start.
    std::vector<MvbString> headings_;
    /// The markup being written for the current row, reused from row to row.
    LineBuffer out_;
};
