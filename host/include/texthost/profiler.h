#pragma once

#include "step/plugin.h"

namespace texthost {

/// Type id of the host's built-in field profile step.
inline constexpr const char* kProfilerTypeId = "PROFILER";
/// Its display text.
inline constexpr const char* kProfilerDescription =
    "Field profile (statistics of every input field)";

/// Creates a field profile step: one input, one output, no properties.
///
/// It reads every row of its input, then emits the profile of every input field as 16 rows.
/// Output fields: STATISTIC (string, the statistic's name), then one string field per input
/// field, named as that field. Four sections, in this order, each after a separator row whose
/// fields are all empty strings (none before the first):
///   1. "Records", "Nulls" for every field;
///   2. "Count", "Sum", "Mean", "Standard deviation" (sample, n − 1) for integer and real
///      fields, empty for the others;
///   3. "Minimum", "Maximum" for every field: numbers numerically, texts by UTF-8 bytes, dates
///      chronologically, booleans false < true;
///   4. "25th percentile", "50th percentile", "75th percentile", "90th percentile",
///      "99th percentile" for integer and real fields, by linear interpolation between the
///      closest ranks.
/// Nulls count null values and values the field's type cannot read (and real NaNs). Empty
/// cells mean the statistic does not apply or no value was seen. Numbers are written without
/// the locale: counts, integer sums, minimums and maximums exactly, computed figures (real
/// sums, means, deviations, percentiles) with 15 significant digits. Percentiles are exact up to
/// 100,000 values of a field; beyond that they come from a reproducible uniform sample of 100,000
/// of its values (rank error under one percentile point except with probability below 10⁻⁸), so
/// memory per field stays bounded however many rows come.
///
/// The caller drives it through the step contract and ends it with release().
StepPluginStep* createProfilerStep();

}  // namespace texthost
