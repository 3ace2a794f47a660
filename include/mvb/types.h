#pragma once

#include <cstdint>

/// Type codes of field descriptors, property declarations and values.
/// Properties and table columns are declared only as boolean, integer or string.
enum mvbType : int {
    mvbTypeNull = 0,
    mvbTypeBoolean = 1,
    mvbTypeInteger = 2,
    mvbTypeReal = 3,
    mvbTypeString = 4,
    mvbTypeDate = 5,
};

/// Modes of mvbTxtFileOpen.
enum : int {
    MVB_OPEN_APPEND = 0,  ///< write, appending to an existing file (created when missing)
    MVB_OPEN_READ = 1,    ///< read
    MVB_OPEN_CREATE = 2,  ///< create or empty, then write
};

/// Flag bits of mvbTxtFileOpen and MvbDirectoryListing::openCurrent.
enum : uint32_t {
    MVB_FLAG_EOL_CR = 0x80000000u,      ///< write CR line ends
    MVB_FLAG_EOL_CRLF = 0x40000000u,    ///< write CR LF line ends
    MVB_FLAG_EOL_LF = 0x20000000u,      ///< write LF line ends
    MVB_FLAG_EOL_NATIVE = 0x10000000u,  ///< write the platform's line end (LF)
    MVB_FLAG_WRITE_BOM = 0x100000u,     ///< write a byte-order mark at the start of a new file
    MVB_FLAG_PROBE = 0x200000u,         ///< only prove the open works; change nothing
    MVB_FLAG_REPLACE_NULS = 0x400000u,  ///< each NUL read becomes a blank
    MVB_FLAG_READ_BOM = 0x800000u,      ///< honour a byte-order mark when reading
    /// create: write a regular (or missing) file under a temporary name beside it, put in its
    /// place only by MvbTxtFile::commit()
    MVB_FLAG_REPLACE_AT_END = 0x1000000u,
    /// append: the text written is lines, so a file whose last line has no line end gets one
    /// before them (else the first line written would continue that line)
    MVB_FLAG_APPEND_LINES = 0x2000000u,
};

/// Flag of mvbDirectoryOpen (the only one the steps pass).
inline constexpr uint32_t MVB_DIR_FILES = 0x40000000u;
