#include "bmod/ruvaserv/actions/embedded_image.h"

#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>

#include "common/string_format.h"

namespace ruva {

namespace {

// A name that fills the whole array has no NUL; never read past it.
size_t rowNameLength(const ImageEntryData& row) {
    return strnlen(row.name, kImageNameSize);
}

}  // namespace

EmbeddedImage::~EmbeddedImage() {
    clear();
}

void EmbeddedImage::clear() {
    for (ImageEntry* entry = firstImage; entry;) {
        ImageEntry* next = entry->next;
        delete entry;
        entry = next;
    }
    firstImage = lastImage = nullptr;
    errmsg.clear();
}

void EmbeddedImage::setError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
}

int EmbeddedImage::init(const ImageEntryData* rows) {
    clear();
    for (const ImageEntryData* row = rows; row && rowNameLength(*row) > 0; ++row) {
        auto* entry = new (std::nothrow) ImageEntry{};
        if (!entry) {
            setError("No memory");
            return 0;
        }
        entry->ied = row;
        entry->doct = DOCT_UNKNOWN;
        entry->subt = DOC_SUBTYPE_UNKNOWN;
        getDocType(row->data, row->count, &entry->doct, &entry->subt);
        snprintf(entry->filename, sizeof entry->filename, "%.*s.%s", static_cast<int>(rowNameLength(*row)),
                 row->name, getDocTypeExt(entry->doct, entry->subt));
        if (lastImage) {
            lastImage->next = entry;
        } else {
            firstImage = entry;
        }
        lastImage = entry;
    }
    return 1;
}

ImageEntry* EmbeddedImage::findImageEntry(const char* name) const {
    if (!name) return nullptr;
    size_t len = strlen(name);
    for (ImageEntry* entry = firstImage; entry; entry = entry->next) {
        if (rowNameLength(*entry->ied) == len && strncasecmp(entry->ied->name, name, len) == 0) return entry;
    }
    return nullptr;
}

int EmbeddedImage::outputImageEntry(const ImageEntry* entry, FILE* file) {
    if (!entry || !file) {
        setError("Failed to write image, %s", strerror(EINVAL));
        return 0;
    }
    // A short image fits the stream's buffer, so a full disk shows only at
    // the flush: that failure counts as well.
    errno = 0;
    size_t written = entry->ied->count ? fwrite(entry->ied->data, 1, entry->ied->count, file) : 0;
    if (written != entry->ied->count || fflush(file) != 0) {
        setError("Failed to write image, %s", strerror(errno ? errno : EIO));
        return 0;
    }
    return 1;
}

std::unique_ptr<EmbeddedImage> newEmbeddedImage(uint16_t /*flags*/) {
    return std::unique_ptr<EmbeddedImage>(new (std::nothrow) EmbeddedImage());
}

}  // namespace ruva
