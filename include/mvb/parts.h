#pragma once

// A job split into parts that run apart from each other (on other machines, say) reads and
// writes by these rules, so that every part, and a planner that only lists the files, computes
// the same split from the same listing without asking the others.

#include <cstddef>
#include <cstdint>
#include <string>

#include "mvb/export.h"

/// Deals the whole files of a file set to `count` parts: `parts[i]` (0-based) is the part
/// that reads the file of `sizes[i]` bytes, the files in the listing's order. Parts take runs
/// of neighbouring files, each about an equal share of the bytes: a file goes to the part in
/// whose share its middle byte falls. Each file counts one byte more than its size, so that
/// empty files are dealt too.
MVB_API void mvbDealFiles(const uint64_t* sizes, size_t fileCount, int count, int* parts) noexcept;

/// The byte offset `size * part / count` around which part `part` of a file of `size` bytes
/// begins (the first record starting at or after it); the size for `part == count`.
MVB_API uint64_t mvbPartOffset(uint64_t size, int part, int count) noexcept;

/// True when every part writes `path` itself, as one run of the whole job does, rather than
/// a file of its own: "-" (standard output), the names of a descriptor (/dev/stdout,
/// /dev/stderr, /dev/fd/N, /proc/self/fd/N), and a path that is there but is no regular file
/// (a device such as /dev/null, a named pipe, a socket, a folder). Relative paths resolve
/// against the working directory.
MVB_API bool mvbPartKeepsFileName(const std::string& path);

/// The name of the file that part `part` of `count` writes for `path`: "{part}" in the name
/// becomes the part's number, zero-padded to four digits (or to the digits of count - 1);
/// without it, ".part-0003-of-0016" goes before the file name's extension (before both of
/// ".csv.gz", in any case), or at its end when it has none. A path that
/// mvbPartKeepsFileName() keeps stays as it is.
MVB_API std::string mvbPartFileName(const std::string& path, int part, int count);
