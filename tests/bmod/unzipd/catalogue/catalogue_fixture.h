// Helpers of the catalogue tests: libraries made with Info-ZIP zip at test
// time, structure files, a language-list key of the test's own and the log
// lines a test produced.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "tests/support/test_support.h"

namespace ruva::test::cat {

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A key per test process: ctest runs the cases of one binary side by side.
inline key_t languageKey() {
    return static_cast<key_t>(0x52560000 + (getpid() & 0xffff));
}

// The message texts logged while it lives ("Err.: text\n" becomes "text").
struct LogCapture {
    std::vector<std::string> texts;
    std::vector<int> levels;
    LogCapture() {
        setLogLineSink(
            [](void* c, const std::string& line) {
                auto* self = static_cast<LogCapture*>(c);
                // "[pid] date time Name: text\n"
                size_t name = line.find(": ");
                std::string level = name == std::string::npos ? "" : line.substr(name - 4, 4);
                int n = -1;
                for (int i = 0; i < 8; ++i)
                    if (level == logLevelName(i)) n = i;
                self->levels.push_back(n);
                std::string text = name == std::string::npos ? line : line.substr(name + 2);
                if (!text.empty() && text.back() == '\n') text.pop_back();
                self->texts.push_back(text);
            },
            this);
    }
    ~LogCapture() { setLogLineSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool has(const std::string& text) const {
        for (const std::string& t : texts)
            if (t == text) return true;
        return false;
    }
    int levelOf(const std::string& text) const {
        for (size_t i = 0; i < texts.size(); ++i)
            if (texts[i] == text) return levels[i];
        return -1;
    }
    std::string all() const {
        std::string out;
        for (const std::string& t : texts) out += t + "\n";
        return out;
    }
};

// A library to make: a path and its archive comment (none: no comment).
struct LibrarySpec {
    std::string path;
    std::optional<std::string> comment;
};

// One library made by Info-ZIP zip: a stored member of 300 bytes (so a
// copy cut after 200 bytes is broken) and no archive comment. Empty when zip
// fails.
inline std::string infoZipTemplate() {
    TempDir dir;
    std::string path = dir.file("t.kvo");
    if (runShell("cd " + shellQuote(dir.path()) +
                 " && head -c 300 /dev/zero | tr '\\0' m > m.txt && zip -q -0 -X " + "t.kvo m.txt") != 0)
        return "";
    return readFile(path);
}

// Makes every library as a copy of infoZipTemplate() with its archive
// comment set in the end record, as "zip -z" sets it: the record's last
// field (comment length, little-endian) and the comment after it. One zip
// run for all: process starts, not the catalogue, would else take the time.
inline bool makeLibraries(const std::vector<LibrarySpec>& libs) {
    std::string base = infoZipTemplate();
    // End record: signature "PK\5\6" 22 bytes from the end, comment length 0.
    if (base.size() < 22 || base.compare(base.size() - 22, 4, "PK\5\6") != 0 || base[base.size() - 2] != 0 ||
        base[base.size() - 1] != 0)
        return false;
    for (const LibrarySpec& lib : libs) {
        std::string bytes = base;
        if (lib.comment) {
            size_t len = lib.comment->size();
            bytes[bytes.size() - 2] = static_cast<char>(len & 0xff);
            bytes[bytes.size() - 1] = static_cast<char>(len >> 8);
            bytes += *lib.comment;
        }
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(lib.path).parent_path(), ec);
        writeFile(lib.path, bytes);
        if (readFile(lib.path) != bytes) return false;
    }
    return true;
}

// One structure-file record.
struct MlRecord {
    std::string name;
    std::string label;
    std::string level;
    std::string path;
    std::string indexFile = "-";
};

inline std::string structureText(const std::vector<MlRecord>& records) {
    std::string text = "# structure\n";
    for (const MlRecord& r : records)
        text += "Name: \"" + r.name + "\"\nLabel: \"" + r.label + "\"\nLevel: " + r.level + "\nPath: \"" +
                r.path + "\"\nIndexFile: \"" + r.indexFile + "\"\n\n";
    return text;
}

// A catalogue under the test's language key.
inline std::unique_ptr<ZipList> newTestZipList(uint16_t flags = 0) {
    return newZipList(flags, languageKey());
}

// Base names of the name list, in order.
inline std::vector<std::string> nameList(const ZipList& zl) {
    std::vector<std::string> names;
    for (ZipStructure* zs = zl.getFirstZipStructure(); zs; zs = zs->getNext())
        names.push_back(zs->zipBasename);
    return names;
}

// Full paths of a node's library list, in order.
inline std::vector<std::string> nodeLibraries(const MlZipStruct* node) {
    std::vector<std::string> paths;
    for (ZipStructure* zs = node ? node->zs : nullptr; zs && paths.size() < 100000; zs = zs->MlNext)
        paths.push_back(zs->zipName);
    return paths;
}

}  // namespace ruva::test::cat
