// Reader and search of a RUVX word index held in memory.
//
// Image layout (all numbers big-endian, offsets unsigned 32-bit):
//   header   "RUVX <major> <minor> <indexType> <dimension> <fileFlags>" NUL,
//            at most 79 characters before the NUL
//   offsets  six values right after the NUL, from the image start:
//            wtbdata, lstIndex, lst, wrd, reserved1, reserved2
//   WTB      one entry per prefix slot (Wtb): offset from the WRD start of
//            the slot's first word record, 0xFFFFFFFF when empty
//   LST index one entry per document number: offset from the LST start of
//            its record; 0xFFFFFFFF after the last document
//   LST      records: docType byte (signed), subType byte, member name NUL
//   WRD      records: word NUL, postings; then FF FF FF FF. A posting is a
//            document number (32 bits, or 16 with fileFlags bit 0) whose top
//            bit marks the word's last posting, then a count byte.
//
// An index is a library member that any upload can supply, so the reader
// checks every offset and length against the image size: a corrupt image
// gives null, an error or a shorter hit list, never a read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/docmodel/content_type.h"

namespace ruva {

class ExprParser;
struct ExprTree;
class Wtb;
class ZipStructure;

enum IndexType {
    IXT_FULLTEXT = 0,
    IXT_TITLE = 1,
    IXT_CTW = 2,
    IXT_DOCNO = 3,
    IXT_UNKNOWN = 4,
    IXT_TOPICTITLE = 5,
};

inline constexpr char kRuvxMagic[] = "RUVX";
inline constexpr size_t kRuvxHeaderMax = 79;  // characters before the NUL
inline constexpr size_t kRuvxOffsetsSize = 24;
inline constexpr uint32_t kRuvxNone = 0xFFFFFFFF;
inline constexpr uint32_t kRuvxPostings16 = 0x01;  // fileFlags bit 0
// Room of a suggestion list, NUL included.
inline constexpr size_t kSuggestionRoom = 2048;

// One hit: a document and the words that matched in it.
struct RuvxSearchResult {
    std::optional<std::string> filename;  // the member name, once looked up
    unsigned long docId = 0;
    DocType docType = DOCT_UNKNOWN;
    SubDocType subType = static_cast<SubDocType>(0);
    std::string tokens;                // matched words as the hit line shows them
    uint8_t occuranceCount[4] = {};    // counts of up to four words, rest 0
};
using RuvxSearchList = std::vector<RuvxSearchResult>;

// The command-wide list of collection suggestions: ",W1,W2,...," and the
// number of words appended. Reset by the command for each collection.
struct SuggestionCollection {
    std::string list;
    int count = 0;
};

// The phrase test of the full-text search, bound by the caller to the
// library whose index is searched: 1 keeps the hit of that member name.
using PhraseTest = std::function<int(const std::string& filename)>;

class Ruvx {
public:
    ~Ruvx();  // del: the Wtb, a mapping of its own, the result, the parser
    Ruvx(const Ruvx&) = delete;
    Ruvx& operator=(const Ruvx&) = delete;

    // The last message, or "".
    const char* getError() const { return errmsg.c_str(); }
    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // searchRuvx: the hits of an expression, one per member name, or null:
    // on failure with a message; with none when nothing matched, or when
    // maxNumHits > 0 and numberOfHits() exceeds it. The list is the
    // object's, valid until the next search or deletion.
    const RuvxSearchList* search(const char* str, int maxNumHits);
    // searchRuvxFS: the full-text form. Every pattern matches exactly
    // (case-blind CTW rules aside); hits whose member fails the library
    // bitmap (null: no filter) are dropped; the hits stop at maxNumHits
    // (0 or less: none). With isPhrase 1 a hit is kept only when
    // phraseTest(member name) gives 1. zxs (null allowed) is the library.
    const RuvxSearchList* searchFS(const char* str, int maxNumHits, const char* libCurrentBitmap,
                                   ZipStructure* zxs, int isPhrase, const PhraseTest& phraseTest);
    int numberOfHits() const { return numberOfHits_; }
    void deleteRuvxSearchResult() { searchResult.reset(); }

    // One element per document from 0 to the first without a record.
    std::unique_ptr<RuvxSearchList> listFiles();

    // The tree's result list hangs on the returned node (its clientData, a
    // RuvxSearchList*); null with a message on failure.
    ExprTree* descendSearchTree(ExprTree* et);
    ExprTree* descendSearchTreeFS(ExprTree* et, const char* libCurrentBitmap, ZipStructure* zxs);

    // The document's LST record, or null when it has none inside the image
    // (the record's name then ends with a NUL inside the image).
    const unsigned char* getLstPtr(unsigned long docid) const;
    // The document's member name, or no value; dt (set to -1 first) and st
    // get the type bytes when there is a record.
    std::optional<std::string> getFilenameByDocId(unsigned long docid, int* dt, int* st) const;

    // Hits of one word or pattern in index order; null with a message.
    std::unique_ptr<RuvxSearchList> searchWord(const char* word);
    std::unique_ptr<RuvxSearchList> searchWordFS(const char* word, const char* libCurrentBitmap,
                                                 ZipStructure* zxs);

    // Suggestions "W1,W2" (",..." after the maxHits-th), at most
    // kSuggestionRoom - 1 characters; no value only when memory runs out.
    std::optional<std::string> searchSugs(const char* word, int maxHits);
    // Adds this index's suggestions to col (",W1,W2,"), at most
    // kSuggestionRoom - 1 characters: a word that does not fit is skipped.
    // 1 for success.
    int searchSugsCol(const char* word, int maxHits, SuggestionCollection& col);

    // Combinations of the lists that hang on two nodes; the NOT word is the
    // right node's. Null with a message on failure.
    std::unique_ptr<RuvxSearchList> andSearchResults(ExprTree* left, ExprTree* right);
    std::unique_ptr<RuvxSearchList> andNotSearchResults(ExprTree* left, ExprTree* right);
    std::unique_ptr<RuvxSearchList> orSearchResults(ExprTree* left, ExprTree* right);

    RuvxSearchResult copyRuvxSearchResult(const RuvxSearchResult& element) const;
    RuvxSearchResult mergeRuvxSearchResults(const RuvxSearchResult& left, const RuvxSearchResult& right) const;

    unsigned majorVersion() const { return majorVersion_; }
    unsigned minorVersion() const { return minorVersion_; }
    int indexType() const { return indexType_; }
    int wtbDimension() const { return wtbDimension_; }
    unsigned fileFlags() const { return fileFlags_; }

private:
    friend std::unique_ptr<Ruvx> newRuvx(const void* data, size_t size, const char* fname);
    Ruvx() = default;

    struct WordQuery;
    bool openImage();
    std::unique_ptr<RuvxSearchList> scanWords(const WordQuery& q);
    bool wordMatches(const WordQuery& q, const char* word) const;
    bool addPosting(const WordQuery& q, uint32_t doc, uint8_t count, const std::string& token,
                    std::unordered_map<uint32_t, bool>* passes, RuvxSearchList* list);
    bool startOf(const std::string& word, bool pattern, uint64_t* start);
    ExprTree* descend(ExprTree* et, bool fs, const char* libCurrentBitmap, ZipStructure* zxs);
    bool evaluateNode(ExprTree* node, bool fs, const char* libCurrentBitmap, ZipStructure* zxs);
    ExprTree* parse(const char* str);
    template <typename Visit>
    void walkSuggestions(const char* word, Visit visit);

    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t mapsize = 0;  // non-zero when the object mapped the file itself
    char* mapped = nullptr;
    unsigned majorVersion_ = 0, minorVersion_ = 0;
    int indexType_ = 0;
    int wtbDimension_ = 2;
    unsigned fileFlags_ = 0;
    // Section offsets from the image start, each below size.
    uint64_t wtbdata = 0, lstIndex = 0, lst = 0, wrd = 0, reserved1 = 0, reserved2 = 0;
    std::unique_ptr<Wtb> wtb;
    std::unique_ptr<ExprParser> searchParser;
    std::unique_ptr<RuvxSearchList> searchResult;
    int numberOfHits_ = 0;
    std::string errmsg;
};

// An index over size bytes at data (the caller keeps them, unchanged, for
// the object's life); with data null the file fname is mapped instead.
// Null, with nothing to report, when the image is no RUVX index this reader
// takes: header fields, magic, major version above 1, or a header, offsets
// table, section offset or WTB outside the image.
std::unique_ptr<Ruvx> newRuvx(const void* data, size_t size, const char* fname);

// 1 when a document bitmap passes a library bitmap: hexadecimal numbers
// between '|', the first 32 of the library's against the document's at the
// same places (missing ones 0); each non-zero library number must share a
// bit with the document's.
int filterSearchResultFS(const char* libCurrentBitmap, const char* docBitmap);

// A word is EUC-JP when a byte above 0xA0 or 0x8E is followed by another;
// every other word is upper-cased (Latin-1) for the lookup.
bool isEucWord(const std::string& word);
std::string normalizeQueryWord(const char* word);

}  // namespace ruva
