#pragma once

#include <cstdint>

#include "mvb/datavar.h"
#include "mvb/string.h"
#include "mvb/types.h"

// The host's side of the step contract. The host implements these interfaces and owns every
// object it hands out; a step never deletes one. Operations are declared in the order in which
// steps rely on them; what a step does not call belongs to the host.

/// One field of a field list or row buffer.
struct StepOutputItem {
    MvbString name;    ///< field name
    int type = 0;      ///< mvbType code
    int byteSize = 0;  ///< capacity of the value in bytes in the data's encoding
    MvbDatavar value;  ///< the current row's value
    int length = 0;    ///< length in characters (0 for non-string fields)
};

/// A list of fields: the input field list, an output field list or a row buffer.
struct StepOutputItems {
    int count = 0;
    StepOutputItem* items = nullptr;
};

/// Index of the first item named `name`, or -1. Exported by the host's step helper library.
__attribute__((visibility("default"))) int findOutputItemByName(const StepOutputItems* items,
                                                                const MvbString& name);

class StepLog {
  public:
    /// Level 1 marks a warning.
    virtual void logMessage(int level, const MvbString& text) = 0;

  protected:
    ~StepLog() = default;
};

class PropertyTableSchema {
  public:
    virtual void declareColumn(int column, const MvbString& name, int type) = 0;

  protected:
    ~PropertyTableSchema() = default;
};

class PropertySchema {
  public:
    /// Declares a table property; its index is the next property index.
    virtual PropertyTableSchema* declareTable(const MvbString& name, int columnCount) = 0;
    /// Declares a scalar property of type 1 (boolean), 2 (integer) or 4 (string).
    virtual void declareProperty(const MvbString& name, int type) = 0;
    virtual void setDefault(int propertyIndex, const MvbDatavar& value) = 0;

  protected:
    ~PropertySchema() = default;
};

class PropertyTable {
  public:
    virtual int getRowCount() = 0;
    /// A copy of the cell; null when the job gave none.
    virtual MvbDatavar getCell(int column, int row, bool copy) = 0;

  protected:
    ~PropertyTable() = default;
};

class PropertyValues {
  public:
    /// The table property at `propertyIndex`; a table of no rows when the job gave none.
    virtual PropertyTable* getTable(int propertyIndex) = 0;
    /// A copy of the scalar property at `propertyIndex`: the job's value, else its default,
    /// else null.
    virtual MvbDatavar getValue(int propertyIndex, bool copy) = 0;

  protected:
    ~PropertyValues() = default;
};

class StepNode {
  public:
    /// Type id of the step this node stands for.
    virtual MvbString getTypeId() = 0;
    /// True when the node's row count is known; it is then stored in `*rows`.
    virtual bool getExpectedRows(uint64_t* rows) = 0;

  protected:
    ~StepNode() = default;
};

class StepFlow {
  public:
    /// The step that feeds this one (arguments 0, 0, 0); null when there is none.
    virtual StepNode* getInputNode(int port, int link, int flags) = 0;

  protected:
    ~StepFlow() = default;
};

/// The host context a step receives in initialize() and keeps for its life.
class StepHost {
  public:
    virtual StepLog* getLog() = 0;
    virtual PropertyValues* getPropertyValues() = 0;
    virtual PropertySchema* getPropertySchema() = 0;
    virtual void reportError(const MvbString& message) = 0;
    /// Summary output: the first piece of an entry with `newEntry` true, further pieces false.
    virtual void reportInfo(const MvbString& text, bool newEntry) = 0;
    virtual StepFlow* getFlow() = 0;
    /// 0: the next row's values are in the input items; 1: end of data; other: failure.
    virtual int readInputRow(int port) = 0;
    /// The input field list, which also carries the current input row; null when none.
    virtual StepOutputItems* getInputItems(int port, bool current) = 0;
    /// Allocates this step's output field list of `count` items for the step to describe.
    virtual StepOutputItems* createOutputItems(int count) = 0;
    /// The output row buffer, whose values the step fills.
    virtual StepOutputItems* getOutputRow() = 0;
    /// The input fields this step reads, named one by one after a clear, in prepare: a field
    /// that no later step names may reach this step as a null once the steps run in threads of
    /// their own. A step that names none reads every field.
    virtual void clearUsedFields() = 0;
    virtual void addUsedField(const MvbString& name, int flags) = 0;
    /// 1: a real run, in which files are written; other values write nothing.
    virtual int getRunMode() = 0;
    /// False once the host wants the run stopped.
    virtual bool shouldContinue() = 0;
    /// True when this run is one part of a job split into `*count` parts that run apart from
    /// each other; `*index` (0-based) says which (either pointer may be null). Sources then
    /// read only their part of the data and destinations write files of their own. False for
    /// a run of the whole job. A source that never asks fails a part run.
    virtual bool getPart(int* index, int* count) = 0;

  protected:
    ~StepHost() = default;
};
