#pragma once

/// Marks the runtime support library's public API. The library is built with hidden
/// visibility, so only what carries this mark is exported from its shared object.
#if defined(MVB_BUILDING_RUNTIME)
#define MVB_API __attribute__((visibility("default")))
#else
#define MVB_API __attribute__((visibility("default")))
#endif
