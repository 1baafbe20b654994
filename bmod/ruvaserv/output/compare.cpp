#include "bmod/ruvaserv/output/compare.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/docmodel/docno.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

constexpr std::size_t kTitleMax = 255;
constexpr std::size_t kCatchwordWordMax = 15;
constexpr std::size_t kDecclassWidth = 7;
constexpr std::size_t kClassDigitsRead = 9;
constexpr const char* kNoClass = "00000";
constexpr std::uint32_t kNone = UINT32_MAX;

struct ClassRow {
    const char* decclass;
    ClassRule rule;
};

constexpr ClassRow kClassRules[] = {
    {"15431", {'1', CompareLogic::kTitle, "ffffde"}},  {"19082", {'2', CompareLogic::kCatchword, "e2ffe2"}},
    {"19083", {'3', CompareLogic::kTitle, "e5ffff"}},  {"15518", {'4', CompareLogic::kCatchword, "ffffff"}},
    {"15542", {'5', CompareLogic::kTitle, "ffffff"}},  {"19602", {'6', CompareLogic::kTitle, "ffffff"}},
    {kNoClass, {'7', CompareLogic::kTitle, "ffffff"}},
};
constexpr ClassRule kOtherClassRule = {'7', CompareLogic::kDocno, "ffffff"};

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The class as the filter compares it: its leading digits as a number.
std::uint32_t classNumberOf(std::string_view decclass) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < decclass.size() && i < kClassDigitsRead; ++i) {
        const char c = decclass[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// The failing step's message, as the step numbers them.
struct StepMessage {
    SdiCompareCode code;
    int message;
    const char* tag;
};

constexpr StepMessage kStepMessages[] = {
    {SdiCompareCode::kNewSdi1, 164, "compare/16"},     {SdiCompareCode::kNewSdi2, 165, "compare/17"},
    {SdiCompareCode::kDocnoIndex1, 166, "compare/18"}, {SdiCompareCode::kAddDocno1, 156, "compare/8"},
    {SdiCompareCode::kDocnoIndex2, 168, "compare/20"}, {SdiCompareCode::kAddDocno2, 156, "compare/8"},
    {SdiCompareCode::kTagSdi, 170, "compare/22"},      {SdiCompareCode::kCatchIndex, 171, "compare/23"},
    {SdiCompareCode::kAddCatch, 172, "compare/24"},    {SdiCompareCode::kTitleIndex1, 173, "compare/25"},
    {SdiCompareCode::kAddTitle1, 174, "compare/26"},   {SdiCompareCode::kTitleIndex2, 175, "compare/27"},
    {SdiCompareCode::kAddTitle2, 176, "compare/28"},   {SdiCompareCode::kResultList, 177, "compare/29"},
    {SdiCompareCode::kMatch, 178, "compare/30"},       {SdiCompareCode::kMiss, 179, "compare/31"},
};

// A key's place in its side's key store.
struct KeyRef {
    std::uint32_t at = kNone;
    std::uint32_t len = 0;
    bool present() const { return at != kNone; }
};

// One document entry that takes part, with its parts and folded keys.
struct Doc {
    const SdiEntry* entry = nullptr;
    DocParts parts;
    ClassRule rule = kOtherClassRule;
    std::uint32_t classNumber = 0;
    KeyRef number;
    KeyRef title;
    KeyRef catchword;  // logic 1 only
    KeyRef article;    // numbers that split only
    bool settled = false;
};

// Keys are folded once per entry into one store per side, so look-ups and
// sorts compare views without allocating.
struct Side {
    std::unique_ptr<Sdi> sdi;
    std::vector<Doc> docs;              // list order
    std::vector<std::uint32_t> unique;  // the first entry per folded number, in list order
    std::unordered_map<std::string_view, std::uint32_t> byNumber;  // folded number -> that entry
    std::string keys;

    std::string_view key(KeyRef ref) const { return {keys.data() + ref.at, ref.len}; }
};

// Docs of side 1 under one kind of key, chained per key in the order added
// until sortChains orders them.
class KeyIndex {
public:
    void reset(std::size_t docCount) {
        heads_.clear();
        heads_.reserve(docCount);
        next_.assign(docCount, kNone);
    }
    void add(std::string_view key, std::uint32_t doc) {
        auto [it, fresh] = heads_.try_emplace(key, doc, doc);
        if (!fresh) {
            next_[it->second.second] = doc;
            it->second.second = doc;
        }
    }
    std::uint32_t first(std::string_view key) const {
        auto it = heads_.find(key);
        return it == heads_.end() ? kNone : it->second.first;
    }
    std::uint32_t next(std::uint32_t doc) const { return next_[doc]; }
    // Puts each key's docs in the order of less (few keys have more than one).
    template <class Less>
    void sortChains(Less less) {
        std::vector<std::uint32_t> chain;
        for (auto& [key, ends] : heads_) {
            if (ends.first == ends.second) continue;
            chain.clear();
            for (std::uint32_t d = ends.first; d != kNone; d = next_[d]) chain.push_back(d);
            std::sort(chain.begin(), chain.end(), less);
            for (std::size_t i = 0; i + 1 < chain.size(); ++i) next_[chain[i]] = chain[i + 1];
            next_[chain.back()] = kNone;
            ends = {chain.front(), chain.back()};
        }
    }

private:
    std::unordered_map<std::string_view, std::pair<std::uint32_t, std::uint32_t>> heads_;  // first, last
    std::vector<std::uint32_t> next_;
};

int collectEntry(Sdi*, void* data, SdiEntry* entry, int) {
    if (entry->type != SDIENTRY_DOCUMENT || !entry->title || !entry->docno) return 1;
    if (checkIfStringEmpty(entry->docno->c_str())) return 1;
    try {
        static_cast<std::vector<const SdiEntry*>*>(data)->push_back(entry);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

// The first 8 bytes of a key, big-endian, zero-padded: equal heads leave only
// keys longer than 8 bytes to compare, and sorting reads no key store for
// most comparisons (the store is in list order, the sort jumps across it).
std::uint64_t keyHead(std::string_view key) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        head <<= 8;
        if (i < key.size()) head |= static_cast<unsigned char>(key[i]);
    }
    return head;
}

// The walk order: (folded title, folded number), numbers unique per side.
std::vector<std::uint32_t> titleOrder(const Side& side) {
    struct Item {
        std::uint64_t head;
        std::uint32_t doc;
    };
    std::vector<Item> items;
    items.reserve(side.unique.size());
    for (std::uint32_t doc : side.unique) items.push_back({keyHead(side.key(side.docs[doc].title)), doc});
    std::sort(items.begin(), items.end(), [&side](const Item& a, const Item& b) {
        if (a.head != b.head) return a.head < b.head;
        const Doc& x = side.docs[a.doc];
        const Doc& y = side.docs[b.doc];
        const int cmp = side.key(x.title).compare(side.key(y.title));
        return cmp != 0 ? cmp < 0 : side.key(x.number) < side.key(y.number);
    });
    std::vector<std::uint32_t> order(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) order[i] = items[i].doc;
    return order;
}

KeyRef storeKey(std::string& keys, std::string_view folded) {
    KeyRef ref{static_cast<std::uint32_t>(keys.size()), static_cast<std::uint32_t>(folded.size())};
    keys.append(folded);
    return ref;
}

}  // namespace

ClassRule classRuleOf(std::string_view decclass) {
    const std::string_view bare = trimBlanks(decclass);
    for (const ClassRow& row : kClassRules) {
        if (bare == row.decclass) return row.rule;
    }
    return kOtherClassRule;
}

const char* colorCodeOf(std::string_view decclass) {
    return classRuleOf(decclass).colour;
}

DocParts extractDocParts(const SdiEntry& entry, std::string& languageCode) {
    DocParts p;
    if (entry.title) p.title.assign(*entry.title, 0, kTitleMax);
    const char* number = entry.docno ? entry.docno->c_str() : nullptr;
    std::string art;
    std::string rev;
    // A number without a revision cannot name a member: it pairs by title.
    bool split = number != nullptr && !docnoLooksInvalid(number) && docnoToArtRev(number, art, rev) == 1;
    if (split) {
        const std::optional<std::string> fname = docnoToFilename(art.c_str(), rev.c_str(), nullptr);
        split = fname && filenameToDocnoParts(fname->c_str(), &p.prefix, &p.decclass, &p.ind, &p.variant,
                                              &p.lang, &p.rev) == 1;
    }
    if (!split) {
        std::string title = std::move(p.title);
        p = DocParts{};
        p.title = std::move(title);
        p.decclass = kNoClass;
        p.decclass.resize(kDecclassWidth, ' ');
        return p;
    }
    p.docno = std::move(art);
    if (p.decclass.size() < kDecclassWidth) p.decclass.resize(kDecclassWidth, ' ');
    if (classRuleOf(p.decclass).logic == CompareLogic::kCatchword) {
        const std::size_t wordEnd = std::min(p.title.find_first_of(" :"), kCatchwordWordMax);
        p.catchword = std::string(trimBlanks(p.decclass)) + p.title.substr(0, wordEnd);
    }
    if (languageCode.empty() && strcasecmp(p.lang.c_str(), "UJA") == 0) languageCode = "UJA";
    return p;
}

int checkIfStringEmpty(const char* text) {
    if (text == nullptr) return 1;
    for (const char* p = text; *p; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\n') return 0;
    }
    return 1;
}

// The two lists, their indexes and the results, for one compareSdi.
struct SdiCompare::Impl {
    explicit Impl(SdiCompare& owner) : sc(owner) {}

    SdiCompareCode run(const std::string& oldSdiFile, const std::string& newSdiFile);
    int loadSdi(Side& side, const std::string& file);
    int readSide(Side& side);
    void tagSdiNode();
    void indexSide1();
    bool isCodPod(const Doc& doc) const;
    bool matchNode();
    void missNode();
    std::string blockKey(const Doc& doc, DocStatus status, std::uint32_t order) const;
    char checkResult(const Doc& doc, const Doc& match) const;
    SdiCompareCode fail(SdiCompareCode code);
    void phaseDone(ComparePhase phase) const {
        if (sc.phaseDone != nullptr) sc.phaseDone(sc.phaseData, phase);
    }

    SdiCompare& sc;
    Side side1;
    Side side2;
    KeyIndex titleSdi1;
    KeyIndex catchSdi1;
    KeyIndex articleSdi1;
    std::vector<ResultRow> results;
    std::uint32_t countResultBt = 0;
    SdiCompareCode step = SdiCompareCode::kOk;  // the step a shortage of memory fails
};

SdiCompareCode SdiCompare::Impl::fail(SdiCompareCode code) {
    for (const StepMessage& m : kStepMessages) {
        if (m.code == code) sc.setError(msgFormat(m.message, m.tag));
    }
    return code;
}

int SdiCompare::Impl::loadSdi(Side& side, const std::string& file) {
    Sdi& sdi = *side.sdi;
    int ok = 0;
    if (!sdi.setInput(file.c_str())) {
        sc.setError(msgFormat(153, "compare/5"), sdi.getError());
    } else if (!sdi.getMetaData()) {
        sc.setError(msgFormat(154, "compare/6"), sdi.getError());
    } else if (!sdi.parseDocument()) {
        sc.setError(msgFormat(155, "compare/7"), sdi.getError());
    } else {
        ok = 1;
    }
    sdi.closeInput();
    if (!ok) side.sdi.reset();
    return ok;
}

// The entries that take part: a title and a number that is not blank, the
// first entry per folded number.
int SdiCompare::Impl::readSide(Side& side) {
    std::vector<const SdiEntry*> entries;
    if (!side.sdi->scanSdiTree(collectEntry, &entries)) return 0;
    side.docs.reserve(entries.size());
    std::string folded;
    for (const SdiEntry* entry : entries) {
        Doc& doc = side.docs.emplace_back();
        doc.entry = entry;
        doc.parts = extractDocParts(*entry, sc.languageCode);
        doc.rule = classRuleOf(doc.parts.decclass);
        doc.classNumber = classNumberOf(doc.parts.decclass);
        foldNoSpc(entry->docno->c_str(), folded);
        doc.number = storeKey(side.keys, folded);
        foldNoSpc(doc.parts.title.c_str(), folded);
        doc.title = storeKey(side.keys, folded);
        if (!doc.parts.catchword.empty()) {
            foldNoSpc(doc.parts.catchword.c_str(), folded);
            doc.catchword = storeKey(side.keys, folded);
        }
        if (!doc.parts.docno.empty()) {
            foldNoSpc(doc.parts.docno.c_str(), folded);
            doc.article = storeKey(side.keys, folded);
        }
    }
    side.byNumber.reserve(side.docs.size());
    side.unique.reserve(side.docs.size());
    for (std::uint32_t i = 0; i < side.docs.size(); ++i) {
        if (side.byNumber.try_emplace(side.key(side.docs[i].number), i).second) side.unique.push_back(i);
    }
    return 1;
}

// Numbers equal on both sides are settled: the same document, whatever its
// title.
void SdiCompare::Impl::tagSdiNode() {
    for (std::uint32_t i : side2.unique) {
        const auto it = side1.byNumber.find(side2.key(side2.docs[i].number));
        if (it == side1.byNumber.end()) continue;
        side1.docs[it->second].settled = true;
        side2.docs[i].settled = true;
    }
}

void SdiCompare::Impl::indexSide1() {
    const std::size_t n = side1.docs.size();
    step = SdiCompareCode::kAddCatch;
    catchSdi1.reset(n);
    for (std::uint32_t i : side1.unique) {
        const Doc& doc = side1.docs[i];
        if (doc.rule.logic == CompareLogic::kCatchword && doc.catchword.present()) {
            catchSdi1.add(side1.key(doc.catchword), i);
        }
    }
    step = SdiCompareCode::kAddTitle1;
    titleSdi1.reset(n);
    articleSdi1.reset(n);
    for (std::uint32_t i : side1.unique) {
        const Doc& doc = side1.docs[i];
        titleSdi1.add(side1.key(doc.title), i);
        if (doc.article.present()) articleSdi1.add(side1.key(doc.article), i);
    }
    // Candidates are tried in folded-number order.
    const auto byNumber = [this](std::uint32_t a, std::uint32_t b) {
        return side1.key(side1.docs[a].number) < side1.key(side1.docs[b].number);
    };
    catchSdi1.sortChains(byNumber);
    titleSdi1.sortChains(byNumber);
    articleSdi1.sortChains(byNumber);
}

bool SdiCompare::Impl::isCodPod(const Doc& doc) const {
    const std::string& number = *doc.entry->docno;
    return sc.cpCmp_->isCodDocument(number) != 0 || sc.cpCmp_->isPodDocument(number) != 0;
}

std::string SdiCompare::Impl::blockKey(const Doc& doc, DocStatus status, std::uint32_t order) const {
    std::string key(1, doc.rule.group);
    key += doc.parts.decclass;
    key += static_cast<char>(status);
    key += std::to_string(order);
    return key;
}

// '5' keeps searching, '4' same, '2' changed; a verdict settles the match.
char SdiCompare::Impl::checkResult(const Doc& doc, const Doc& match) const {
    if (match.settled) return static_cast<char>(DocStatus::kSearching);
    if (doc.rule.logic == CompareLogic::kDocno) return static_cast<char>(DocStatus::kChanged);
    if (match.parts.decclass != doc.parts.decclass) return static_cast<char>(DocStatus::kSearching);
    const DocParts& a = doc.parts;
    const DocParts& b = match.parts;
    bool same = a.prefix == b.prefix && a.ind == b.ind && a.variant == b.variant && a.lang == b.lang &&
                a.rev == b.rev;
    if (doc.rule.logic == CompareLogic::kCatchword) same = same && a.title == b.title;
    return static_cast<char>(same ? DocStatus::kSame : DocStatus::kChanged);
}

// Side 2 in title order: each unsettled entry pairs with the first
// unsettled candidate its class accepts, else it is new. False when the
// block comparer failed (error set).
bool SdiCompare::Impl::matchNode() {
    for (std::uint32_t i : titleOrder(side2)) {
        const Doc& doc = side2.docs[i];
        if (sc.documentType != 0 && doc.classNumber != sc.documentType) continue;
        if (doc.settled) continue;
        const KeyIndex* index = &titleSdi1;
        KeyRef key = doc.title;
        if (doc.rule.logic == CompareLogic::kCatchword) {
            index = &catchSdi1;
            key = doc.catchword;
        } else if (doc.rule.logic == CompareLogic::kDocno) {
            index = &articleSdi1;
            key = doc.article;
        }
        char status = static_cast<char>(DocStatus::kSearching);
        Doc* match = nullptr;
        if (key.present()) {
            for (std::uint32_t c = index->first(side2.key(key)); c != kNone; c = index->next(c)) {
                status = checkResult(doc, side1.docs[c]);
                if (status != static_cast<char>(DocStatus::kSearching)) {
                    match = &side1.docs[c];
                    match->settled = true;
                    break;
                }
            }
        }
        if (status == static_cast<char>(DocStatus::kSame)) continue;
        const bool codPod = sc.isCodPodSelected && isCodPod(doc);
        if (match == nullptr) {
            const std::uint32_t order = ++countResultBt;
            if (!sc.isCodPodSelected || codPod) {
                results.push_back(
                    {doc.rule.group, doc.parts.decclass, DocStatus::kNew, order, doc.entry, nullptr, {}, {}});
            }
            continue;
        }
        const std::uint32_t order = ++countResultBt;
        ++countResultBt;
        if (sc.isCodPodSelected && !codPod) continue;
        ResultRow row{
            doc.rule.group, doc.parts.decclass, DocStatus::kChanged, order, doc.entry, match->entry, {}, {}};
        if (codPod) {
            row.blockKey = blockKey(doc, DocStatus::kChanged, order);
            row.oldBlockKey = blockKey(doc, DocStatus::kChanged, order + 1);
            const CompareDocsResult differs =
                sc.cpCmp_->compareDocs(sc.database1, sc.database2, *match->entry->docno, *doc.entry->docno,
                                       row.oldBlockKey, row.blockKey);
            if (differs == CompareDocsResult::kError) {
                sc.setError("%s: %s", getMsgStr(178, "compare/30"), sc.cpCmp_->getError());
                return false;
            }
            if (differs == CompareDocsResult::kEqual) continue;
        }
        results.push_back(std::move(row));
    }
    return true;
}

// What is left unsettled on side 1 was removed.
void SdiCompare::Impl::missNode() {
    for (std::uint32_t i : titleOrder(side1)) {
        const Doc& doc = side1.docs[i];
        if (sc.documentType != 0 && doc.classNumber != sc.documentType) continue;
        if (doc.settled) continue;
        const std::uint32_t order = ++countResultBt;
        if (!sc.isCodPodSelected || isCodPod(doc)) {
            results.push_back(
                {doc.rule.group, doc.parts.decclass, DocStatus::kRemoved, order, doc.entry, nullptr, {}, {}});
        }
    }
}

SdiCompareCode SdiCompare::Impl::run(const std::string& oldSdiFile, const std::string& newSdiFile) {
    side1.sdi = newSdi(0);
    if (!side1.sdi) return fail(SdiCompareCode::kNewSdi1);
    if (!loadSdi(side1, oldSdiFile)) return SdiCompareCode::kLoadSdi1;
    side2.sdi = newSdi(0);
    if (!side2.sdi) return fail(SdiCompareCode::kNewSdi2);
    if (!loadSdi(side2, newSdiFile)) return SdiCompareCode::kLoadSdi2;
    phaseDone(ComparePhase::kLoads);
    step = SdiCompareCode::kAddDocno1;
    if (!readSide(side1)) return fail(step);
    step = SdiCompareCode::kAddDocno2;
    if (!readSide(side2)) return fail(step);
    tagSdiNode();
    indexSide1();
    phaseDone(ComparePhase::kIndexes);
    step = SdiCompareCode::kResultList;
    results.reserve(side1.unique.size() + side2.unique.size());
    step = SdiCompareCode::kMatch;
    if (!matchNode()) return SdiCompareCode::kMatch;
    phaseDone(ComparePhase::kMatching);
    step = SdiCompareCode::kMiss;
    missNode();
    phaseDone(ComparePhase::kMissing);
    step = SdiCompareCode::kGenerateList;
    const SdiCompareCode code = sc.generateList(results);
    if (code == SdiCompareCode::kOk) phaseDone(ComparePhase::kReport);
    return code;
}

std::unique_ptr<SdiCompare> newSdiCompare(KvoFormat& alf) {
    if (alf.ao == nullptr || alf.ao->cg == nullptr) return nullptr;
    std::unique_ptr<CPodCmp> cpCmp = NewCPodCmp(*alf.ao->cg);
    if (!cpCmp) return nullptr;
    return std::unique_ptr<SdiCompare>(new (std::nothrow) SdiCompare(alf, std::move(cpCmp)));
}

SdiCompare::SdiCompare(KvoFormat& alf, std::unique_ptr<CPodCmp> cpCmp)
    : alf_(alf), cpCmp_(std::move(cpCmp)) {}

SdiCompare::~SdiCompare() = default;

SdiCompareCode SdiCompare::compareSdi(const std::string& oldSdiFile, const std::string& newSdiFile,
                                      const std::string& oldLib, const std::string& newLib,
                                      const std::string& oldTitle, const std::string& newTitle,
                                      const std::string& logotypeGifLink, bool codPod) {
    setError(nullptr);
    database1 = oldLib;
    database2 = newLib;
    dbTitle1 = oldTitle;
    dbTitle2 = newTitle;
    logotypeGif = logotypeGifLink;
    isCodPodSelected = codPod;
    languageCode.clear();
    Impl impl(*this);
    try {
        return impl.run(oldSdiFile, newSdiFile);
    } catch (const std::bad_alloc&) {
        // Lists, indexes and rows live only in impl: a shortage fails the
        // step it met, as the old trees' failing inserts did.
        return impl.fail(impl.step);
    }
}

}  // namespace ruva
