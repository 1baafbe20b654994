// The search-word matcher that runs inside the post-processing pass: it
// takes the request's search words at set-up and marks their hits in the
// body text as the pass copies it.
//
// States: no match (paState 0); a match in progress (paState characters of
// the current word compared, across tags); a hit pending (complete, waiting
// for the text after it). A pending hit is handed to patternPostProcess
// once the pass has copied more than the word's length past it, or at once
// when any other rule of the pass is about to act; the pass then reads the
// text after the hit again. Everything the pass writes after a hit is thus
// a 1:1 copy, so the rewind takes back exactly those bytes.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ruva {

class CgiHandler;
struct PassState;

class SearchWordMatcher {
public:
    // The search text is cut to this many bytes; longer words are dropped,
    // a longer page word gives no wildcard hit.
    static constexpr size_t kSearchTextMax = 1024;
    static constexpr size_t kWordMax = 254;

    // Takes the search words of the request (FT, else PA) into ps: patok,
    // patokCount, isPhraseSearch, complexExpression. 1; it cannot fail.
    int setUp(CgiHandler& cg, PassState& ps);

    // Whether the pass must show each copied byte to atCopy: there is a
    // word that can match and the search is no phrase (a phrase is marked
    // over the whole output at the end).
    bool active() const { return wordCount_ > 0; }

    // The end of the first title was passed ("/h2"): a word holding Kanji
    // stops body search for the rest of the pass.
    void endOfTitle(PassState& ps);

    // The first position from so on, at most limit, whose byte the pass
    // must show to atCopy (so itself when this one). The bytes before it
    // are taken as matched: the pass must copy them all as they are, in one
    // run that ends there; the matcher stops at every byte that such a run
    // stops at ('<', '>', NUL, "http:/", "qzl:/") and at a '/' before the
    // title's end.
    size_t quietUntil(const CgiHandler& cg, const PassState& ps, size_t so, size_t limit);

    // A byte is about to be copied by the pass's last rule: 1 when the
    // matcher wrote it (or more; so moved), 0 when the pass copies it, -1
    // when a write failed.
    int atCopy(CgiHandler& cg, PassState& ps, size_t& so);

    // Another rule is about to act at so: a pending hit is handed over
    // first. 0 when a write failed, else 1.
    int beforeRule(CgiHandler& cg, PassState& ps, size_t& so);

private:
    struct Word {
        std::string working;  // upper-cased; a wildcard word's longest literal piece
        std::string pattern;  // the full form lower-cased, '*' and '?' kept, for wildcardfit
        bool wild = false;
    };

    int matchStep(CgiHandler& cg, const PassState& ps, size_t& so);
    bool advance(const PassState& ps, size_t so);
    bool restarts(size_t so) const;
    bool ruleAt(const PassState& ps, size_t so) const;
    const Word* chooseWord(const PassState& ps, size_t so) const;
    void complete(const CgiHandler& cg, const PassState& ps, size_t so);
    bool fitsPageWord(size_t so, size_t& start, size_t& last);
    int handOver(CgiHandler& cg, const PassState& ps, size_t& so);

    std::array<Word, 4> words_;
    int wordCount_ = 0;
    // What a byte is to quietUntil when no match is in progress: passed
    // by; passed by unless it starts a rule ('h', 'q', '/'); passed by
    // unless it and the next byte may start a word of a complex expression
    // (startPairs_); stepped on.
    enum ByteKind : uint8_t { kQuiet, kRuleByte, kStart, kStep };
    std::array<uint8_t, 256> kinds_{};
    std::bitset<256 * 256> startPairs_;
    bool complex_ = false;

    // The page of this pass (docBuf, docSize).
    const char* page_ = nullptr;
    size_t size_ = 0;

    const Word* current_ = nullptr;  // pastr: the word being matched
    int paState_ = 0;
    bool pending_ = false;
    bool wildcardHit_ = false;  // the pending hit is the page word in bodymatch_
    bool pppInA_ = false;
    size_t pppSo_ = 0;       // page position of the hit's last character
    size_t pppDstOffs_ = 0;  // its output position
    unsigned paMatchCount_ = 0;
    std::array<char, kWordMax + 1> bodymatch_{};
    size_t bodymatchLength_ = 0;
};

}  // namespace ruva
