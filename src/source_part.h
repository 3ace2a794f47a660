#pragma once

#include "mvb/txtfile.h"
#include "source_file_set.h"
#include "step_messages.h"

/// How a source's records lie in its file, so that a part of one file can start and end
/// between two records.
struct RecordLayout {
    /// Records whose quoted values may hold line ends; null for one record per line.
    const MvbRecordQuoting* quoting = nullptr;
    int recordWidth = 0;  ///< records of this many bytes; 0 for lines
    int headRecords = 0;  ///< SKIPROWS: head records (physical lines) before the first record
    int rowLimit = 0;     ///< MAX_OUTPUT_ROWS: the most rows a run gives; 0 or less: no limit
};

/// What a source reads of its one file in a run of one part of a job.
struct PartReading {
    bool skipsHead = true;  ///< the part begins the file, so it skips the head records
    bool ranged = false;    ///< only a byte range of the file is read
};

/// In a run of one part of a job whose source reads one file (not a pattern), limits the open
/// file to this part's records: part K of N reads the records that begin from the first
/// record start at or after byte size·K/N up to the first at or after size·(K+1)/N, so every
/// record is read by exactly one part; head records belong to part 0. A file that cannot be
/// read from a byte position (standard input, gzip data), or whose records cannot be told
/// apart there, is read whole by part 0; the other parts warn and read nothing. False after
/// reporting a failure.
[[nodiscard]] bool readSourcePart(SourceFileSet& files, const RecordLayout& layout, StepHost* host,
                                  PartReading* reading);
