#pragma once

#include "mvb/string.h"

/// The smallest and largest byte size of one character in the encoding that `path` will be read
/// with. With `encoding` -1 the file is opened (honouring a byte-order mark when
/// `honourByteOrderMark` is set) to learn the detected encoding and closed at once; any other
/// encoding number is answered without touching the file, as the sizes of that encoding and,
/// when a mark is honoured, of every encoding a mark can name. Returns false, leaving both outputs
/// untouched and reporting nothing, when the file had to be opened and could not be.
bool getFileCharSizes(MvbString path, bool honourByteOrderMark, int encoding, int* minimum,
                      int* maximum);
