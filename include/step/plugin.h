#pragma once

#include <cstdint>

#include "mvb/string.h"
#include "step/host.h"

/// The interface every step implements. The host creates a step through the catalogue, calls
/// initialize() once, prepare() one or more times, then start(), processRow() until it answers
/// non-zero and finish() for each run, and release() once, which deletes the step.
/// Nothing is thrown out of these operations except std::bad_alloc.
class StepPluginStep {
  public:
    /// Keeps `host`, sets the input and output counts, declares the properties. Always true.
    virtual bool initialize(StepHost* host, int* inputCount, int* outputCount) = 0;
    /// Frees what the step holds and deletes it.
    virtual void release() = 0;
    /// Binds fields. Bit 0 of the result: bound without error; bit 1: an output field list was
    /// declared; bit 2 follows bit 1 of `flags` (the validating pass). 0 after a reported error.
    virtual int prepare(int flags) = 0;
    /// Reads and checks the properties and opens or proves the files. False after an error.
    virtual bool start() = 0;
    /// 0: a row was handled; 1: end of data; 2: failure or stop (reported); other values come
    /// from the host's readInputRow and pass through unchanged.
    virtual int processRow(int unused) = 0;
    /// Reports the run summary and closes the files.
    virtual void finish() = 0;
    virtual bool getStatus(int* percent, MvbString* text) = 0;
    /// The expected or estimated total rows; true when known.
    virtual bool getProgress(uint64_t* total) = 0;
    virtual void* queryExtension(int id) = 0;
    virtual ~StepPluginStep() = default;
    virtual void notifyEvent(int event, int data) = 0;
};

using StepCreateFunction = StepPluginStep* (*)();

/// The plug-in's factory: the catalogue of step types it offers.
class StepPluginFactory {
  public:
    virtual int getInterfaceVersion() = 0;
    virtual int getStepCount() = 0;
    virtual StepCreateFunction getStepCreateFunction(int index) = 0;
    virtual MvbString getStepTypeId(int index) = 0;
    virtual MvbString getStepDescription(int index) = 0;
    virtual bool queryStepFlag(int index, int flag) = 0;
    virtual bool queryStepData(int index, int kind, int data) = 0;
    /// Deletes the factory.
    virtual void release() = 0;
    virtual int getExtraCount() = 0;
    virtual MvbString getStepText(int index) = 0;
    virtual void* getStepExtension(int index) = 0;
    virtual ~StepPluginFactory() = default;
    /// Tag `tagIndex` of step `index`: false when there is none.
    virtual bool getStepTag(int index, int tagIndex, MvbString& tag, int* kind) = 0;
};

/// Filled by the plug-in's entry function.
struct StepPluginEntry {
    const char* name = nullptr;
    StepPluginFactory* (*createFactory)() = nullptr;
};

/// Name of the entry function the host looks up in a plug-in library. It fills the entry (the
/// plug-in's name and the function that creates its factory) and answers 0; any other answer
/// refuses the load, and the host names the library and the answer.
inline constexpr const char* kStepEntryFunctionName = "dtstep_text_entry";
using StepEntryFunction = int (*)(StepPluginEntry*);

extern "C" {
int dtstep_text_entry(StepPluginEntry* entry);
StepPluginFactory* step_create_factory11();
}

/// queryExtension id of a step's property notes: a step that answers it returns a
/// StepPropertyNotes it owns, valid until the step is released. Any other id answers null.
inline constexpr int kStepPropertyNotesExtension = 1;

/// What one declared property does, for people reading a step's description.
struct StepPropertyNote {
    const char* name;              ///< the property's name as declared
    const char* effectiveDefault;  ///< what the step uses when a job leaves it out, as text
    const char* description;       ///< one line on what the property does
};

/// The notes of every declared property, in declaration order (`count` entries). New fields
/// are only ever appended after `notes`.
struct StepPropertyNotes {
    int count = 0;
    const StepPropertyNote* notes = nullptr;
};

/// queryExtension id of the files a step reads and writes: a step that answers it returns a
/// StepFiles it owns, valid until the step is released. The host learns from it, before it
/// starts any step, which files a job reads and writes (it refuses a job that would write a
/// file it reads, for one); a step that answers null names no files.
inline constexpr int kStepFilesExtension = 2;

/// What a step does with the file that a text property names.
enum StepFileRole : int {
    kStepFileRead = 1,         ///< reads the one file named
    kStepFilePatternRead = 2,  ///< reads the file named, or every file a name pattern lists
    kStepFileWritten = 3,      ///< creates the file, or replaces what it holds
    /// Adds to the end of the file when the boolean property `condition` is true, and
    /// otherwise replaces it as kStepFileWritten does.
    kStepFileAppended = 4,
};

/// One property whose text value names a file. "-" stands for standard input (read) or
/// standard output (written); an empty value names no file.
struct StepFileProperty {
    const char* property;   ///< the property's name as declared
    int role;               ///< a StepFileRole; the host ignores roles it does not know
    const char* condition;  ///< kStepFileAppended: the boolean property that selects appending
};

/// A file the step writes besides the ones its properties name, under a fixed name in the
/// folder of the file that `beside` (a kStepFileWritten or kStepFileAppended property) names.
struct StepExtraFile {
    const char* name;    ///< the file's name, without a folder
    const char* beside;  ///< the property whose file's folder holds it
    /// Non-zero when every step of this type writes the same bytes into it, whatever its
    /// properties, so that such steps may share the file.
    int sameText;
};

/// The files of a step: `propertyCount` file properties in declaration order and
/// `extraCount` extra files. New fields are only ever appended after `extras`.
struct StepFiles {
    int propertyCount = 0;
    const StepFileProperty* properties = nullptr;
    int extraCount = 0;
    const StepExtraFile* extras = nullptr;
};
