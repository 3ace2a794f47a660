#pragma once

#include <cstdint>

#include "mvb/string.h"
#include "mvb/txtfile.h"
#include "step/host.h"

/// Row count that a source has not learnt yet.
inline constexpr uint64_t kUnknownRows = ~uint64_t{0};

/// Rows between two stop checks while a source's total is unknown.
inline constexpr uint64_t kUnknownTotalReportInterval = 1000;

/// Status of a source reading `file`: the percentage of its bytes read and the text
/// "Read <position>/<size> KB|MB (<rows> rows)", in MB from 31,622,776 bytes on. Without an
/// open file (after the data ended or a failure closed it) the percentage is 0 and the text
/// "Read <rows> rows".
int formatSourceByteStatus(const MvbTxtFile* file, uint64_t rows, MvbString* text);

/// The fixed-width source's status against a known total: "Read <rows> of <expected> rows" and
/// rows × 100 / expected (0 when expected is 0), in unsigned 64-bit arithmetic, low 32 bits kept.
int formatSourceRowStatus(uint64_t rows, uint64_t expected, MvbString* text);

/// Estimates a source's total rows from how far it has read `file`: size / position × rows,
/// in double precision, truncated. False with 0 when no file is open or nothing was read yet.
bool estimateSourceRows(const MvbTxtFile* file, uint64_t rows, uint64_t* estimate);

/// A source's run summary: one entry "Input file: ", the FILENAME property (index 0) as the job
/// gave it, and "<rows> rows read".
void reportSourceSummary(StepHost* host, uint64_t rows);
