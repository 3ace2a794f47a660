#pragma once

// Sizes that the text file works with, and an open that takes them. The runtime's own code
// and its tests use this; steps call mvbTxtFileOpen().

#include <cstddef>
#include <cstdint>

#include "mvb/export.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"

namespace mvb::txt {

/// Buffer sizes of an open text file.
struct FileTuning {
    /// Bytes read from the file at once; also the size of the write buffer. A quarter of a
    /// megabyte keeps a system call rare and leaves room in a core's cache for the rows the
    /// bytes become (with a megabyte, each read evicted the rows of the one before).
    size_t bufferBytes = size_t{256} << 10;
    /// Longest line or single read, in bytes of the file, that the reader holds; a longer one
    /// fails instead of growing memory without bound.
    size_t maxRecordBytes = kMvbLongestRecordBytes;
    /// Bytes written between the syncs of a file that replaces another, or the write-outs of
    /// any other (see EarlyWriteBack): the sync at the end finds about this much left to write
    /// (for a 256 MB file on the test machine, 5 ms with 8 MB against 21 ms with 32 MB), and the
    /// calls on the way stay few.
    uint64_t syncStretchBytes = uint64_t{8} << 20;
};

/// mvbTxtFileOpen() with the given sizes (tests use tiny buffers so that lines cross them).
MVB_API MvbTxtFile* openTextFile(const char* path, int mode, int encoding, uint32_t flags,
                                 MvbString& errorText, const FileTuning& tuning);

}  // namespace mvb::txt
