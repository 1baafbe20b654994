// Helpers of the catalogue tests: libraries made with Info-ZIP zip at test
// time, structure files, a language-list key of the test's own and the log
// lines a test produced.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/uzd_error.h"
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

// Makes every library with one member, in one shell run; the comment goes
// in with "zip -z" as an outside tool would set it.
inline bool makeLibraries(const std::vector<LibrarySpec>& libs) {
    std::string cmd = "set -e; t=$(mktemp -d); printf 'member text\\n' > \"$t/m.txt\"";
    for (const LibrarySpec& lib : libs) {
        std::string p = shellQuote(lib.path);
        cmd += "; mkdir -p \"$(dirname " + p + ")\"; rm -f " + p + "; zip -q -j -X " + p + " \"$t/m.txt\"";
        if (lib.comment) cmd += "; printf '%s' " + shellQuote(*lib.comment) + " | zip -q -z " + p;
    }
    cmd += "; rm -rf \"$t\"";
    return runShell(cmd) == 0;
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
        text += "Name: \"" + r.name + "\"\nLabel: \"" + r.label + "\"\nLevel: " + r.level + "\nPath: \"" + r.path +
                "\"\nIndexFile: \"" + r.indexFile + "\"\n\n";
    return text;
}

// A catalogue under the test's language key.
inline std::unique_ptr<ZipList> newTestZipList(uint16_t flags = 0) {
    return newZipList(flags, languageKey());
}

// Base names of the name list, in order.
inline std::vector<std::string> nameList(const ZipList& zl) {
    std::vector<std::string> names;
    for (ZipStructure* zs = zl.getFirstZipStructure(); zs; zs = zs->getNext()) names.push_back(zs->zipBasename);
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
