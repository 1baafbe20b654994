// A registry of images held in the program as data, each under a short
// name: the pictures the document tree shows for character entities it
// cannot render as text. Each image gets a file name from its detected
// content type, is found by name and written to a stream.
//
// Operations give 1 or a pointer, or 0/null with the error text set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/docmodel/content_type.h"

namespace ruva {

inline constexpr size_t kImageNameSize = 16;      // ImageEntryData::name, NUL included
inline constexpr size_t kImageFilenameSize = 32;  // ImageEntry::filename, NUL included

// A row of the caller's image table; a row with an empty name ends the
// table. The registry keeps pointers to the rows and never copies or frees
// them, so the table must outlive it.
struct ImageEntryData {
    const unsigned char* data;  // the image bytes
    size_t count;               // their number
    char name[kImageNameSize];  // a name that fills all 16 bytes is read as 16 characters
};

// One registered image, owned by the registry.
struct ImageEntry {
    ImageEntry* next;
    const ImageEntryData* ied;  // its row, not owned
    DocType doct;               // DOCT_UNKNOWN when the bytes tell nothing
    SubDocType subt;
    char filename[kImageFilenameSize];  // "name.ext", cut to 31 characters
};

class EmbeddedImage {
public:
    // del: clear, then the registry.
    ~EmbeddedImage();
    EmbeddedImage(const EmbeddedImage&) = delete;
    EmbeddedImage& operator=(const EmbeddedImage&) = delete;

    // Frees every entry (not the rows) and the error text.
    void clear();
    // The last error text, "" when none.
    const std::string& getError() const { return errmsg; }
    // Keeps the formatted text; formats are literals of the program.
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void setError(std::nullptr_t) { errmsg.clear(); }

    // Clears, then registers one entry per row of rows up to the row with an
    // empty name, in table order. Null rows register nothing. 0 with
    // "No memory" when an entry cannot be allocated; the entries made so far
    // stay.
    int init(const ImageEntryData* rows);
    // The first entry; null when none.
    ImageEntry* getFirstImageEntry() const { return firstImage; }
    // The entry after entry; null at the end or for a null entry.
    ImageEntry* getNextImageEntry(const ImageEntry* entry) const { return entry ? entry->next : nullptr; }
    // The first entry whose row name equals name without regard to ASCII
    // case; null when none or for a null name.
    ImageEntry* findImageEntry(const char* name) const;
    // Writes the entry's bytes to file and flushes it. 1 when every byte
    // reached the file; 0 with "Failed to write image, <system text>" when
    // a write or the flush failed, or for a null entry or file.
    int outputImageEntry(const ImageEntry* entry, FILE* file);

    ImageEntry* firstImage = nullptr;
    ImageEntry* lastImage = nullptr;
    uint16_t flags = 0;  // always 0: the factory's flags are not kept
    std::string errmsg;

private:
    friend std::unique_ptr<EmbeddedImage> newEmbeddedImage(uint16_t flags);
    EmbeddedImage() = default;
};

// An empty registry; null when memory runs out. flags are unused.
std::unique_ptr<EmbeddedImage> newEmbeddedImage(uint16_t flags);

}  // namespace ruva
