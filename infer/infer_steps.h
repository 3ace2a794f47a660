#pragma once

// The two ways of finding a file's columns, each filling a FileLayout whose encoding is set.

#include <string>

#include "infer_layout.h"

namespace textjob::infer {

/// Delimited text: dialect, header, head lines, then every record's values.
void inferDelimited(const InferOptions& options, FileLayout& layout);

/// Fixed-width text: columns from blanks at the same place on every line, then their values.
void inferFixedWidth(const InferOptions& options, FileLayout& layout);

/// Lines at most `options.sampleBytes` bytes in, for the decisions taken from a file's head.
uint64_t sampleLimit(const InferOptions& options);

}  // namespace textjob::infer
