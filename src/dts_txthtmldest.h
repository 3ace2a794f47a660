#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "dest_core.h"
#include "dest_line_buffer.h"
#include "dest_settings.h"

/// DEST_HTML's settings, read from its properties at start of a run that writes.
struct HtmlDestSettings {
    MvbString fileName;                    ///< FILENAME: the report file to write
    MvbString title{"Data Report", true};  ///< TITLE: the page title and heading
    MvbString style;                       ///< STYLE: empty for the classic page, or "modern"
    bool inPlace = false;  ///< IN_PLACE: write straight into the files, not at the end
};

/// DEST_HTML: passes every row on and, in a run that writes, renders each row as a row of an
/// HTML table. `start` writes the style sheet beside the report and the report's page head;
/// the end of the data writes the closing tail. Fed by a step of type PROFILER, the table is
/// laid out in four titled sections, a row whose statistic (the profile's first field) is empty
/// closing one section and opening the next.
class DTS_TxtHtmlDest final : public TextDestination {
  public:
    DTS_TxtHtmlDest() noexcept;

  private:
    /// Binds FIELDS; a profile's statistic is read too, whether FIELDS shows it or not.
    int prepareStep(int flags) override;
    /// True when the step before this one is a PROFILER.
    bool readsAProfile();
    bool startStep() override;
    /// The report is opened by start: a run without it has failed to start.
    bool openForRows() override { return false; }
    bool writeRow(const StepOutputItems* items) override;
    /// Writes the closing tail and puts the style sheet in its place.
    bool writeEnd() override;
    bool commitOthers() override;
    void abandonOthers() noexcept override { sheet_.abandon(false, nullptr); }
    void describeRun(char* text, size_t size) const override;
    const MvbString& fileName() const noexcept override { return settings_.fileName; }
    /// Writes the style sheet beside the report, opened with `flags`; completed at once when it
    /// is written in place. False after reporting a failure.
    bool writeStyleSheet(uint32_t flags);
    /// The style sheet's path, beside the report.
    MvbString styleSheetPath() const;
    /// False, having said so, when the style sheet's path is a folder (the dry run's check).
    bool styleSheetFits();
    /// The modern style's sheet in the head: the shared rules, and right alignment for the
    /// columns whose input fields are numbers.
    void appendInlineStyle();
    /// Appends the closing markup: with the modern style, the row count before it.
    void appendTail();
    /// Writes the page head and opens the table. False after reporting a failed write.
    bool writeHead(const MvbString& title);
    /// Appends the column heading row (ended by a line end) to `out_`.
    void appendHeadings();
    /// Appends the section break of the profiler layout; true when the row is to be left out.
    bool appendSectionStart(const StepOutputItems* items);
    /// Writes the markup gathered in `out_`, then a line end when `endLine`, and empties
    /// `out_`. With `checked` the caller vouches that `out_` is valid UTF-8, and the file
    /// takes it without checking it again. False after reporting a failed write.
    bool emit(bool endLine, bool checked = false);
    /// Appends `text` to `out_` and writes it all as a line.
    bool emitLine(std::string_view text) {
        out_.append(text);
        return emit(true);
    }

    HtmlDestSettings settings_;
    bool profilerLayout_ = false;
    bool modern_ = false;  ///< STYLE is "modern"
    int sectionIndex_ = 0;
    /// The profile's rows between sections, which the page shows as breaks, not as rows.
    uint64_t sectionBreaks_ = 0;
    /// The OUTPUTNAME of each FIELDS row, read by start.
    std::vector<MvbString> headings_;
    /// The markup being written for the current row, reused from row to row.
    LineBuffer out_;
    /// The style sheet while it waits to take its place with the report.
    DestFile sheet_;
};
