#include "bmod/unzipd/search/html_plain_text.h"

#include <sys/stat.h>

#include <cstring>

#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/hit_snippet.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

int getRawHtmlWithoutHtmlTag(const char* html, const char* phrase) {
    if (!html || !phrase || !*phrase) return 0;
    return findPhrase(htmlToPlainText(html), phrase) != std::string_view::npos ? 1 : 0;
}

int getRawHtml(Unzip& uz, ZipStructure* zs, const char* members, const char* phrase,
               const ExtractFailureHook& onExtractFailure) {
    if (!zs) return 0;
    // A library rewritten since the scan is being replaced: its hits stand.
    struct stat st;
    if (!zs->zipName || ::stat(zs->zipName, &st) != 0 || static_cast<unsigned long>(st.st_size) != zs->fileSize ||
        st.st_mtime != zs->mTime)
        return 1;
    int answer = 0;
    for (CentralHeader* ch = zs->findCentralHeader(members, nullptr); ch; ch = zs->findCentralHeader(members, ch)) {
        if (!uz.unzip(zs, ch, -1, -1)) {
            if (onExtractFailure) onExtractFailure(zs, ch);
            continue;
        }
        // The member text is not NUL-ended: test a copy that is.
        std::string text(reinterpret_cast<const char*>(uz.buf), uz.bufwritten);
        answer = getRawHtmlWithoutHtmlTag(text.c_str(), phrase);
    }
    return answer;
}

}  // namespace ruva
