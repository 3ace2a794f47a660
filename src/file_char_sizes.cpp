#include "file_char_sizes.h"

#include <sys/stat.h>

#include <algorithm>

#include "mvb/charset.h"
#include "mvb/txtfile.h"
#include "mvb/types.h"

bool getFileCharSizes(MvbString path, bool honourByteOrderMark, int encoding, int* minimum,
                      int* maximum) {
    const bool configured = encoding != -1;
    if (encoding == -1) {
        // Only a regular file is opened to look at its head: the head of a stream read here
        // would be lost to the run, and opening a named pipe waits for its writer.
        struct stat info {};
        if (path.view() == "-" || stat(path.asCstr(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
        MvbString errorText;
        const uint32_t flags = honourByteOrderMark ? MVB_FLAG_READ_BOM : 0u;
        MvbTxtFile* file = mvbTxtFileOpen(path.asCstr(), MVB_OPEN_READ, -1, flags, errorText);
        if (file == nullptr) return false;
        encoding = file->getEncoding();
        file->close();
    }
    *minimum = np_uchar_chsize_min(encoding);
    *maximum = np_uchar_xcsize_max(encoding);
    if (configured && honourByteOrderMark) {
        // A mark in a file chooses its encoding over the configured one, and the file is not
        // looked at here: the sizes take in every encoding a mark can name, so that a field is
        // never held to fewer characters than its bytes hold in the file's own encoding.
        for (const int marked : {mvbEncodingUtf8, mvbEncodingUtf16Le, mvbEncodingUtf16Be,
                                 mvbEncodingUtf32Le, mvbEncodingUtf32Be}) {
            *minimum = std::min(*minimum, np_uchar_chsize_min(marked));
            *maximum = std::max(*maximum, np_uchar_xcsize_max(marked));
        }
    }
    return true;
}
