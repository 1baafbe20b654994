#include "bmod/unzipd/search/ruvx.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "bmod/unzipd/search/expr_parser.h"
#include "bmod/unzipd/search/wtb.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/byte_order.h"
#include "common/eucjp.h"
#include "common/mapped_file.h"
#include "common/patterns.h"
#include "common/quoting.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {

namespace {

constexpr size_t kBitmapWords = 32;

RuvxSearchList* listOf(const ExprTree* node) {
    return node ? static_cast<RuvxSearchList*>(node->clientData) : nullptr;
}

bool isEmpty(const ExprTree* node) {
    const RuvxSearchList* l = listOf(node);
    return !l || l->empty();
}

void ruvxSearchResultReleaser(void*, ExprTree* node) {
    delete static_cast<RuvxSearchList*>(node->clientData);
    node->clientData = nullptr;
}

// First element of each file name among the elements kept so far: open
// addressing over element indexes, so a fold of thousands of hits makes no
// allocation per hit.
class FileIndex {
public:
    FileIndex(const RuvxSearchList& list, size_t most) : list_(list) {
        size_t cap = 16;
        while (cap < 2 * most) cap *= 2;
        slots_.assign(cap, kFree);
    }
    // The index of the element named like list_[i], or i after noting it.
    size_t findOrAdd(size_t i) {
        const std::string& name = *list_[i].filename;
        const size_t mask = slots_.size() - 1;
        for (size_t s = std::hash<std::string>()(name) & mask;; s = (s + 1) & mask) {
            if (slots_[s] == kFree) {
                slots_[s] = i;
                return i;
            }
            if (*list_[slots_[s]].filename == name) return slots_[s];
        }
    }
    // Elements move down as the list is compacted.
    void moved(size_t from, size_t to) {
        const size_t mask = slots_.size() - 1;
        for (size_t s = std::hash<std::string>()(*list_[to].filename) & mask;; s = (s + 1) & mask)
            if (slots_[s] == from) {
                slots_[s] = to;
                return;
            }
    }

private:
    static constexpr size_t kFree = ~size_t(0);
    const RuvxSearchList& list_;
    std::vector<size_t> slots_;
};

bool isEucLead(unsigned char c) {
    return c > 0xA0 || c == 0x8E;
}

bool asciiCaseEqual(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (asciiLower(static_cast<unsigned char>(*a)) != asciiLower(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}

// Words between '|', empty ones kept in their places.
std::vector<std::string> bitmapWords(const char* text, size_t most) {
    std::vector<std::string> words;
    const char* p = text;
    while (words.size() < most) {
        const char* bar = std::strchr(p, '|');
        words.emplace_back(p, bar ? static_cast<size_t>(bar - p) : std::strlen(p));
        if (!bar) break;
        p = bar + 1;
    }
    return words;
}

// Topic-title words are "title|number|rest": only such a word is matched,
// on its upper-cased title.
bool matchTopicTitle(const char* query, const char* word) {
    const char* bar1 = std::strchr(word, '|');
    if (!bar1) return false;
    const char* bar2 = std::strchr(bar1 + 1, '|');
    if (!bar2 || std::strchr(bar2 + 1, '|')) return false;
    if (!isAsciiDigit(static_cast<unsigned char>(bar1[1]))) return false;
    std::string title(word, static_cast<size_t>(bar1 - word));
    lstrupr(title.data());
    return matchPattern(query, title.c_str(), 0) != 0;
}

}  // namespace

bool isEucWord(const std::string& word) {
    for (size_t i = 0; i + 1 < word.size(); ++i)
        if (isEucLead(static_cast<unsigned char>(word[i])) && isEucLead(static_cast<unsigned char>(word[i + 1])))
            return true;
    return false;
}

std::string normalizeQueryWord(const char* word) {
    std::string w = word ? word : "";
    if (!isEucWord(w)) lstrupr(w.data());
    return w;
}

int filterSearchResultFS(const char* libCurrentBitmap, const char* docBitmap) {
    if (!libCurrentBitmap) return 1;
    std::vector<std::string> lib = bitmapWords(libCurrentBitmap, kBitmapWords);
    std::vector<std::string> doc = bitmapWords(docBitmap ? docBitmap : "", lib.size());
    for (size_t i = 0; i < lib.size(); ++i) {
        unsigned long long l = std::strtoull(lib[i].c_str(), nullptr, 16);
        if (!l) continue;
        unsigned long long d = i < doc.size() ? std::strtoull(doc[i].c_str(), nullptr, 16) : 0;
        if (!(l & d)) return 0;
    }
    return 1;
}

std::unique_ptr<Ruvx> newRuvx(const void* data, size_t size, const char* fname) {
    std::unique_ptr<Ruvx> r(new (std::nothrow) Ruvx);
    if (!r) return nullptr;
    if (data) {
        r->data = static_cast<const unsigned char*>(data);
        r->size = size;
    } else {
        size_t mapsize = 0;
        if (!fname || !mapFile(fname, &r->mapped, &mapsize)) return nullptr;
        r->mapsize = mapsize;
        r->data = reinterpret_cast<const unsigned char*>(r->mapped);
        r->size = mapsize;
    }
    if (!r->openImage()) return nullptr;
    return r;
}

Ruvx::~Ruvx() {
    searchResult.reset();
    searchParser.reset();
    wtb.reset();
    if (mapped) unmapFile(&mapped, &mapsize);
}

void Ruvx::setError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
}

bool Ruvx::openImage() {
    // The header is a text of at most 79 characters ended by a NUL, and both
    // must lie inside the image.
    const void* nul = std::memchr(data, 0, std::min(size, kRuvxHeaderMax + 1));
    if (!nul) return false;
    size_t headerLen = static_cast<size_t>(static_cast<const unsigned char*>(nul) - data);
    char header[kRuvxHeaderMax + 1];
    std::memcpy(header, data, headerLen + 1);
    char magic[kRuvxHeaderMax + 1];
    unsigned dimension = 0;
    if (std::sscanf(header, "%79s %u %u %d %u %u", magic, &majorVersion_, &minorVersion_, &indexType_, &dimension,
                    &fileFlags_) != 6)
        return false;
    if (std::strcmp(magic, kRuvxMagic) != 0 || majorVersion_ > 1) return false;
    wtbDimension_ = dimension < 2 ? 2 : dimension > 4 ? 4 : static_cast<int>(dimension);

    size_t offsets = headerLen + 1;
    if (size - offsets < kRuvxOffsetsSize) return false;
    uint64_t* fields[] = {&wtbdata, &lstIndex, &lst, &wrd, &reserved1, &reserved2};
    for (size_t i = 0; i < 6; ++i) {
        *fields[i] = getLong(data + offsets + 4 * i);
        if (*fields[i] >= size) return false;
    }
    if (wtbdata + wtbEntries(wtbDimension_) * 4 > size) return false;

    wtb = newWtb(wtbDimension_);
    searchParser = newExprParser();
    if (!wtb || !searchParser) return false;
    // The Wtb only reads through the pointer.
    wtb->setBuffer(const_cast<unsigned char*>(data + wtbdata));
    searchParser->registerClientDataReleaser(ruvxSearchResultReleaser, this);
    return true;
}

const unsigned char* Ruvx::getLstPtr(unsigned long docid) const {
    if (docid > 0xFFFFFFFFul) return nullptr;
    uint64_t at = lstIndex + 4 * static_cast<uint64_t>(docid);
    if (at + 4 > size) return nullptr;
    uint32_t offset = getLong(data + at);
    if (offset == kRuvxNone) return nullptr;
    // Two type bytes, then a name whose NUL lies inside the image.
    uint64_t record = lst + offset;
    if (record + 2 >= size) return nullptr;
    if (!std::memchr(data + record + 2, 0, size - record - 2)) return nullptr;
    return data + record;
}

std::optional<std::string> Ruvx::getFilenameByDocId(unsigned long docid, int* dt, int* st) const {
    if (dt) *dt = -1;
    const unsigned char* p = getLstPtr(docid);
    if (!p) return std::nullopt;
    if (dt) *dt = static_cast<signed char>(p[0]);
    if (st) *st = p[1];
    return std::string(reinterpret_cast<const char*>(p + 2));
}

std::unique_ptr<RuvxSearchList> Ruvx::listFiles() {
    auto list = std::make_unique<RuvxSearchList>();
    for (unsigned long docid = 0;; ++docid) {
        int dt, st;
        std::optional<std::string> name = getFilenameByDocId(docid, &dt, &st);
        if (!name) break;
        RuvxSearchResult e;
        e.filename = std::move(name);
        e.docId = docid;
        e.docType = static_cast<DocType>(dt);
        e.subType = static_cast<SubDocType>(st);
        list->push_back(std::move(e));
    }
    return list;
}

struct Ruvx::WordQuery {
    std::string word;  // upper-cased unless EUC-JP
    bool pattern = false;
    bool fs = false;
    const char* libCurrentBitmap = nullptr;
    ZipStructure* zxs = nullptr;
};

bool Ruvx::startOf(const std::string& word, bool pattern, uint64_t* start) {
    const size_t d = static_cast<size_t>(wtbDimension_);
    // A wildcard among the prefix letters leaves no slot to start at.
    if (pattern) {
        size_t wild = word.find_first_of("*?");
        if (wild != std::string::npos && wild < d) {
            *start = 0;
            return true;
        }
    }
    uint32_t entry = wtb->get(wtb->getOffset(word.c_str()));
    // An entry pointing past the image counts as an empty slot.
    if (entry == kWtbEmpty || entry >= size - wrd) {
        setError("No word starts with '%s'", word.substr(0, d).c_str());
        return false;
    }
    *start = entry;
    return true;
}

namespace {

struct Posting {
    uint32_t doc;
    bool last;  // the word's last posting
    uint8_t count;
};

// The posting at p (5 bytes wide, else 3); false at the table's end mark.
bool readPosting(const unsigned char* p, bool wide, Posting* out) {
    if (wide) {
        uint32_t doc = getLong(p);
        if (doc == 0xFFFFFFFF) return false;
        *out = {doc & 0x7FFFFFFFu, (doc & 0x80000000u) != 0, p[4]};
    } else {
        uint32_t doc = getWord(p);
        if (doc == 0xFFFF) return false;
        *out = {doc & 0x7FFFu, (doc & 0x8000u) != 0, p[2]};
    }
    return true;
}

// Room for a word's postings at once: a common word has thousands.
void reserveForPostings(RuvxSearchList* list, const unsigned char* base, uint64_t pos, uint64_t end,
                        uint64_t postingSize) {
    size_t n = 0;
    for (uint64_t p = pos; end - p >= postingSize; p += postingSize) {
        ++n;
        if (base[p] & 0x80) break;
    }
    if (list->capacity() < list->size() + n) list->reserve(std::max(list->size() + n, 2 * list->capacity()));
}

}  // namespace

// Whether a table word answers the query, by the index type's own rule.
bool Ruvx::wordMatches(const WordQuery& q, const char* word) const {
    const char* query = q.word.c_str();
    if (!q.pattern) return indexType_ == IXT_CTW ? asciiCaseEqual(query, word) : std::strcmp(query, word) == 0;
    if (q.fs) return matchPattern(query, word, 0);
    switch (indexType_) {
    case IXT_DOCNO:
        return matchPatternDocID(query, word, 0);
    case IXT_CTW:
        return matchPattern(query, word, 1);
    case IXT_TOPICTITLE:
        return matchTopicTitle(query, word);
    default:
        return matchPattern(query, word, 0);
    }
}

// Appends the posting's document unless the library bitmap filters it out
// (one verdict per document, kept in passes). False without its LST record.
bool Ruvx::addPosting(const WordQuery& q, uint32_t doc, uint8_t count, const std::string& token,
                      std::unordered_map<uint32_t, bool>* passes, RuvxSearchList* list) {
    const unsigned char* rec = getLstPtr(doc);
    if (!rec) {
        setError("No LST pointer for docid %lu", static_cast<unsigned long>(doc));
        return false;
    }
    if (q.fs && q.libCurrentBitmap && q.zxs) {
        auto [it, fresh] = passes->try_emplace(doc, true);
        if (fresh) {
            const CentralHeader* ch = q.zxs->findCentralHeader(reinterpret_cast<const char*>(rec + 2), nullptr);
            if (ch) it->second = ch->bitmap && *ch->bitmap && filterSearchResultFS(q.libCurrentBitmap, ch->bitmap);
        }
        if (!it->second) return true;
    }
    RuvxSearchResult e;
    e.docId = doc;
    e.docType = static_cast<DocType>(static_cast<signed char>(rec[0]));
    e.subType = static_cast<SubDocType>(rec[1]);
    e.tokens = token;
    e.occuranceCount[0] = count;
    list->push_back(std::move(e));
    return true;
}

std::unique_ptr<RuvxSearchList> Ruvx::scanWords(const WordQuery& q) {
    uint64_t pos;
    if (!startOf(q.word, q.pattern, &pos)) return nullptr;
    auto list = std::make_unique<RuvxSearchList>();
    const unsigned char* const base = data + wrd;
    const uint64_t end = size - wrd;
    const bool sorted = !q.pattern && indexType_ != IXT_CTW;
    const bool wide = !(fileFlags_ & kRuvxPostings16);
    const uint64_t postingSize = wide ? 5 : 3;
    std::unordered_map<uint32_t, bool> passes;  // bitmap verdict per document

    while (pos < end) {
        if (end - pos >= 4 && getLong(base + pos) == kRuvxNone) break;
        const char* word = reinterpret_cast<const char*>(base + pos);
        // A word without its NUL inside the image ends the table.
        const void* nul = std::memchr(word, 0, end - pos);
        if (!nul) break;
        if (sorted && std::strcmp(q.word.c_str(), word) < 0) break;
        bool match = wordMatches(q, word);
        std::string token = match ? quoteString(word) : std::string();
        pos = static_cast<uint64_t>(static_cast<const unsigned char*>(nul) - base) + 1;
        if (match) reserveForPostings(list.get(), base, pos, end, postingSize);
        for (;;) {
            // A posting cut by the image end ends the table, as the end mark does.
            Posting post;
            if (end - pos < postingSize || !readPosting(base + pos, wide, &post)) return list;
            pos += postingSize;
            if (match && post.count && !addPosting(q, post.doc, post.count, token, &passes, list.get())) return nullptr;
            if (post.last) {
                if (post.count == 0) return list;
                break;
            }
        }
    }
    return list;
}

std::unique_ptr<RuvxSearchList> Ruvx::searchWord(const char* word) {
    WordQuery q;
    q.word = normalizeQueryWord(word);
    q.pattern = isSearchPattern(q.word.c_str());
    return scanWords(q);
}

std::unique_ptr<RuvxSearchList> Ruvx::searchWordFS(const char* word, const char* libCurrentBitmap, ZipStructure* zxs) {
    WordQuery q;
    q.word = normalizeQueryWord(word);
    q.pattern = isSearchPattern(q.word.c_str());
    q.fs = true;
    q.libCurrentBitmap = libCurrentBitmap;
    q.zxs = zxs;
    return scanWords(q);
}

RuvxSearchResult Ruvx::copyRuvxSearchResult(const RuvxSearchResult& element) const {
    RuvxSearchResult e;
    e.docId = element.docId;
    e.docType = element.docType;
    e.subType = element.subType;
    e.tokens = element.tokens;
    std::memcpy(e.occuranceCount, element.occuranceCount, sizeof e.occuranceCount);
    return e;
}

RuvxSearchResult Ruvx::mergeRuvxSearchResults(const RuvxSearchResult& left, const RuvxSearchResult& right) const {
    RuvxSearchResult e;
    e.docId = left.docId;
    e.docType = left.docType;
    e.subType = left.subType;
    size_t n = 0;
    for (const RuvxSearchResult* side : {&left, &right})
        for (size_t i = 0; i < 4 && side->occuranceCount[i] && n < 4; ++i) e.occuranceCount[n++] = side->occuranceCount[i];
    bool keepLeft = indexType_ == IXT_CTW || indexType_ == IXT_TOPICTITLE || right.tokens.find(' ') != std::string::npos;
    e.tokens = keepLeft ? left.tokens : left.tokens + " " + right.tokens;
    return e;
}

std::unique_ptr<RuvxSearchList> Ruvx::andSearchResults(ExprTree* left, ExprTree* right) {
    auto out = std::make_unique<RuvxSearchList>();
    if (isEmpty(left) || isEmpty(right)) return out;
    const RuvxSearchList& l = *listOf(left);
    const RuvxSearchList& r = *listOf(right);
    // Hashing the right side keeps "each left, each right" order in O(n + m).
    std::unordered_map<unsigned long, std::vector<size_t>> byDoc;
    for (size_t j = 0; j < r.size(); ++j) byDoc[r[j].docId].push_back(j);
    bool substringSeen = false;  // sticky over the whole step
    for (const RuvxSearchResult& le : l) {
        auto it = byDoc.find(le.docId);
        if (it == byDoc.end()) continue;
        for (size_t j : it->second) {
            const RuvxSearchResult& re = r[j];
            if (indexType_ == IXT_TITLE && (isEUCenc(le.tokens.c_str()) || isEUCenc(re.tokens.c_str()))) {
                const std::string& longer = le.tokens.size() >= re.tokens.size() ? le.tokens : re.tokens;
                const std::string& shorter = &longer == &le.tokens ? re.tokens : le.tokens;
                bool sub = longer.find(shorter) != std::string::npos;
                if (!sub && !substringSeen) continue;
                substringSeen = substringSeen || sub;
            }
            out->push_back(mergeRuvxSearchResults(le, re));
        }
    }
    return out;
}

std::unique_ptr<RuvxSearchList> Ruvx::andNotSearchResults(ExprTree* left, ExprTree* right) {
    if (isEmpty(right)) {
        RuvxSearchList* l = listOf(left);
        auto out = std::make_unique<RuvxSearchList>();
        if (l) out->swap(*l);
        return out;
    }
    auto out = std::make_unique<RuvxSearchList>();
    if (isEmpty(left)) return out;
    std::unordered_set<unsigned long> excluded;
    for (const RuvxSearchResult& re : *listOf(right)) excluded.insert(re.docId);
    std::string suffix;
    if (indexType_ != IXT_CTW && indexType_ != IXT_TOPICTITLE)
        suffix = " \"!" + quoteQuote(right->word.c_str()) + "\"";
    for (const RuvxSearchResult& le : *listOf(left)) {
        if (excluded.count(le.docId)) continue;
        out->push_back(copyRuvxSearchResult(le));
        out->back().tokens += suffix;
    }
    return out;
}

std::unique_ptr<RuvxSearchList> Ruvx::orSearchResults(ExprTree* left, ExprTree* right) {
    if (isEmpty(left) || isEmpty(right)) {
        RuvxSearchList* keep = isEmpty(left) ? listOf(right) : listOf(left);
        auto out = std::make_unique<RuvxSearchList>();
        if (keep) out->swap(*keep);
        return out;
    }
    const RuvxSearchList& l = *listOf(left);
    const RuvxSearchList& r = *listOf(right);
    auto out = std::make_unique<RuvxSearchList>();
    out->reserve(l.size() + r.size());
    size_t i = 0, j = 0;
    // At equal numbers only the left side moves on, so a document in both
    // gives a merged element and then a copy of the right one; the fold by
    // file name joins them.
    while (i < l.size() || j < r.size()) {
        while (i < l.size() && (j == r.size() || l[i].docId < r[j].docId)) out->push_back(copyRuvxSearchResult(l[i++]));
        while (i < l.size() && j < r.size() && l[i].docId == r[j].docId)
            out->push_back(mergeRuvxSearchResults(l[i++], r[j]));
        while (j < r.size() && (i == l.size() || r[j].docId < l[i].docId)) out->push_back(copyRuvxSearchResult(r[j++]));
    }
    return out;
}

bool Ruvx::evaluateNode(ExprTree* node, bool fs, const char* libCurrentBitmap, ZipStructure* zxs) {
    std::unique_ptr<RuvxSearchList> list;
    switch (node->op) {
        case OP_TERM:
            list = fs ? searchWordFS(node->word.c_str(), libCurrentBitmap, zxs) : searchWord(node->word.c_str());
            // A term that finds nothing, even by failing, leaves the rest of
            // the expression standing.
            if (!list) list = std::make_unique<RuvxSearchList>();
            break;
        case OP_OR:
            list = orSearchResults(node->left, node->right);
            break;
        case OP_AND:
            list = node->right && node->right->op == OP_NOT ? andNotSearchResults(node->left, node->right)
                                                              : andSearchResults(node->left, node->right);
            break;
        case OP_NOT:
            if (node->left) {
                node->clientData = node->left->clientData;
                node->left->clientData = nullptr;
                node->word = node->left->word;
                searchParser->deleteExprTree(node->left);
                node->left = nullptr;
            }
            if (!node->clientData) node->clientData = new (std::nothrow) RuvxSearchList;
            if (!node->clientData) {
                setError("No memory");
                return false;
            }
            return true;
        case OP_NULL:
            setError("OP_NULL, should not occur");
            return false;
        default:
            setError("[%d?], invalid operator, should not occur", static_cast<int>(node->op));
            return false;
    }
    if (!list) return false;
    searchParser->deleteExprTree(node->left);
    searchParser->deleteExprTree(node->right);
    node->left = node->right = nullptr;
    node->clientData = list.release();
    return true;
}

ExprTree* Ruvx::descend(ExprTree* et, bool fs, const char* libCurrentBitmap, ZipStructure* zxs) {
    if (!et) return nullptr;
    // Post-order without recursion: a tree is as deep as the client's
    // expression is long.
    std::vector<std::pair<ExprTree*, bool>> pending{{et, false}};
    while (!pending.empty()) {
        auto [node, childrenDone] = pending.back();
        pending.pop_back();
        if (childrenDone) {
            if (!evaluateNode(node, fs, libCurrentBitmap, zxs)) return nullptr;
            continue;
        }
        pending.push_back({node, true});
        if (node->right) pending.push_back({node->right, false});
        if (node->left) pending.push_back({node->left, false});
    }
    return et;
}

ExprTree* Ruvx::descendSearchTree(ExprTree* et) {
    return descend(et, false, nullptr, nullptr);
}

ExprTree* Ruvx::descendSearchTreeFS(ExprTree* et, const char* libCurrentBitmap, ZipStructure* zxs) {
    return descend(et, true, libCurrentBitmap, zxs);
}

ExprTree* Ruvx::parse(const char* str) {
    errmsg.clear();
    numberOfHits_ = 0;
    searchParser->setTermCheck(nullptr);
    if (!searchParser->setExpression(str)) return nullptr;
    if (!searchParser->buildTree()) {
        const char* why = searchParser->getError();
        setError("Expression error, %s", why ? why : "");
        return nullptr;
    }
    return searchParser->getTree();
}

const RuvxSearchList* Ruvx::search(const char* str, int maxNumHits) {
    ExprTree* tree = parse(str);
    if (!tree) return nullptr;
    searchResult.reset();
    if (!descendSearchTree(tree)) {
        searchParser->deleteTree();
        return nullptr;
    }
    // The fold by file name compacts the root's list in place: hits mostly
    // name distinct files, and each element is large.
    auto result = std::make_unique<RuvxSearchList>();
    result->swap(*listOf(tree));
    RuvxSearchList& hits = *result;
    const bool joinTokens = indexType_ == IXT_CTW || indexType_ == IXT_TOPICTITLE;
    // One element per file name, in first-seen order.
    FileIndex seen(hits, hits.size());
    size_t kept = 0;
    for (size_t i = 0; i < hits.size(); ++i) {
        RuvxSearchResult& e = hits[i];
        if (!e.filename) e.filename = getFilenameByDocId(e.docId, nullptr, nullptr);
        if (!e.filename) continue;
        size_t firstAt = seen.findOrAdd(i);
        if (firstAt != i) {
            RuvxSearchResult& first = hits[firstAt];
            if (joinTokens && first.tokens.find(e.tokens) == std::string::npos) {
                first.tokens += " | " + e.tokens;
                ++first.occuranceCount[0];
            }
            continue;
        }
        if (kept != i) {
            hits[kept] = std::move(e);
            seen.moved(i, kept);
        }
        ++kept;
    }
    hits.resize(kept);
    numberOfHits_ = static_cast<int>(kept);
    searchParser->deleteTree();
    // Over the limit: no list and no message; the caller reads numberOfHits.
    if (maxNumHits > 0 && numberOfHits_ > maxNumHits) return nullptr;
    if (result->empty()) return nullptr;
    searchResult = std::move(result);
    return searchResult.get();
}

const RuvxSearchList* Ruvx::searchFS(const char* str, int maxNumHits, const char* libCurrentBitmap, ZipStructure* zxs,
                                     int isPhrase, const PhraseTest& phraseTest) {
    ExprTree* tree = parse(str);
    if (!tree) return nullptr;
    searchResult.reset();
    if (!descendSearchTreeFS(tree, libCurrentBitmap, zxs)) {
        searchParser->deleteTree();
        return nullptr;
    }
    auto result = std::make_unique<RuvxSearchList>();
    std::unordered_set<std::string> seen;
    std::unordered_map<std::string, int> phraseFound;  // one test per member name
    for (RuvxSearchResult& e : *listOf(tree)) {
        if (numberOfHits_ >= maxNumHits) break;
        if (!e.filename) e.filename = getFilenameByDocId(e.docId, nullptr, nullptr);
        if (!e.filename) continue;
        if (isPhrase == 1) {
            auto [it, fresh] = phraseFound.try_emplace(*e.filename, 0);
            if (fresh) it->second = phraseTest ? phraseTest(*e.filename) : 0;
            if (it->second != 1) continue;
        }
        if (!seen.insert(*e.filename).second) continue;
        result->push_back(std::move(e));
        ++numberOfHits_;
    }
    searchParser->deleteTree();
    if (result->empty()) return nullptr;
    searchResult = std::move(result);
    return searchResult.get();
}

template <typename Visit>
void Ruvx::walkSuggestions(const char* word, Visit visit) {
    const std::string prefix = normalizeQueryWord(word);
    const bool pattern = isSearchPattern(prefix.c_str());
    const size_t plen = prefix.size();
    const size_t d = static_cast<size_t>(wtbDimension_);
    auto entryOf = [&](const std::string& w) { return wtb->get(wtb->getOffset(w.c_str())); };
    uint32_t start = entryOf(prefix);
    // A short prefix may have no word of its own slot: try the slots of its
    // first completions.
    if (start == kWtbEmpty && plen < d) {
        for (char c = 'A'; c <= 'Z' && start == kWtbEmpty; ++c) {
            start = entryOf(prefix + c);
            for (char c2 = 'A'; plen == 1 && c2 <= 'Z' && start == kWtbEmpty; ++c2) start = entryOf(prefix + c + c2);
        }
    }
    if (start == kWtbEmpty || start >= size - wrd) return;

    const unsigned char* const base = data + wrd;
    const uint64_t end = size - wrd;
    const bool wide = !(fileFlags_ & kRuvxPostings16);
    const uint64_t postingSize = wide ? 5 : 3;
    uint64_t pos = start;
    bool counted = false;  // a posting of a matching word has been read
    for (;;) {
        if (pos >= end) return;
        if (end - pos >= 4 && getLong(base + pos) == kRuvxNone) return;
        const char* w = reinterpret_cast<const char*>(base + pos);
        const void* nul = std::memchr(w, 0, end - pos);
        if (!nul) return;
        if (!pattern && std::strncmp(prefix.c_str(), w, plen) < 0) return;
        const bool starts = std::strncmp(w, prefix.c_str(), plen) == 0;
        const size_t wlen = static_cast<size_t>(static_cast<const char*>(nul) - w);
        pos += wlen + 1;
        for (;;) {
            if (end - pos < postingSize) return;
            uint32_t doc = wide ? getLong(base + pos) : getWord(base + pos);
            if (doc == (wide ? 0xFFFFFFFFu : 0xFFFFu)) return;
            bool last = doc & (wide ? 0x80000000u : 0x8000u);
            uint8_t count = base[pos + postingSize - 1];
            pos += postingSize;
            if (count && (pattern || starts)) counted = true;
            if (last && starts && counted && !visit(std::string_view(w, wlen), prefix)) return;
            if (!count) return;
            if (last) break;
        }
    }
}

std::optional<std::string> Ruvx::searchSugs(const char* word, int maxHits) {
    std::string list;
    int n = 0;
    walkSuggestions(word, [&](std::string_view w, const std::string&) {
        // The word after the maxHits-th, or one that would leave no room for
        // the ",..." mark, ends the list.
        size_t grown = list.size() + (n ? 1 : 0) + w.size();
        if (n >= maxHits || grown + 4 > kSuggestionRoom - 1) {
            list += ",...";
            return false;
        }
        if (n) list += ',';
        list.append(w);
        ++n;
        return true;
    });
    return list;
}

int Ruvx::searchSugsCol(const char* word, int maxHits, SuggestionCollection& col) {
    walkSuggestions(word, [&](std::string_view w, const std::string& prefix) {
        bool add;
        std::string marked = "," + std::string(w) + ",";
        if (col.count <= maxHits)
            add = !strcasestr(col.list.c_str(), marked.c_str());
        else
            add = w == prefix && !strcasestr(col.list.c_str(), marked.c_str());
        if (!add) return true;
        // A word that does not fit is skipped and not counted.
        size_t grown = col.list.size() + (col.list.empty() ? marked.size() : marked.size() - 1);
        if (grown > kSuggestionRoom - 1) return true;
        col.list += col.list.empty() ? marked : marked.substr(1);
        ++col.count;
        return true;
    });
    return 1;
}

}  // namespace ruva
