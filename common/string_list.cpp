#include "common/string_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "common/mapped_file.h"

namespace ruva {

StringList::~StringList() {
    clear();
}

String* StringList::addBuffer(const char* buf, size_t len) {
    if (buf == nullptr && len > 0) return nullptr;
    String* entry = new (std::nothrow) String;
    if (entry == nullptr) return nullptr;
    try {
        entry->value.assign(buf != nullptr ? buf : "", len);
    } catch (const std::bad_alloc&) {
        delete entry;
        return nullptr;
    }
    if (last != nullptr) {
        last->next = entry;
    } else {
        first = entry;
    }
    last = entry;
    return entry;
}

String* StringList::add(const char* text) {
    if (text == nullptr) return nullptr;
    return addBuffer(text, std::strlen(text));
}

void StringList::freeString(String* entry) {
    if (entry == nullptr) return;
    String* prev = nullptr;
    String* cur = first;
    while (cur != nullptr && cur != entry) {
        prev = cur;
        cur = cur->next;
    }
    // Not in this list: it belongs to someone else and is left alone.
    if (cur == nullptr) return;
    if (prev != nullptr) {
        prev->next = cur->next;
    } else {
        first = cur->next;
    }
    if (last == cur) last = prev;
    delete cur;
}

void StringList::qfree(String* entry) {
    delete entry;
}

String* StringList::unqueue() {
    String* entry = first;
    if (entry == nullptr) return nullptr;
    first = entry->next;
    if (first == nullptr) last = nullptr;
    entry->next = nullptr;
    return entry;
}

void StringList::clear() {
    // A loop, not a destructor chain: recursion over 100,000 entries would
    // overflow the stack.
    String* entry = first;
    first = last = nullptr;
    while (entry != nullptr) {
        String* next = entry->next;
        delete entry;
        entry = next;
    }
}

const char* StringList::getValue(const String* entry) {
    return entry != nullptr ? entry->value.c_str() : nullptr;
}

int StringList::setValue(String* entry, const char* text) {
    if (entry == nullptr) return 0;
    try {
        entry->value.assign(text != nullptr ? text : "");
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int StringList::outputToFP(FILE* fp) {
    if (fp == nullptr) return 0;
    for (const String* entry = first; entry != nullptr; entry = entry->next) {
        const char* text = entry->value.c_str();
        size_t len = std::strlen(text);
        if (std::fwrite(text, 1, len, fp) != len || std::fputc('\n', fp) == EOF) return 0;
    }
    // Buffered bytes may fail only here (a full disk, a file size limit).
    return std::fflush(fp) == 0 ? 1 : 0;
}

int StringList::outputToFile(const char* name) {
    if (name == nullptr) return 0;
    FILE* fp = std::fopen(name, "wbe");
    if (fp == nullptr) return 0;
    int ok = outputToFP(fp);
    if (std::fclose(fp) != 0) ok = 0;
    if (!ok) {
        // Remove only what we created as a file: a device, FIFO, socket or
        // symlink under this name is not ours to unlink.
        struct stat st;
        if (lstat(name, &st) == 0 && S_ISREG(st.st_mode)) unlink(name);
    }
    return ok;
}

int StringList::appendToFile(const char* name) {
    if (name == nullptr) return 0;
    int fd = open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return 0;
    struct stat st;
    // A second descriptor outlives fclose, so the file can be cut back after
    // stdio has given up its last buffered bytes.
    int keep = fstat(fd, &st) == 0 ? dup(fd) : -1;
    FILE* fp = keep >= 0 ? fdopen(fd, "ab") : nullptr;
    if (fp == nullptr) {
        close(fd);
        if (keep >= 0) close(keep);
        return 0;
    }
    int ok = outputToFP(fp);
    if (std::fclose(fp) != 0) ok = 0;
    if (!ok && S_ISREG(st.st_mode)) {
        // Keep what was there before the append, drop the partial tail. The
        // result is 0 either way; a failed cut has nothing left to try.
        int cut = ftruncate(keep, st.st_size);
        (void)cut;
    }
    close(keep);
    return ok;
}

int StringList::inputFromFile(const char* name) {
    char* data = nullptr;
    size_t size = 0;
    if (mapFile(name, &data, &size) == 0) return 0;
    int ok = 1;
    const char* line = data;
    const char* end = data + size;
    for (const char* p = data; p < end; ++p) {
        if (*p != '\n' && *p != '\0') continue;
        if (addBuffer(line, static_cast<size_t>(p - line)) == nullptr) {
            ok = 0;
            break;
        }
        line = p + 1;
    }
    // An unterminated last line is not added.
    unmapFile(&data, &size);
    return ok;
}

int StringList::concatStringList(StringList* src) {
    if (src == nullptr || src == this || src->first == nullptr) return 1;
    if (last != nullptr) {
        last->next = src->first;
    } else {
        first = src->first;
    }
    last = src->last;
    src->first = src->last = nullptr;
    return 1;
}

int StringList::countEntries() const {
    int n = 0;
    for (const String* entry = first; entry != nullptr; entry = entry->next) ++n;
    return n;
}

std::unique_ptr<StringList> newStringList() {
    return std::unique_ptr<StringList>(new (std::nothrow) StringList);
}

}  // namespace ruva
