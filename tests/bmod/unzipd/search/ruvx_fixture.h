// Word-index images for the search tests, written by ruvx_build.py (an
// independent writer that knows only the format) and held in heap blocks of
// exactly their size, so that AddressSanitizer sees a one-byte over-read.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva::test {

struct IndexDef {
    using Postings = std::vector<std::pair<unsigned, unsigned>>;  // (document, count)
    struct Doc {
        int docType;
        int subType;
        std::string name;
    };
    struct Member {
        std::string name, comment, data;
    };

    int type = 0;
    int dimension = 3;
    bool postings16 = false;
    std::optional<std::string> header;  // replaces the header text
    std::vector<Doc> docs;
    std::vector<std::pair<std::string, Postings>> words;
    std::vector<Member> members;  // library members before the index

    IndexDef& doc(const std::string& name, int docType = 4, int subType = 0) {
        docs.push_back({docType, subType, name});
        return *this;
    }
    IndexDef& word(const std::string& w, Postings p) {
        words.emplace_back(w, std::move(p));
        return *this;
    }
};

inline std::string hexOf(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The library an index also goes into: its index member and how it is stored.
struct LibraryOut {
    std::string path;
    std::string indexName = "title.qxx";
    bool deflated = false;
};

// Runs the builder once over all defs; with a library given for a def,
// also writes that library. A python start costs seconds on a loaded
// machine, so outputs are kept in the build tree under a hash of the def
// text (and the builder's modification time) and reused by later runs. The
// image bytes per def; an empty vector when the builder failed (the
// calling test then fails).
inline std::vector<std::string> runRuvxBuilder(const std::vector<IndexDef>& defs, const TempDir& dir,
                                               const std::vector<LibraryOut>& libraries = {}) {
    std::string text;
    for (size_t i = 0; i < defs.size(); ++i) {
        const IndexDef& def = defs[i];
        text += "type " + std::to_string(def.type) + "\ndimension " + std::to_string(def.dimension) +
                "\npostings16 " + (def.postings16 ? "1" : "0") + "\n";
        if (def.header) text += "header " + hexOf(*def.header) + "\n";
        for (const auto& d : def.docs)
            text += "doc " + std::to_string(d.docType) + " " + std::to_string(d.subType) + " " + hexOf(d.name) + "\n";
        for (const auto& [w, postings] : def.words) {
            text += "word " + hexOf(w);
            for (auto [doc, count] : postings) text += " " + std::to_string(doc) + ":" + std::to_string(count);
            text += "\n";
        }
        text += "image image" + std::to_string(i) + ".qxx\n";
        if (i < libraries.size() && !libraries[i].path.empty()) {
            const LibraryOut& lib = libraries[i];
            text += "library lib" + std::to_string(i) + ".zip " + lib.indexName +
                    (lib.deflated ? " deflated\n" : " stored\n");
            for (const auto& m : def.members)
                text += "member " + hexOf(m.name) + " " + hexOf(m.comment) + " " + hexOf(m.data) + "\n";
        }
        text += "end\n";
    }
    struct stat st {};
    ::stat(RUVA_RUVX_BUILDER, &st);
    const std::string key = std::to_string(std::hash<std::string>()(text)) + "-" + std::to_string(st.st_mtime);
    const std::string cached = std::string(RUVA_RUVX_CACHE) + "/" + key;
    if (::access((cached + "/done").c_str(), F_OK) != 0) {
        // Built beside the cache and renamed into it, so that parallel test
        // processes never see half a result.
        ::mkdir(RUVA_RUVX_CACHE, 0777);
        const std::string work = cached + ".tmp" + std::to_string(::getpid());
        ::mkdir(work.c_str(), 0777);
        writeFile(work + "/def.txt", text);
        int status = runShell("cd " + work + " && python3 " + RUVA_RUVX_BUILDER + " def.txt && touch done");
        EXPECT_EQ(status, 0) << "ruvx_build.py failed";
        if (status != 0) return {};
        if (::rename(work.c_str(), cached.c_str()) != 0) runShell("rm -rf " + work);
    }
    std::vector<std::string> images;
    for (size_t i = 0; i < defs.size(); ++i) {
        images.push_back(readFile(cached + "/image" + std::to_string(i) + ".qxx"));
        writeFile(dir.file("image" + std::to_string(i) + ".qxx"), images.back());
        if (i < libraries.size() && !libraries[i].path.empty())
            writeFile(libraries[i].path, readFile(cached + "/lib" + std::to_string(i) + ".zip"));
    }
    return images;
}

// One image, "" on failure.
inline std::string buildImage(const IndexDef& def) {
    TempDir dir;
    std::vector<std::string> images = runRuvxBuilder({def}, dir);
    return images.empty() ? std::string() : images[0];
}

// An image in a heap block of exactly its size.
class HeapImage {
public:
    explicit HeapImage(const std::string& bytes) : size_(bytes.size()), data_(new unsigned char[bytes.size()]) {
        if (size_) std::memcpy(data_.get(), bytes.data(), size_);
    }
    const unsigned char* data() const { return data_.get(); }
    size_t size() const { return size_; }

private:
    size_t size_;
    std::unique_ptr<unsigned char[]> data_;
};

}  // namespace ruva::test
