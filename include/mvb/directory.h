#pragma once

#include <cstdint>

#include "mvb/export.h"
#include "mvb/string.h"
#include "mvb/txtfile.h"

/// The regular files of one directory whose names match a pattern, sorted by name in byte
/// order, with a current entry. Created by mvbDirectoryOpen(); destroyed by close().
class MVB_API MvbDirectoryListing {
  public:
    /// The text of the last failure; empty when there is simply no further file.
    virtual void getLastError(MvbString& text) const = 0;
    /// The current entry's path (the pattern's directory part joined with the file name).
    virtual void getCurrentName(MvbString& text) const = 0;
    /// Moves to the next matching file (the first, on a new listing); false when there is none.
    virtual bool moveNext() = 0;
    /// Opens the current entry as mvbTxtFileOpen() does.
    virtual MvbTxtFile* openCurrent(int mode, int encoding, uint32_t flags,
                                    MvbString& errorText) = 0;
    /// Destroys the listing.
    virtual void close() = 0;

  protected:
    virtual ~MvbDirectoryListing();
};

/// Gives a listing when the file-name part of `pattern` holds `*`, `?` or `[`; null for a plain
/// path. A directory that cannot be read gives a listing whose first moveNext() is false with
/// the reason in getLastError(); a pattern matching nothing, one whose error text is empty.
MVB_API MvbDirectoryListing* mvbDirectoryOpen(const char* pattern, uint32_t flags,
                                              MvbString& errorText);

/// A FILENAME that names the file `path` itself: a path whose file-name part holds `*`, `?` or
/// `[` would read as a pattern, so each of those and each backslash in that part gets a
/// backslash before it (a pattern takes "\*" for a star); any other path is given as it is.
MVB_API MvbString mvbLiteralFileName(const char* path);
