#pragma once

// Reading and writing the text forms of values, without the locale. Private to the runtime.

#include <cstdint>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/export.h"

namespace mvb::text {

// parseBool, parseInt64 and parseReal are declared with the value class (mvb/datavar.h),
// which reads texts through them.

/// Writes the shortest digits that read back as `value`, in plain decimal notation when
/// 1e-6 <= |value| < 1e21 (`2000000`, `0.0001`) and with an exponent otherwise (`1e-07`,
/// `1e+21`); zero keeps its sign (`-0`). `out` holds at least 32 bytes (25 are the most
/// written). Returns the byte count (no NUL).
int formatReal(double value, char* out) noexcept;
/// formatReal without its shortcut for values of few digits: the text that shortcut must give.
MVB_API int formatRealGeneral(double value, char* out) noexcept;
/// Writes `value` in decimal; `out` holds at least 21 bytes. Returns the byte count (no NUL).
int formatInt64(int64_t value, char* out) noexcept;

}  // namespace mvb::text
