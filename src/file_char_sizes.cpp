#include "file_char_sizes.h"

#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

bool getFileCharSizes(MvbString path, bool honourByteOrderMark, int encoding, int* minimum,
                      int* maximum) {
    if (encoding == -1) {
        MvbString errorText;
        const uint32_t flags = honourByteOrderMark ? MVB_FLAG_READ_BOM : 0u;
        MvbTxtFile* file = mvbTxtFileOpen(path.asCstr(), MVB_OPEN_READ, -1, flags, errorText);
        if (file == nullptr) return false;
        encoding = file->getEncoding();
        file->close();
    }
    *minimum = np_uchar_chsize_min(encoding);
    *maximum = np_uchar_xcsize_max(encoding);
    return true;
}
