#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <source_location>

#include "mvb/string.h"
#include "step/plugin.h"
#include "step_files.h"
#include "step_messages.h"
#include "step_properties.h"

/// How a step's property table reaches the base: it declares the table, describes it and
/// lists the files it names.
struct StepPropertyTable {
    void (*declare)(PropertySchema* schema);
    void (*describe)(PropertyNotes& notes);
    void (*listFiles)(StepFileList& files);
};

/// The StepPropertyTable of `Rows`, an array of PropertyRow<Settings>, for a step that also
/// writes the extra files `Extras` (an array or span of StepExtraFile).
template <class Settings, const auto& Rows, const auto& Extras = kNoExtraFiles>
inline constexpr StepPropertyTable kStepPropertyTable{
    [](PropertySchema* schema) { declareProperties<Settings>(schema, Rows); },
    [](PropertyNotes& notes) { notes.describe<Settings>(Rows); },
    [](StepFileList& files) { files.describe<Settings>(Rows, Extras); }};

/// What the five steps share at the plug-in boundary. Every operation of the step contract runs
/// behind one wall here: anything thrown other than std::bad_alloc is reported through the host
/// and turned into the operation's failure value. A step implements the protected hooks, which
/// may throw, and reports its messages through messages(). A step's object is used at every
/// row by its own thread alone, so it keeps to cache lines of its own: on a line shared with
/// a neighbour that another thread writes, each thread would fetch the line back from the other
/// at every row.
class alignas(64) TextStep : public StepPluginStep {
  public:
    /// Keeps `host`, sets the input count the step was made with and one output, declares the
    /// step's property table.
    bool initialize(StepHost* host, int* inputCount, int* outputCount) final;
    /// Frees what the step holds (releaseResources) and deletes it.
    void release() final;
    /// prepareStep; 0 after a failure.
    int prepare(int flags) final;
    /// startStep; false after a failure.
    bool start() final;
    /// produceRow; 2 after a failure.
    int processRow(int unused) final;
    void finish() final;
    bool getStatus(int* percent, MvbString* text) final;
    bool getProgress(uint64_t* total) final;
    /// kStepPropertyNotesExtension: the notes of the step's properties; kStepFilesExtension:
    /// the files its properties name and the extra files it writes; null for any other id.
    void* queryExtension(int id) final;
    void notifyEvent(int, int) final {}

  protected:
    TextStep(const char* sourceFile, int inputCount, const StepPropertyTable& properties) noexcept
        : messages_(nullptr, sourceFile), inputCount_(inputCount), properties_(properties) {}
    ~TextStep() override = default;

    StepHost* host() const noexcept { return messages_.host(); }
    const StepMessages& messages() const noexcept { return messages_; }
    /// Reports catalogue message `id` (the caller's line) with its text arguments.
    template <typename... Args>
    void fail(StepMessageId id, const Args&... args) const {
        messages_.report(id, args...);
    }

    /// Called once initialize has kept the host and declared the properties.
    virtual void initializeStep() {}
    virtual void releaseResources() noexcept {}
    virtual int prepareStep(int flags) = 0;
    virtual bool startStep() = 0;
    virtual int produceRow() = 0;
    virtual void finishStep() = 0;
    virtual bool statusOf(int* percent, MvbString* text) = 0;
    virtual bool progressOf(uint64_t* total) = 0;

  private:
    /// Runs `body`; anything it throws other than std::bad_alloc is reported as message 802
    /// and gives `failure`.
    template <typename Result, typename Body>
    Result guarded(Result failure, Body&& body,
                   std::source_location where = std::source_location::current()) {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            reportInternalFailure(e.what(), where);
        } catch (...) {
            reportInternalFailure("an exception of unknown type", where);
        }
        return failure;
    }
    void reportInternalFailure(const char* what, std::source_location where) const;

    StepMessages messages_;
    int inputCount_;
    const StepPropertyTable& properties_;
    PropertyNotes notes_;
    StepFileList files_;
};
