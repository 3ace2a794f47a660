#pragma once

// Detection reads a large file in two parts at once: the second on a thread of its own.

#include <cstdint>
#include <thread>

#include "mvb/cores.h"

namespace textjob::infer {

/// The bytes of the file a pass reads: all of it, or the records from byte `begin` up to byte
/// `end` (0: the end of the file). A part after the first keeps the values that lose a type
/// (see ColumnStats::append).
struct PartOfFile {
    uint64_t begin = 0;
    uint64_t end = 0;
    bool later = false;
};

/// Whether a file of `bytes` is worth reading in two parts side by side.
inline bool worthTwoParts(uint64_t bytes, uint64_t partsFromBytes) {
    return bytes >= partsFromBytes && mvbUsableCores() >= 2;
}

/// Runs `second` on a thread of its own while `first` runs here. Returns false when `second`
/// threw (its fault is for one pass over the whole file to report at its place); a fault of
/// `first` passes on once `second` has ended.
template <class First, class Second>
bool readSideBySide(First&& first, Second&& second) {
    bool secondFailed = false;
    std::thread thread([&] {
        try {
            second();
        } catch (...) {
            secondFailed = true;
        }
    });
    try {
        first();
    } catch (...) {
        thread.join();
        throw;
    }
    thread.join();
    return !secondFailed;
}

}  // namespace textjob::infer
