#include "bmod/ruvaserv/actions/ruvafilter/postscript.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/page_layout.h"

namespace ruva::filter {

namespace {

// A string is split into several shows rather than run past a line: a
// byte escapes to at most 4, so a piece stays well inside kMaxPsLine
// beside its position and operator.
constexpr size_t kMaxStringPiece = 200;

// Courier and Courier-Bold re-encoded to ISOLatin1Encoding as FR and FB;
// "x y M" moves, "(text) R" and "(text) B" show in either. That encoding
// puts quoteright, minus and quoteleft at the ASCII codes of ', - and `,
// so those three get their ASCII glyphs back.
constexpr std::string_view kProlog =
    "%%BeginProlog\n"
    "/M { moveto } bind def\n"
    "/R { FR setfont show } bind def\n"
    "/B { FB setfont show } bind def\n"
    "/Reencode { findfont dup length dict begin\n"
    "  { 1 index /FID ne { def } { pop pop } ifelse } forall\n"
    "  /Encoding ISOLatin1Encoding 256 array copy\n"
    "  dup 39 /quotesingle put dup 45 /hyphen put dup 96 /grave put def\n"
    "  currentdict end definefont pop } bind def\n"
    "%%EndProlog\n";

constexpr std::string_view kFontSetup =
    "/Courier-ISOLatin1 /Courier Reencode\n"
    "/Courier-Bold-ISOLatin1 /Courier-Bold Reencode\n"
    "/FR /Courier-ISOLatin1 findfont 9 scalefont def\n"
    "/FB /Courier-Bold-ISOLatin1 findfont 9 scalefont def\n";

size_t escapedSize(unsigned char c) {
    if (c < 0x20 || c >= 0x7F) return 4;
    return c == '\\' || c == '(' || c == ')' ? 2 : 1;
}

std::string number(int value) {
    return std::to_string(value);
}

class PsWriter {
public:
    PsWriter(const PageText& page, const PaperSize& paper)
        : page_(page), paper_(paper), geometry_(pageGeometry(paper)) {}

    std::optional<std::string> write(size_t limit);

private:
    void header(int pages);
    void pageBody(int number, int pages, const std::vector<LineSpan>& lines, size_t first);
    void show(int x10, int y, std::string_view text, bool bold);
    void textLine(int y, LineSpan line);
    void token(std::string_view t);
    void line(std::string_view text) {
        endLine();
        out_ += text;
        out_ += '\n';
        lineStart_ = out_.size();
    }
    // Whole lines of fixed text.
    void lines(std::string_view text) {
        endLine();
        out_ += text;
        lineStart_ = out_.size();
    }
    void endLine() {
        if (out_.size() == lineStart_) return;
        out_ += '\n';
        lineStart_ = out_.size();
    }

    const PageText& page_;
    const PaperSize& paper_;
    const PageGeometry geometry_;
    std::string out_;
    std::string piece_;  // one escaped string, kept for its capacity
    size_t lineStart_ = 0;
    size_t boldCursor_ = 0;  // the first bold range that may still matter; lines come in text order
};

// t on the current line, or on a new one when it would pass kMaxPsLine.
void PsWriter::token(std::string_view t) {
    const bool first = out_.size() == lineStart_;
    if (!first && out_.size() - lineStart_ + 1 + t.size() > kMaxPsLine) endLine();
    if (out_.size() != lineStart_) out_ += ' ';
    out_ += t;
}

// Shows text at (x10 / 10, y) in pieces of at most kMaxStringPiece bytes.
void PsWriter::show(int x10, int y, std::string_view text, bool bold) {
    // x in tenths of a point, as "36.0": exact, and no float formatting.
    char move[48];
    const int moveSize = std::snprintf(move, sizeof move, "%d.%d %d M", x10 / 10, x10 % 10, y);
    token(std::string_view(move, static_cast<size_t>(moveSize)));
    for (size_t at = 0; at < text.size();) {
        size_t size = 2, end = at;
        while (end < text.size() &&
               size + escapedSize(static_cast<unsigned char>(text[end])) <= kMaxStringPiece)
            size += escapedSize(static_cast<unsigned char>(text[end++]));
        piece_.clear();
        appendPsString(piece_, text.substr(at, end - at));
        token(piece_);
        token(bold ? "B" : "R");
        at = end;
    }
    endLine();
}

std::optional<std::string> PsWriter::write(size_t limit) {
    if (page_.overflow) return std::nullopt;
    const std::vector<LineSpan> lines = wrapLines(page_, geometry_.columns);
    const size_t rows = static_cast<size_t>(geometry_.rows);
    const int pages = static_cast<int>(std::max<size_t>(1, (lines.size() + rows - 1) / rows));
    header(pages);
    for (int n = 1; n <= pages; ++n) {
        pageBody(n, pages, lines, static_cast<size_t>(n - 1) * rows);
        if (out_.size() > limit) return std::nullopt;  // stopped early: a page is a few KiB
    }
    line("%%Trailer");
    line("%%EOF");
    if (out_.size() > limit) return std::nullopt;
    return std::move(out_);
}

void PsWriter::header(int pages) {
    const std::string size = number(paper_.width) + " " + number(paper_.height);
    line("%!PS-Adobe-3.0");
    line("%%Creator: ruvafilter");
    line("%%LanguageLevel: 2");
    line("%%BoundingBox: 0 0 " + size);
    line("%%DocumentMedia: " + std::string(paper_.name) + " " + size + " 0 () ()");
    line("%%DocumentNeededResources: font Courier Courier-Bold");
    line("%%Pages: " + number(pages));
    line("%%PageOrder: Ascend");
    line("%%EndComments");
    lines(kProlog);
    line("%%BeginSetup");
    line("<< /PageSize [" + size + "] >> setpagedevice");
    lines(kFontSetup);
    line("%%EndSetup");
}

void PsWriter::pageBody(int n, int pages, const std::vector<LineSpan>& lines, size_t first) {
    line("%%Page: " + number(n) + " " + number(n));
    line("save");
    const auto columns = static_cast<size_t>(geometry_.columns);
    if (!page_.title.empty())
        show(kMargin * 10, geometry_.headerY, std::string_view(page_.title).substr(0, columns), true);
    const size_t last = std::min(lines.size(), first + static_cast<size_t>(geometry_.rows));
    for (size_t i = first; i < last; ++i)
        textLine(geometry_.firstRowY - static_cast<int>(i - first) * kLeading, lines[i]);
    const std::string footer = "Page " + number(n) + " of " + number(pages);
    const int width10 = static_cast<int>(footer.size()) * kAdvanceTenths;
    show((geometry_.width * 10 - width10) / 2, geometry_.footerY, footer, false);
    line("restore showpage");
}

// One printed line, split into runs of equal weight.
void PsWriter::textLine(int y, LineSpan span) {
    if (span.kind == LineKind::kRule) {
        show(kMargin * 10, y, std::string(static_cast<size_t>(geometry_.columns), '-'), false);
        return;
    }
    const std::vector<BoldRange>& bold = page_.bold;
    const std::string_view text(page_.text);
    uint32_t pos = span.start;
    const uint32_t end = span.start + span.length;
    int x10 = kMargin * 10;
    while (pos < end) {
        while (boldCursor_ < bold.size() && bold[boldCursor_].end <= pos) ++boldCursor_;
        const bool isBold = boldCursor_ < bold.size() && bold[boldCursor_].start <= pos;
        uint32_t runEnd = end;
        if (boldCursor_ < bold.size())
            runEnd = std::min(end, isBold ? bold[boldCursor_].end : bold[boldCursor_].start);
        show(x10, y, text.substr(pos, runEnd - pos), isBold);
        x10 += static_cast<int>(runEnd - pos) * kAdvanceTenths;
        pos = runEnd;
    }
}

}  // namespace

void appendPsString(std::string& out, std::string_view bytes) {
    out += '(';
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) {
            const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)),
                                  static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7))};
            out.append(octal, sizeof octal);
        } else {
            if (c == '\\' || c == '(' || c == ')') out += '\\';
            out += ch;
        }
    }
    out += ')';
}

std::optional<std::string> writePostScript(const PageText& page, const PaperSize& paper, size_t limit) {
    return PsWriter(page, paper).write(limit);
}

}  // namespace ruva::filter
