#include "bmod/ruvaserv/cgi/search_word_matcher.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/postprocess_state.h"
#include "common/eucjp.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

// Characters of a search text that separate its words.
constexpr std::string_view kSearchSeparators = " ,.:$=<>/{}~^`'%;&|()\t\r\n\"";
// Search types whose words are not in the body text.
constexpr std::string_view kTypesWithoutBodyWords[] = {"Combined", "Title", "Catchword", "DocNo", "FOLDER"};
// How far past a hit the pass copies at most before handing it over.
constexpr size_t kHandOverReach = 255;

bool holdsCaseBlind(std::string_view text, std::string_view word) {
    return findCaseBlind(text, 0, word) != std::string_view::npos;
}

// The search text with "&nbsp;" (or "nbsp;" at its start) as one blank and
// every separator as a blank, cut to kSearchTextMax bytes.
std::string blankSeparators(std::string_view value) {
    std::string text;
    size_t at = 0;
    if (startsAt(value, 0, "nbsp;")) {
        text += ' ';
        at = 5;
    }
    for (; at < value.size(); ++at) {
        if (startsAt(value, at, "&nbsp;")) {
            text += ' ';
            at += 5;
        } else {
            text += value[at];
        }
    }
    if (text.size() > SearchWordMatcher::kSearchTextMax) text.resize(SearchWordMatcher::kSearchTextMax);
    for (char& c : text)
        if (kSearchSeparators.find(c) != std::string_view::npos) c = ' ';
    return text;
}

bool isWild(std::string_view word) {
    return word.find_first_of("*?") != std::string_view::npos;
}

bool delimiterAt(const char* page, size_t size, size_t pos) {
    return pos >= size || isDelimiter(static_cast<unsigned char>(page[pos]));
}

// The ';' of the entity that starts at the '&' at amp, or npos: a name of a
// letter and up to 31 letters or digits, "#" and 1-7 digits, or "#x" and
// 1-6 hex digits. Any other '&' is an ordinary character.
size_t entityEnd(const char* page, size_t size, size_t amp) {
    size_t at = amp + 1;
    size_t first = at, most = 32;
    bool (*accept)(unsigned char) = isAsciiAlnum;
    if (at < size && isAsciiAlpha(static_cast<unsigned char>(page[at]))) {
        ++at;
    } else if (at < size && page[at] == '#') {
        ++at;
        if (at < size && (page[at] | 0x20) == 'x') {
            ++at;
            most = 6;
            accept = [](unsigned char c) {
                return isAsciiDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
            };
        } else {
            most = 7;
            accept = isAsciiDigit;
        }
        first = at;
        if (at >= size || !accept(static_cast<unsigned char>(page[at]))) return std::string_view::npos;
    } else {
        return std::string_view::npos;
    }
    while (at < size && at - first < most && accept(static_cast<unsigned char>(page[at]))) ++at;
    return at < size && page[at] == ';' ? at : std::string_view::npos;
}

}  // namespace

int SearchWordMatcher::setUp(CgiHandler& cg, PassState& ps) {
    const Value* ft = cg.valueList ? cg.valueList->findValue("FT") : nullptr;
    const Value* pa = cg.valueList ? cg.valueList->findValue("PA") : nullptr;
    const Value* st = cg.valueList ? cg.valueList->findValue("ST") : nullptr;
    std::string value = ft ? ft->value : pa ? pa->value : std::string();
    if (value.empty()) return 1;
    if (!ft && st) {
        for (std::string_view type : kTypesWithoutBodyWords)
            if (holdsCaseBlind(st->value, type)) return 1;
    }
    ps.isPhraseSearch = value[0] == '"';
    if (value.find('!') != std::string::npos) value = filterNotWords(value);
    const std::string text = blankSeparators(value);
    ps.complexExpression = text.find(' ') != std::string::npos;
    complex_ = ps.complexExpression;

    for (size_t at = 0; at < text.size() && ps.patokCount < 4;) {
        const size_t start = text.find_first_not_of(' ', at);
        if (start == std::string::npos) break;
        const size_t end = std::min(text.find(' ', start), text.size());
        at = end;
        std::string word = text.substr(start, end - start);
        if (word.size() > kWordMax) continue;
        if (!isEUCenc(word.c_str())) lstrupr(word.data());
        ps.patok[ps.patokCount++] = word;
    }
    // A phrase is marked at the end of the pass, over the whole output.
    if (ps.isPhraseSearch) return 1;

    for (int i = 0; i < ps.patokCount; ++i) {
        const std::string& full = ps.patok[i];
        // A complex expression drops the words that cannot start at a word
        // boundary of their own.
        if (complex_ && !isAsciiAlnum(static_cast<unsigned char>(full[0]))) continue;
        Word word;
        word.wild = isWild(full);
        word.working = word.wild ? parsePattern(full.c_str()) : full;
        // Only '*' and '?': nothing literal to look for.
        if (word.working.empty()) continue;
        word.pattern = full;
        lstrlwr(word.pattern.data());
        words_[wordCount_++] = std::move(word);
        if (!complex_) break;
    }
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned char b = static_cast<unsigned char>(c);
        kinds_[c] = b == '<' || b == '>' || b == '\0' || b == '&'              ? kStep
                    : b == '/' || asciiLower(b) == 'h' || asciiLower(b) == 'q' ? kRuleByte
                                                                               : kQuiet;
        for (int i = 0; i < wordCount_; ++i) {
            const std::string& word = words_[i].working;
            if (asciiUpper(b) != static_cast<unsigned char>(word[0])) continue;
            // In a complex expression a word is chosen only where it stands
            // whole: a byte whose next one is not the word's second starts
            // none (one-letter words: any next byte).
            kinds_[c] = complex_ && kinds_[c] != kRuleByte && kinds_[c] != kStep ? kStart : kStep;
            for (unsigned next = 0; next < 256; ++next)
                if (word.size() == 1 || asciiLower(static_cast<unsigned char>(next)) ==
                                            asciiLower(static_cast<unsigned char>(word[1])))
                    startPairs_[c * 256 + next] = true;
        }
    }
    return 1;
}

void SearchWordMatcher::endOfTitle(PassState& ps) {
    for (int i = 0; i < wordCount_; ++i)
        if (containsKanji(words_[i].working.c_str())) ps.disableBodySearch = true;
}

// Runs the matching step over the bytes from so that the pass copies as
// they are, up to limit: it stops at every byte the pass's copy run stops
// at ('<', '>', NUL, a program link), at a "/h2" that ends the title, and
// where the matcher must write (an entity past limit) or a word completes.
// Between those, matching changes only paState and the current word, which
// the skipped bytes are then counted into.
size_t SearchWordMatcher::quietUntil(const CgiHandler& cg, const PassState& ps, size_t so, size_t limit) {
    page_ = cg.docBuf;
    size_ = cg.docSize;
    limit = std::min(limit, size_);
    if (pending_) {
        if (ps.disableBodySearch) return limit;
        return std::min(limit, pppSo_ + std::min(current_->working.size(), kHandOverReach) + 1);
    }
    if (ps.inTag || !ps.doneBody || ps.inScript) return limit;
    const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(page_);
    for (size_t at = so; at < limit; ++at) {
        if (paState_ == 0) {
            for (; at < limit; ++at) {
                const uint8_t kind = kinds_[bytes[at]];
                if (kind == kQuiet) continue;
                if (kind == kRuleByte && !ruleAt(ps, at)) continue;
                if (kind == kStart && at + 1 < size_ && !startPairs_[bytes[at] * 256u + bytes[at + 1]])
                    continue;
                break;
            }
            if (at == limit) break;
        }
        const unsigned char c = bytes[at];
        if (c == '<' || c == '>' || c == '\0' || ruleAt(ps, at)) return at;
        if (c == '&') {
            const size_t semi = entityEnd(page_, size_, at);
            if (semi != std::string_view::npos) {
                // The entity goes out as it stands; its ';' is compared.
                if (semi >= limit) return at;
                at = semi - 1;
                continue;
            }
        }
        if (!advance(ps, at)) return at;
    }
    return limit;
}

// The byte at so starts a program link, or "/h2" ends the title: the
// pass's copy run stops there.
bool SearchWordMatcher::ruleAt(const PassState& ps, size_t so) const {
    const std::string_view page(page_, size_);
    switch (page_[so]) {
        case 'h':
        case 'H':
            return startsCaseBlindAt(page, so, "http:/");
        case 'q':
        case 'Q':
            return startsCaseBlindAt(page, so, "qzl:/");
        case '/':
            return !ps.endOfTitle && startsAt(page, so, "/h2");
        default:
            return false;
    }
}

int SearchWordMatcher::atCopy(CgiHandler& cg, PassState& ps, size_t& so) {
    page_ = cg.docBuf;
    size_ = cg.docSize;
    if (pending_) {
        // The hit goes over once more than its length was copied after
        // it; a wildcard hit's page word is still being copied until then.
        if (ps.disableBodySearch || so <= pppSo_) return 0;
        if (so - pppSo_ <= std::min(current_->working.size(), kHandOverReach)) return 0;
        return handOver(cg, ps, so) ? 1 : -1;
    }
    if (ps.inTag || !ps.doneBody || ps.inScript) return 0;
    return matchStep(cg, ps, so);
}

int SearchWordMatcher::beforeRule(CgiHandler& cg, PassState& ps, size_t& so) {
    if (!pending_ || ps.disableBodySearch) return 1;
    page_ = cg.docBuf;
    size_ = cg.docSize;
    // The rule acts inside the page word of a wildcard hit: that word is
    // not whole in the output, so it is no hit.
    if (so <= pppSo_) {
        pending_ = wildcardHit_ = false;
        paState_ = 0;
        return 1;
    }
    return handOver(cg, ps, so);
}

// The matching step for the byte at so: 1 when an entity was copied (so
// on its ';'), -1 when that write failed, else 0.
int SearchWordMatcher::matchStep(CgiHandler& cg, const PassState& ps, size_t& so) {
    if (page_[so] == '&') {
        const size_t semi = entityEnd(page_, size_, so);
        if (semi != std::string_view::npos) {
            const int wrote = cg.dstWriteBuf(std::string_view(page_ + so, semi - so));
            so = semi;
            return wrote ? 1 : -1;
        }
    }
    if (advance(ps, so)) return 0;
    ++paState_;
    if (restarts(so)) {
        paState_ = 0;
        return 0;
    }
    complete(cg, ps, so);
    return 0;
}

// Chooses a word when none is in progress and compares the byte at so
// with it. false, with nothing changed but the choice, when the byte would
// complete the word.
bool SearchWordMatcher::advance(const PassState& ps, size_t so) {
    if (paState_ == 0) {
        current_ = complex_ ? chooseWord(ps, so) : &words_[0];
        if (!current_) return true;
    }
    const std::string& word = current_->working;
    const unsigned char upper = asciiUpper(static_cast<unsigned char>(page_[so]));
    // After a wildcard hit paState holds the page word's length: a
    // mismatch, never an index past the word.
    if (static_cast<size_t>(paState_) >= word.size() || upper != static_cast<unsigned char>(word[paState_])) {
        paState_ = 0;
        return true;
    }
    if (static_cast<size_t>(paState_) + 1 == word.size()) return false;
    ++paState_;
    if (restarts(so)) paState_ = 0;
    return true;
}

// A first character that the next page byte repeats starts the match one
// later, so "*AB" hits "xaab"; a one-character word compares with the NUL
// after it.
bool SearchWordMatcher::restarts(size_t so) const {
    const std::string& word = current_->working;
    const unsigned char second = word.size() > 1 ? static_cast<unsigned char>(word[1]) : 0;
    return paState_ == 1 && static_cast<unsigned char>(word[0]) != second && so + 1 < size_ &&
           page_[so + 1] == page_[so];
}

// Complex expressions: the last of words 1-4 that starts here, a wildcard
// word always, a plain word only with a delimiter after it.
const SearchWordMatcher::Word* SearchWordMatcher::chooseWord(const PassState& ps, size_t so) const {
    if (ps.disableBodySearch) return nullptr;
    const unsigned char upper = asciiUpper(static_cast<unsigned char>(page_[so]));
    const std::string_view rest(page_ + so, size_ - so);
    const Word* chosen = nullptr;
    for (int i = 0; i < wordCount_; ++i) {
        const Word& word = words_[i];
        if (static_cast<unsigned char>(word.working[0]) != upper || !startsCaseBlindAt(rest, 0, word.working))
            continue;
        if (word.wild || delimiterAt(page_, size_, so + word.working.size())) chosen = &word;
    }
    return chosen;
}

// The current word's last character is at so: a plain word is a hit with
// delimiters on both sides; a wildcard word when its whole page word fits
// the pattern.
void SearchWordMatcher::complete(const CgiHandler& cg, const PassState& ps, size_t so) {
    // A completed word that is no hit leaves no match in progress: the
    // next byte read, also one after a tag, may start one.
    size_t last = so;
    if (current_->wild) {
        size_t start = 0;
        if (!fitsPageWord(so, start, last)) {
            paState_ = 0;
            return;
        }
        // The pass copies the rest of the page word before the hit goes
        // over; paState counts the whole word.
        paState_ = static_cast<int>(last + 1 - start);
        wildcardHit_ = true;
    } else {
        const size_t first = so + 1 - current_->working.size();
        if (!delimiterAt(page_, size_, so + 1) || (first > 0 && !delimiterAt(page_, size_, first - 1))) {
            paState_ = 0;
            return;
        }
    }
    pending_ = true;
    pppInA_ = ps.inA;
    pppSo_ = last;
    pppDstOffs_ = cg.dstOffs + (last - so);
}

// Collects the page word around the literal piece that ends at so into
// bodymatch_ (start and last: its first and last byte) and tests it against
// the pattern, both lower-cased.
bool SearchWordMatcher::fitsPageWord(size_t so, size_t& start, size_t& last) {
    const std::string& piece = current_->working;
    const size_t first = so + 1 - piece.size();
    // A piece compared across a tag does not stand in the page as such.
    if (strncasewildcmp(piece, std::string_view(page_ + first, size_ - first)) != 0) return false;
    start = first;
    while (start > 0 && !delimiterAt(page_, size_, start - 1)) {
        if (so + 1 - start >= kWordMax) return false;
        --start;
    }
    size_t end = so + 1;
    while (!delimiterAt(page_, size_, end)) {
        if (end - start >= kWordMax) return false;
        ++end;
    }
    bodymatchLength_ = end - start;
    std::memcpy(bodymatch_.data(), page_ + start, bodymatchLength_);
    bodymatch_[bodymatchLength_] = '\0';
    std::array<char, kWordMax + 1> lowered = bodymatch_;
    lstrlwr(lowered.data());
    last = end - 1;
    return wildcardfit(current_->pattern.c_str(), lowered.data()) != 0;
}

// Marks the pending hit and takes back what the pass copied after it, so
// that text is read again. 0 when a write failed.
int SearchWordMatcher::handOver(CgiHandler& cg, const PassState& ps, size_t& so) {
    cg.flags |= kCgiHitHandedOver;
    pending_ = false;
    if (ps.metaDataStart == ps.metaDataDone) {
        const std::string_view hit = wildcardHit_ ? std::string_view(bodymatch_.data(), bodymatchLength_)
                                                  : std::string_view(current_->working);
        const std::string_view patterns[] = {hit};
        if (!cg.patternPostProcess(paState_, paMatchCount_, pppInA_, pppDstOffs_, patterns)) return 0;
    }
    wildcardHit_ = false;
    // Every other rule hands the hit over before it acts, so the bytes
    // after the hit are a plain copy of the page (no '<' or '>' among
    // them: inTag is as it was) and the cut is exact.
    const size_t after = so - pppSo_ - 1;
    if (after == 0) {
        // The byte after the hit is a rule's: the text it reads next
        // does not follow the hit.
        paState_ = 0;
        return 1;
    }
    cg.dstOffs -= std::min(after, cg.dstOffs);
    cg.dstBuf[cg.dstOffs] = '\0';
    so = pppSo_ + 1;
    return 1;
}

}  // namespace ruva
