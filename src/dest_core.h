#pragma once

#include <cstdint>
#include <memory>
#include <source_location>

#include "dest_file.h"
#include "mvb/datavar.h"
#include "mvb/string.h"
#include "step/host.h"
#include "step_messages.h"
#include "text_step.h"
#include "value_warnings.h"

/// What the three destinations share: the FIELDS binding, the output list as a copy of the
/// input list, the row pass-through, the row counter with its progress points, the status text
/// and the progress total. Each destination holds one and adds what it writes.
///
/// Messages are reported through the owning step's messages, naming the line of the step's own
/// statement that called in here.
class DestinationCore {
  public:
    /// Keeps the step's `messages` (and so its host) and gives the counters their first values
    /// (no field map, no expected total).
    void initialize(const StepMessages* messages) noexcept;
    StepHost* host() const noexcept { return messages_->host(); }

    /// Binds the FIELDS table (property 1) to the input fields and declares the output list as a
    /// copy of the input list. Returns the prepare result: 7 or 3 with an input list (bit 1 of
    /// `flags` set or clear), 1 without one but with FIELDS rows, 0 after message 663 and 6
    /// after message 311 (an unknown FIELDNAME in the validating pass).
    int bindFields(int flags, std::source_location where = std::source_location::current());

    /// Number of FIELDS rows bound by the last bindFields(); 0 means nothing is written.
    int fieldCount() const noexcept { return fieldCount_; }

    /// The input items of one row by FIELDS row, the part of the lookup that is the row's made
    /// once: for a loop over every field of a row.
    class RowFields {
      public:
        RowFields(const int* positions, const StepOutputItems* items) noexcept
            : positions_(positions),
              items_(items != nullptr ? items->items : nullptr),
              count_(items != nullptr && items->count > 0 ? static_cast<unsigned>(items->count)
                                                          : 0) {}
        /// The input item of FIELDS row `i`, or null as for fieldValue().
        const StepOutputItem* operator[](int i) const noexcept {
            // A row that names no input field has position -1, which no count exceeds.
            const auto position = static_cast<unsigned>(positions_[i]);
            return position < count_ ? &items_[position] : nullptr;
        }

      private:
        const int* positions_;
        const StepOutputItem* items_;
        unsigned count_;
    };
    RowFields rowFields(const StepOutputItems* items) const noexcept {
        return RowFields(fieldMap_.get(), items);
    }

    /// The current input value of FIELDS row `i`, or null when that row names no input field
    /// (the name was not found, or there was no input list when the fields were bound).
    const MvbDatavar* fieldValue(const StepOutputItems* items, int i) const noexcept {
        const StepOutputItem* item = fieldItem(items, i);
        return item != nullptr ? &item->value : nullptr;
    }
    /// The input item of FIELDS row `i`, or null as for fieldValue().
    const StepOutputItem* fieldItem(const StepOutputItems* items, int i) const noexcept {
        return rowFields(items)[i];
    }

    /// Begins a run: decides from the run mode whether it writes, resets the row count and asks
    /// for the expected total.
    void beginRun();
    /// True when this run writes a file: the run mode is 1 and FIELDS has rows.
    bool writes() const noexcept { return !noWrite_ && fieldCount_ != 0; }

    /// Takes the next input row and passes its values on to the output row. Returns what
    /// readInputRow answered; on 0 `*items` is the input list holding the row, already counted.
    /// On 1 (end of data) the expected total becomes the final count.
    int takeRow(StepOutputItems** items);

    /// The progress point after a row: 0 to go on, 2 after reporting message 421 when the host
    /// wants the run stopped.
    int progressPoint(std::source_location where = std::source_location::current());

    uint64_t rowCount() const noexcept { return rowCount_; }

    /// "Written N rows" or "Read N rows" and the completion percentage. Always true.
    bool status(int* percent, MvbString* text) const;
    /// The expected total; true when known.
    bool progress(uint64_t* total) const noexcept;

  private:
    void refreshExpected();

    const StepMessages* messages_ = nullptr;
    int fieldCount_ = 0;
    /// Input position of each FIELDS row; -1 when the row names no input field.
    std::unique_ptr<int[]> fieldMap_;
    uint64_t rowCount_ = 0;
    uint64_t reportInterval_ = 1000;
    /// The row count at which the next progress point refreshes and checks: the next multiple
    /// of the interval (every row when it is 0), kept so that a row costs no division.
    uint64_t nextReport_ = 1000;
    uint64_t expectedRows_ = 0;
    bool haveExpected_ = false;
    bool noWrite_ = false;
};

/// What the three destinations share as steps: one input, the FIELDS binding in prepare, the
/// status and progress of the core, and the one row loop: take a row and pass it on, count it,
/// write its record (opening the file at the first), and reach the progress point. At the end
/// of the data the file is completed and, when it replaces another, put in its place; a run that
/// ends any other way keeps the whole rows written as `<file>.partial` and says so.
class TextDestination : public TextStep {
  protected:
    TextDestination(const char* sourceFile, const StepPropertyTable& properties) noexcept
        : TextStep(sourceFile, 1, properties) {}

    void initializeStep() override { core_.initialize(&messages()); }
    void releaseResources() noexcept override { file_.discard(); }
    int prepareStep(int flags) override { return core_.bindFields(flags); }
    bool statusOf(int* percent, MvbString* text) override { return core_.status(percent, text); }
    bool progressOf(uint64_t* total) override { return core_.progress(total); }
    int produceRow() final;
    void finishStep() final;

    /// Begins a run: the core's counters, the warnings, no write failure, no file. False after
    /// reporting message 315 when no input is connected.
    bool beginRun(std::source_location where = std::source_location::current());

    /// Opens the file at the first row a run writes; false after reporting the failure.
    virtual bool openForRows() = 0;
    /// Writes the FIELDS of the row in `items` as one record; false after reporting a failure.
    virtual bool writeRow(const StepOutputItems* items) = 0;
    /// Writes what follows the last row; false after reporting a failure.
    virtual bool writeEnd() { return true; }
    /// Puts the files beside the main one in place, just before it; false after reporting a
    /// failure.
    virtual bool commitOthers() { return true; }
    /// Drops the files beside the main one of a run that did not reach its end.
    virtual void abandonOthers() noexcept {}
    /// The first piece of the summary of a run that wrote its file ("Wrote N rows to text
    /// file "); the file's name follows it.
    virtual void describeRun(char* text, size_t size) const = 0;
    /// The file the run writes (FILENAME).
    virtual const MvbString& fileName() const noexcept = 0;
    /// The run adds to the end of the file (APPEND) rather than replacing it.
    virtual bool appends() const noexcept { return false; }

    /// MVB_FLAG_REPLACE_AT_END unless the file is appended to or written in place.
    static uint32_t replaceFlag(bool append, bool inPlace) noexcept;

    DestinationCore core_;
    DestFile file_;
    ValueWarnings warnings_;  ///< values the written file cannot give back as they were
    /// A write, flush or open of this run failed: the summary is not reported.
    bool writeFailed_ = false;

  private:
    int endOfData();
    /// Ends a file the run did not complete and says what was kept.
    void keepPartial();
    /// After a run that wrote no file (it got no rows): warns that there is none, or that a
    /// file of that name is there, which a reader would otherwise take for this run's output.
    void warnOfEarlierFile();
    /// After a run that put its file in place: warns of what earlier runs that did not finish
    /// left beside it, which is not this run's: the rows one kept (<file>.partial), and the
    /// temporary file of each one killed outright.
    void warnOfEarlierRuns();

    bool ended_ = false;      ///< the data ended and the file (if any) was completed
    bool wroteFile_ = false;  ///< the run wrote its file (a part's without rows too)
};
