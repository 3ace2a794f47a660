#pragma once

// Reading and writing the text forms of values, without the locale. Private to the runtime.

#include <cstdint>
#include <string_view>

#include "mvb/datavar.h"
#include "mvb/export.h"

namespace mvb::text {

// parseBool, parseInt64, parseReal, formatReal and formatInt64 are declared with the value
// class (mvb/datavar.h), which reads and writes texts through them.

/// formatReal without its shortcut for values of few digits: the text that shortcut must give.
MVB_API int formatRealGeneral(double value, char* out) noexcept;

}  // namespace mvb::text
