#include "bmod/ruvaserv/actions/ruvafilter/line_builder.h"

namespace ruva::filter {

namespace {
constexpr uint32_t kTabWidth = 8;
}

LineBuilder::LineBuilder(PageText& page, size_t limit)
    : page_(page), limit_(limit), lineStart_(static_cast<uint32_t>(page.text.size())) {}

void LineBuilder::append(unsigned char byte, bool bold) {
    if (page_.text.size() >= limit_) {
        page_.overflow = true;
        return;
    }
    const auto at = static_cast<uint32_t>(page_.text.size());
    page_.text.push_back(static_cast<char>(byte));
    lastBold_ = bold;
    if (!bold) return;
    if (!page_.bold.empty() && page_.bold.back().end == at)
        ++page_.bold.back().end;
    else
        page_.bold.push_back({at, at + 1});
}

void LineBuilder::addChar(unsigned char byte) {
    // A blank between two weights is plain, so runs end at words.
    if (pendingBlank_ && !afterPrefix_ && !lineEmpty()) append(' ', bold_ && lastBold_);
    pendingBlank_ = false;
    afterPrefix_ = false;
    append(byte, bold_);
}

void LineBuilder::addSpace(unsigned char space) {
    if (!pre_) {
        pendingBlank_ = true;
        return;
    }
    if (space == '\n') {
        hardBreak();
    } else if (space == '\t') {
        const uint32_t column = static_cast<uint32_t>(page_.text.size()) - lineStart_;
        for (uint32_t n = kTabWidth - column % kTabWidth; n > 0; --n) append(' ', bold_);
    } else {
        append(' ', bold_);
    }
}

void LineBuilder::addPrefix(std::string_view prefix) {
    for (char c : prefix) append(static_cast<unsigned char>(c), false);
    pendingBlank_ = false;
    afterPrefix_ = true;
}

void LineBuilder::softBreak() {
    if (!lineEmpty()) endLine();
    pendingBlank_ = false;
    afterPrefix_ = false;
}

void LineBuilder::hardBreak() {
    endLine();
    pendingBlank_ = false;
    afterPrefix_ = false;
}

void LineBuilder::rule() {
    softBreak();
    page_.lines.push_back({lineStart_, 0, LineKind::kRule});
}

void LineBuilder::endLine() {
    // A prefix with nothing after it ("<li></li>") leaves a trailing blank.
    if (!pre_) {
        while (!lineEmpty() && page_.text.back() == ' ') page_.text.pop_back();
        const auto size = static_cast<uint32_t>(page_.text.size());
        while (!page_.bold.empty() && page_.bold.back().end > size) {
            if (page_.bold.back().start >= size)
                page_.bold.pop_back();
            else
                page_.bold.back().end = size;
        }
    }
    const auto size = static_cast<uint32_t>(page_.text.size());
    page_.lines.push_back({lineStart_, size - lineStart_, pre_ ? LineKind::kPre : LineKind::kText});
    lineStart_ = size;
}

}  // namespace ruva::filter
