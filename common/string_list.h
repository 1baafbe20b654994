// A singly linked list of text entries with file output and line input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace ruva {

// One entry. The value is held as a real string (any bytes, NUL included),
// never told apart by a marker inside the bytes.
struct String {
    String* next = nullptr;
    std::string value;
};

class StringList {
public:
    StringList() = default;
    ~StringList();  // clear()
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    // Appends an entry holding len bytes of buf; null when memory runs out.
    String* addBuffer(const char* buf, size_t len);
    // addBuffer with the text's length; a null text adds nothing (null).
    String* add(const char* text);
    // Unlinks the entry (searching from first) and frees it; null and an
    // entry that is not in this list are ignored.
    void freeString(String* entry);
    // Frees an entry that is no longer linked (after unqueue).
    void qfree(String* entry);
    // Unlinks and returns the first entry, its next cleared; null when empty.
    String* unqueue();
    // Frees all entries (iteratively: lists of 100,000 entries are normal).
    void clear();
    // The entry's NUL-ended text; null for a null entry.
    static const char* getValue(const String* entry);
    // Replaces the value; a null text leaves it empty. 0 for a null entry.
    static int setValue(String* entry, const char* text);

    // Each entry's text (up to its first NUL) and "\n". 0 at the first failed
    // write, flush included.
    int outputToFP(FILE* fp);
    // Writes a new file. On failure removes it when it is a regular file; 0.
    int outputToFile(const char* name);
    // Appends. On failure cuts the file back to its earlier size; 0.
    int appendToFile(const char* name);
    // One entry per line; lines end at LF or NUL (a CR stays), an
    // unterminated last line is dropped. 0 when the file cannot be mapped
    // (also when empty).
    int inputFromFile(const char* name);
    // Moves all entries of src to the end of this list; a null src changes
    // nothing. Returns 1.
    int concatStringList(StringList* src);
    int countEntries() const;

    String* first = nullptr;
    String* last = nullptr;
};

// Empty list; null when memory runs out.
std::unique_ptr<StringList> newStringList();

}  // namespace ruva
