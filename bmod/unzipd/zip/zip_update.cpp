#include "bmod/unzipd/zip/zip_update.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bmod/unzipd/zip/zip_rewrite.h"
#include "common/string_format.h"

namespace ruva {

namespace {

constexpr size_t kMaxErrorLen = 511;
constexpr size_t kMaxMessageLen = 2047;

const char* actionOption(ZipAction action) {
    switch (action) {
        case ZIP_ACTION_DELETE:
            return "-d";
        case ZIP_ACTION_UPDATE:
            return "-u";
        case ZIP_ACTION_FRESHEN:
            return "-f";
        default:
            return "";
    }
}

void freeChain(ZipEntry* entry) {
    while (entry) {
        ZipEntry* next = entry->next;
        delete entry;
        entry = next;
    }
}

}  // namespace

std::unique_ptr<Zip> newZip(uint16_t flags) {
    std::unique_ptr<Zip> zip(new (std::nothrow) Zip());
    if (!zip) return nullptr;
    zip->zipMsg = newStringList();
    if (!zip->zipMsg) return nullptr;
    zip->flags = flags;
    return zip;
}

Zip::~Zip() {
    freeChain(fze);
}

void Zip::clear() {
    zipMsg->clear();
    errmsg.reset();
}

const char* Zip::getError() const {
    return errmsg ? errmsg.get() : "";
}

void Zip::setError(const char* format, ...) {
    errmsg.reset();
    if (!format) return;
    std::string text;
    va_list ap;
    va_start(ap, format);
    try {
        text = vformat(format, ap);
    } catch (const std::bad_alloc&) {
        va_end(ap);
        return;  // no memory: no error text, as with a failed copy below
    }
    va_end(ap);
    if (text.size() > kMaxErrorLen) text.resize(kMaxErrorLen);
    size_t len = strlen(text.c_str());
    errmsg.reset(new (std::nothrow) char[len + 1]);
    if (errmsg) memcpy(errmsg.get(), text.c_str(), len + 1);
}

int Zip::printf(const char* format, ...) {
    if (!format) return 0;
    std::string text;
    va_list ap;
    va_start(ap, format);
    try {
        text = vformat(format, ap);
    } catch (const std::bad_alloc&) {
        va_end(ap);
        return 0;
    }
    va_end(ap);
    if (text.size() > kMaxMessageLen) text.resize(kMaxMessageLen);
    return zipMsg->add(text.c_str()) ? 1 : 0;
}

void Zip::setStatusCallback(ZipStatusCallback callback, void* data) {
    statusCallback = callback;
    clientData = callback ? data : nullptr;
}

void Zip::setOkCallback(ZipOkCallback callback, void* data) {
    okCallback = callback;
    okClientData = callback ? data : nullptr;
}

void Zip::logCommand(ZipAction action, const char* archive, int argc, const char* const* args) {
    if (!(flags & kZipLogCommands)) return;
    printf("zip %s %s", actionOption(action), archive ? archive : "");
    for (int i = 0; i < argc; ++i) printf("%s ", args[i] ? args[i] : "");
}

int Zip::zip(ZipAction action, int argc, const char* const* argv) {
    if (argc < 1 || !argv || !argv[0]) {
        setError("Invalid command arguments (no zip file name)");
        return 0;
    }
    logCommand(action, argv[0], argc - 1, argv + 1);
    return zipEntry(this, action, argc, argv);
}

int Zip::putFile(ZipAction action, const char* archive, const char* filePath, const char* memberName,
                 bool foldNames) {
    logCommand(action, archive, filePath ? 1 : 0, &filePath);
    return zipEntryPutFile(this, action, archive, filePath, memberName, foldNames);
}

int Zip::deleteMembers(const char* archive, const char* pattern, bool foldNames) {
    logCommand(ZIP_ACTION_DELETE, archive, pattern ? 1 : 0, &pattern);
    return zipEntryDeleteMembers(this, archive, pattern, foldNames);
}

int Zip::zipEntries(ZipAction action, const char* database, ZipEntry* list) {
    if (!database) {
        setError("zipEntries requires a database");
        return 0;
    }
    if (!list) list = fze;
    try {
        // Two lines: compressed entries first, then the stored ones after "-0".
        std::vector<std::string> lines[2];
        for (int store = 0; store < 2; ++store) {
            std::vector<std::string>& args = lines[store];
            args.emplace_back(database);
            if (store) args.emplace_back("-0");
            for (ZipEntry* e = list; e; e = e->next) {
                if (((e->flags & kZipEntryStore) != 0) != (store != 0)) continue;
                if (e->name) args.push_back(*e->name);
                if (e->comment) {
                    args.emplace_back((e->flags & kZipEntryArchiveComment) ? "-z" : "-c");
                    args.push_back(*e->comment);
                }
            }
        }
        int result = 1;
        for (int store = 0; store < 2; ++store) {
            const std::vector<std::string>& args = lines[store];
            if (args.size() < (store ? 3u : 2u)) continue;
            std::vector<const char*> argv;
            argv.reserve(args.size());
            for (const std::string& a : args) argv.push_back(a.c_str());
            result = zip(action, static_cast<int>(argv.size()), argv.data());
            if (!result) return 0;
        }
        return result;
    } catch (const std::bad_alloc&) {
        setError("No memory");
        return 0;
    }
}

int Zip::setZipComment(const char* database, const char* comment) {
    const char* argv[] = {database, "-0", "-z", comment ? comment : ""};
    return zip(ZIP_ACTION_ADD, 4, argv);
}

ZipEntry* Zip::addZipEntry(ZipEntry* list, const char* name, const char* comment, uint16_t flags) {
    ZipEntry* entry = new (std::nothrow) ZipEntry();
    if (!entry) {
        setError("No memory");
        return nullptr;
    }
    try {
        if (name) entry->name.emplace(name);
        if (comment) entry->comment.emplace(comment);
    } catch (const std::bad_alloc&) {
        delete entry;
        setError("No memory");
        return nullptr;
    }
    entry->flags = flags;
    if (!list || list == fze) {
        if (lze)
            lze->next = entry;
        else
            fze = entry;
        lze = entry;
    } else {
        ZipEntry* last = list;
        while (last->next) last = last->next;
        last->next = entry;
    }
    ++numZipEntries;
    return entry;
}

void Zip::deleteZipEntries(ZipEntry* list) {
    if (!list || list == fze) {
        freeChain(fze);
        fze = lze = nullptr;
    } else {
        freeChain(list);
    }
    numZipEntries = 0;
}

}  // namespace ruva
