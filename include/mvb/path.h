#pragma once

#include "mvb/export.h"
#include "mvb/string.h"

/// The directory part of a POSIX path, without a trailing `/` ("" when there is none, meaning
/// the current directory; "/" for a file in the root). When `fileName` is given it receives
/// the file-name part.
MVB_API MvbString mvbParsePath(const char* path, MvbString* fileName);

/// Joins a directory and a name with one `/`; an empty directory gives the name alone.
MVB_API MvbString mvbConcatPath(const char* directory, const char* name);

/// Splits `path` into its directory part (`dirBuffer`) and file-name part (`nameBuffer`), each
/// NUL-terminated within its size. Returns 0 when the file-name part fits; a directory part too
/// long for its buffer leaves that buffer empty and is no failure. Non-zero otherwise.
MVB_API int np_fio_pparse(const char* path, char* dirBuffer, int dirSize, char* nameBuffer,
                          int nameSize);
