// Collects a page's characters into PageText lines: white space folded
// outside preformatted text, bold ranges, line breaks and rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::filter {

class LineBuilder {
public:
    // Appends to page, which must outlive the builder; finish() ends the
    // last line. Bytes that would make the text longer than limit are
    // dropped and set page.overflow.
    explicit LineBuilder(PageText& page, size_t limit = kMaxOutputBytes);
    LineBuilder(const LineBuilder&) = delete;
    LineBuilder& operator=(const LineBuilder&) = delete;

    void setBold(bool bold) { bold_ = bold; }
    // Lines ended while set are kPre; white space is then kept.
    void setPre(bool pre) { pre_ = pre; }

    // A printable byte (0x20-0x7E, 0xA0-0xFF), after the pending blank.
    void addChar(unsigned char byte);
    // A white-space byte of the page: outside pre a pending blank, written
    // only between two characters of a line; inside pre a blank, a tab to
    // the next multiple of 8 columns, '\n' a line end. The caller drops
    // the '\r' of "\r\n".
    void addSpace(unsigned char space);
    // Text that starts an item or cell, never bold: no blank is written
    // before it nor right after it.
    void addPrefix(std::string_view prefix);
    // Ends the line when it holds text.
    void softBreak();
    // Ends the line, an empty one too.
    void hardBreak();
    // Ends the line when it holds text, then adds a rule line.
    void rule();
    bool lineEmpty() const { return page_.text.size() == lineStart_; }
    void finish() { softBreak(); }

private:
    void append(unsigned char byte, bool bold);
    void endLine();

    PageText& page_;
    const size_t limit_;
    uint32_t lineStart_;
    bool bold_ = false;
    bool pre_ = false;
    bool lastBold_ = false;  // the weight of the last byte written
    bool pendingBlank_ = false;
    bool afterPrefix_ = false;
};

}  // namespace ruva::filter
