// Bounded look-aheads of the post-processing pass over docBuf: every test
// and search takes the page as a view of exactly docSize bytes, so nothing
// past its end is read and the page needs no NUL or slack after it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/text_view.h"

namespace ruva {

class PageScan {
public:
    PageScan(const char* data, size_t size) : page_(data ? data : "", data ? size : 0) {}

    std::string_view page() const { return page_; }
    size_t size() const { return page_.size(); }

    // The byte at pos, 0 at or past the end (a NUL ends the pass anyway).
    unsigned char at(size_t pos) const { return pos < page_.size() ? byteAt(page_, pos) : 0; }

    // word at pos without regard to ASCII case; false past the end.
    bool startsAt(size_t pos, std::string_view word) const { return startsCaseBlindAt(page_, pos, word); }

    // The first case-blind occurrence of word at or after from that starts
    // before limit (npos: the page's end); npos when none. Candidates are
    // found by memchr on a byte of the word that has no case, so a page
    // costs about a memchr per occurrence of that byte.
    size_t find(size_t from, std::string_view word, size_t limit = std::string_view::npos) const {
        const size_t end = limit < page_.size() ? limit : page_.size();
        if (from >= end) return std::string_view::npos;
        if (word.empty()) return from;
        // '<' stands at every tag: another caseless byte is a rarer anchor.
        size_t k = 0;
        while (k < word.size() && isAsciiAlpha(static_cast<unsigned char>(word[k]))) ++k;
        for (size_t j = k; j < word.size() && word[k] == '<'; ++j)
            if (!isAsciiAlpha(static_cast<unsigned char>(word[j])) && word[j] != '<') k = j;
        if (k == word.size()) {
            const size_t stop = end + word.size() <= page_.size() ? end + word.size() - 1 : page_.size();
            const size_t hit = findCaseBlind(page_.substr(0, stop), from, word);
            return hit < end ? hit : std::string_view::npos;
        }
        // A start s < end puts word[k] at s + k < end + k.
        const size_t reach = end + k < page_.size() ? end + k : page_.size();
        for (size_t at = from + k; at < reach;) {
            const void* hit = std::memchr(page_.data() + at, word[k], reach - at);
            if (!hit) break;
            const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - page_.data());
            if (startsCaseBlindAt(page_, pos - k, word)) return pos - k;
            at = pos + 1;
        }
        return std::string_view::npos;
    }

    // The first byte c at or after from, before limit; npos when none.
    size_t findByte(size_t from, char c, size_t limit = std::string_view::npos) const {
        const size_t end = limit < page_.size() ? limit : page_.size();
        if (from >= end) return std::string_view::npos;
        const size_t hit = page_.substr(0, end).find(c, from);
        return hit;
    }

    // The bytes from pos, at most length of them.
    std::string_view view(size_t pos, size_t length = std::string_view::npos) const {
        return pos < page_.size() ? page_.substr(pos, length) : std::string_view();
    }

private:
    std::string_view page_;
};

}  // namespace ruva
