// Word-index images for the search tests, written by ruvx_build.py (an
// independent writer that knows only the format) and held in heap blocks of
// exactly their size, so that AddressSanitizer sees a one-byte over-read.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva::test {

struct IndexSpec {
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

    IndexSpec& doc(const std::string& name, int docType = 4, int subType = 0) {
        docs.push_back({docType, subType, name});
        return *this;
    }
    IndexSpec& word(const std::string& w, Postings p) {
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

// Library output of a spec: the index member and how it is stored.
struct LibraryOut {
    std::string path;
    std::string indexName = "title.qxx";
    bool deflated = false;
};

// Runs the builder once over all specs (a python start costs seconds on a
// loaded machine); with a library given for a spec, also writes that
// library. The image bytes per spec; an empty vector when the builder
// failed (the calling test then fails).
inline std::vector<std::string> runRuvxBuilder(const std::vector<IndexSpec>& specs, const TempDir& dir,
                                               const std::vector<LibraryOut>& libraries = {}) {
    std::string text;
    for (size_t i = 0; i < specs.size(); ++i) {
        const IndexSpec& spec = specs[i];
        text += "type " + std::to_string(spec.type) + "\ndimension " + std::to_string(spec.dimension) +
                "\npostings16 " + (spec.postings16 ? "1" : "0") + "\n";
        if (spec.header) text += "header " + hexOf(*spec.header) + "\n";
        for (const auto& d : spec.docs)
            text += "doc " + std::to_string(d.docType) + " " + std::to_string(d.subType) + " " + hexOf(d.name) + "\n";
        for (const auto& [w, postings] : spec.words) {
            text += "word " + hexOf(w);
            for (auto [doc, count] : postings) text += " " + std::to_string(doc) + ":" + std::to_string(count);
            text += "\n";
        }
        text += "image " + dir.file("image" + std::to_string(i) + ".qxx") + "\n";
        if (i < libraries.size() && !libraries[i].path.empty()) {
            const LibraryOut& lib = libraries[i];
            text += "library " + lib.path + " " + lib.indexName + (lib.deflated ? " deflated\n" : " stored\n");
            for (const auto& m : spec.members)
                text += "member " + hexOf(m.name) + " " + hexOf(m.comment) + " " + hexOf(m.data) + "\n";
        }
        text += "end\n";
    }
    writeFile(dir.file("spec.txt"), text);
    int status = runShell(std::string("python3 ") + RUVA_RUVX_BUILDER + " " + dir.file("spec.txt"));
    EXPECT_EQ(status, 0) << "ruvx_build.py failed";
    if (status != 0) return {};
    std::vector<std::string> images;
    for (size_t i = 0; i < specs.size(); ++i) images.push_back(readFile(dir.file("image" + std::to_string(i) + ".qxx")));
    return images;
}

// One image, "" on failure.
inline std::string buildImage(const IndexSpec& spec) {
    TempDir dir;
    std::vector<std::string> images = runRuvxBuilder({spec}, dir);
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
