#include "bmod/ruvaserv/output/cpodcmp.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "common/docmodel/docno.h"
#include "common/html_escape.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Block starts in search order: the table order, not the position in the
// document, decides which block is found first.
constexpr std::array<const char*, 6> kCodBgnStrs = {
    " class=comform>",     " class=prmlist>",     " class=prmitem>",
    " class=\"comform\">", " class=\"prmlist\">", " class=\"prmitem\">",
};
constexpr std::array<const char*, 6> kPodBgnStrs = {
    " class=format>",     " class=pprmlist>",     " class=pprmitem>",
    " class=\"format\">", " class=\"pprmlist\">", " class=\"pprmitem\">",
};

constexpr std::string_view kBlockEndStr = "<h";
constexpr std::string_view kBodyEnd = "</body>";
constexpr std::string_view kHtmlEnd = "</html>";
constexpr std::string_view kSeparator = "<hr size=\"1\" />";
constexpr int kTextDocumentMissing = 5;

struct Message {
    int index;
    const char* tag;
};
constexpr Message kNotCodPod{180, "cpodcmp/1"};
constexpr Message kOldCopyFailed{181, "cpodcmp/2"};
constexpr Message kNewCopyFailed{182, "cpodcmp/3"};
constexpr Message kDocCopyFailed{183, "cpodcmp/4"};
constexpr Message kCodBlockFailed{185, "cpodcmp/6"};
constexpr Message kPodBlockFailed{187, "cpodcmp/8"};
constexpr Message kAppendFailed{188, "cpodcmp/9"};

// The '<' opening the tag that holds text[at]: searched back no further
// than the text's start; a '>' met first means text[at] is not inside a tag.
std::size_t tagOpenBefore(std::string_view text, std::size_t at) {
    for (std::size_t i = at; i-- > 0;) {
        if (text[i] == '<') return i;
        if (text[i] == '>') return kNone;
    }
    return kNone;
}

// A block string's first occurrence from `from` that stands inside a tag,
// and where that tag opens.
struct StartHit {
    std::size_t occurrence = kNone;
    std::size_t open = kNone;
};

StartHit findStartTag(std::string_view document, std::size_t from, std::string_view str) {
    for (std::size_t at = findCaseBlind(document, from, str); at != kNone;
         at = findCaseBlind(document, at + 1, str)) {
        const std::size_t open = tagOpenBefore(document, at);
        if (open != kNone) return {at, open};
    }
    return {};
}

// One document cut into blocks, front to back. Each block string's last
// hit is kept: positions only grow, so a hit at or past the position is
// still the first one, and a document with many blocks of one kind is not
// searched to its end for the other kinds once per block.
class BlockCutter {
public:
    BlockCutter(std::string_view document, std::span<const char* const> starts)
        : document_(document), starts_(starts), hits_(starts.size()), searched_(starts.size(), false) {}

    // The next block, none after the last.
    std::optional<std::string> next() {
        const std::size_t start = nextStart();
        if (start == kNone) {
            position_ = document_.size();
            return std::nullopt;
        }
        // Past the '<': a block opening with a heading tag would otherwise
        // end where it starts, and the search would never move on.
        const std::size_t end = CPodCmp::findNextEndStr(document_, start + 1);
        position_ = end;
        return std::string(document_.substr(start, end - start));
    }

private:
    std::size_t nextStart() {
        for (std::size_t k = 0; k < starts_.size(); ++k) {
            StartHit& hit = hits_[k];
            if (!searched_[k] || (hit.occurrence != kNone && hit.occurrence < position_)) {
                hit = findStartTag(document_, position_, starts_[k]);
                searched_[k] = true;
            }
            if (hit.open != kNone) return hit.open;
        }
        return kNone;
    }

    std::string_view document_;
    std::span<const char* const> starts_;
    std::vector<StartHit> hits_;
    std::vector<bool> searched_;
    std::size_t position_ = 0;
};

// Display copies: the attributes that only shape a table or text survive;
// none of them holds an address or a script.
constexpr std::array<std::string_view, 14> kKeptAttributes = {
    "class",  "colspan",     "rowspan",     "align",   "valign", "width", "height",
    "border", "cellpadding", "cellspacing", "bgcolor", "nowrap", "size",  "color",
};
constexpr std::array<std::string_view, 13> kDroppedTags = {
    "script", "style", "iframe", "frame", "frameset", "object", "embed",
    "applet", "form",  "meta",   "link",  "base",     "svg",
};

bool isOneOf(std::string_view word, std::span<const std::string_view> list) {
    for (std::string_view entry : list) {
        if (entry == word) return true;
    }
    return false;
}

bool endsTagName(char c) {
    return isAsciiSpace(static_cast<unsigned char>(c)) || c == '/' || c == '>';
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return out;
}

// A tag read as a browser reads it: the name runs to white space, '/' or
// '>'; attribute values may be quoted and then hold '>'.
struct Tag {
    std::string name;          // lower-cased
    std::string keptAttrs;     // the kept attributes, each " name=\"value\"", escaped
    std::size_t next = kNone;  // after the '>'; none when the text ends first
};

Tag readTag(std::string_view html, std::size_t i) {
    Tag tag;
    const std::size_t n = html.size();
    const std::size_t nameStart = i;
    while (i < n && !endsTagName(html[i])) ++i;
    tag.name = lowered(html.substr(nameStart, i - nameStart));
    for (;;) {
        while (i < n && (isAsciiSpace(static_cast<unsigned char>(html[i])) || html[i] == '/')) ++i;
        if (i >= n) return tag;
        if (html[i] == '>') {
            tag.next = i + 1;
            return tag;
        }
        const std::size_t attrStart = i++;  // a leading '=' belongs to the name
        while (i < n && !endsTagName(html[i]) && html[i] != '=') ++i;
        const std::string attrName = lowered(html.substr(attrStart, i - attrStart));
        while (i < n && isAsciiSpace(static_cast<unsigned char>(html[i]))) ++i;
        std::optional<std::string_view> value;
        if (i < n && html[i] == '=') {
            ++i;
            while (i < n && isAsciiSpace(static_cast<unsigned char>(html[i]))) ++i;
            if (i < n && (html[i] == '"' || html[i] == '\'')) {
                const std::size_t close = html.find(html[i], i + 1);
                if (close == kNone) return tag;
                value = html.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const std::size_t valueStart = i;
                while (i < n && !isAsciiSpace(static_cast<unsigned char>(html[i])) && html[i] != '>') ++i;
                value = html.substr(valueStart, i - valueStart);
            }
        }
        if (!isOneOf(attrName, kKeptAttributes)) continue;
        tag.keptAttrs += ' ';
        tag.keptAttrs += attrName;
        if (value) {
            tag.keptAttrs += "=\"";
            appendHtmlKeepEntities(tag.keptAttrs, *value, true);
            tag.keptAttrs += '"';
        }
    }
}

bool isPlainName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (!isAsciiAlnum(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// Where the content of a script or style element ends: after its end tag,
// or the text's end when it has none.
std::size_t afterRawContent(std::string_view html, std::size_t from, std::string_view name) {
    const std::string closing = "</" + std::string(name);
    for (std::size_t at = findCaseBlind(html, from, closing); at != kNone;
         at = findCaseBlind(html, at + 1, closing)) {
        const std::size_t after = at + closing.size();
        if (after < html.size() && !endsTagName(html[after])) continue;
        const Tag end = readTag(html, at + 2);
        return end.next == kNone ? html.size() : end.next;
    }
    return html.size();
}

// The markup at html[lt] == '<' into out; returns where the text goes on.
// What cannot be read whole (an unclosed tag or comment) ends the copy:
// written out it would swallow the report's markup after it.
std::size_t sanitizeMarkup(std::string_view html, std::size_t lt, std::string& out) {
    const std::size_t n = html.size();
    const char next = lt + 1 < n ? html[lt + 1] : '\0';
    if (startsAt(html, lt, "<!--")) {
        const std::size_t end = html.find("-->", lt + 4);
        return end == kNone ? n : end + 3;
    }
    if (next == '!' || next == '?') {
        const std::size_t end = html.find('>', lt + 2);
        return end == kNone ? n : end + 1;
    }
    const bool closing = next == '/';
    const std::size_t nameAt = lt + (closing ? 2 : 1);
    if (nameAt >= n || !isAsciiAlpha(static_cast<unsigned char>(html[nameAt]))) {
        out += "&lt;";
        return lt + 1;
    }
    const Tag tag = readTag(html, nameAt);
    if (tag.next == kNone) return n;
    if (!closing && (tag.name == "script" || tag.name == "style"))
        return afterRawContent(html, tag.next, tag.name);
    if (!isPlainName(tag.name) || isOneOf(tag.name, kDroppedTags)) return tag.next;
    out += closing ? "</" : "<";
    out += tag.name;
    if (!closing) out += tag.keptAttrs;
    out += '>';
    return tag.next;
}

void cutAfterHtmlEnd(std::string& document) {
    const std::size_t end = findCaseBlind(document, 0, kHtmlEnd);
    if (end != kNone) document.resize(end + kHtmlEnd.size());
}

// The request's page headers are made from these: a document fetched for
// the comparison must not lend the report its time, type or file name.
class SavedPageState {
public:
    explicit SavedPageState(CgiHandler& cg)
        : cg_(cg),
          docCTime_(cg.docCTime),
          mimeType_(cg.mimeType),
          mimeFilename_(cg.mimeFilename),
          folder_(cg.folder) {}
    ~SavedPageState() {
        cg_.docCTime = docCTime_;
        cg_.mimeType = std::move(mimeType_);
        cg_.mimeFilename = std::move(mimeFilename_);
        cg_.folder = folder_;
    }
    SavedPageState(const SavedPageState&) = delete;
    SavedPageState& operator=(const SavedPageState&) = delete;

private:
    CgiHandler& cg_;
    std::time_t docCTime_;
    std::string mimeType_;
    std::string mimeFilename_;
    int folder_;
};

}  // namespace

std::unique_ptr<CPodCmp> NewCPodCmp(CgiHandler& cg) {
    return std::unique_ptr<CPodCmp>(new (std::nothrow) CPodCmp(cg));
}

CPodCmp::~CPodCmp() = default;

int CPodCmp::checkDocType(const std::string& docno, CPodDocType type) const {
    if (docnoLooksInvalid(docno.c_str())) return 0;
    const std::optional<std::string> fileName = docnoToFilename(docno.c_str(), nullptr, "html");
    if (!fileName) return 0;
    std::string decclass;
    if (!filenameToDocnoParts(fileName->c_str(), nullptr, &decclass, nullptr, nullptr, nullptr, nullptr))
        return 0;
    return decclass == (type == DOC_TYPE_COD ? kCodDocId : kPodDocId) ? 1 : 0;
}

int CPodCmp::isCodDocument(const std::string& docno) const {
    return checkDocType(docno, DOC_TYPE_COD);
}

int CPodCmp::isPodDocument(const std::string& docno) const {
    return checkDocType(docno, DOC_TYPE_POD);
}

void CPodCmp::fail(int index, const char* tag) {
    const std::string whole = cg_.msg(index, tag).text();
    if (whole.size() <= kCPodErrorMax) {
        errMsg_ = whole;
        return;
    }
    // A cut through the grey tag span would grey the rest of the report.
    const std::size_t textSize = cg_.msg(index, nullptr).text().size();
    const std::string_view span = std::string_view(whole).substr(textSize);
    const std::size_t room = span.size() < kCPodErrorMax ? kCPodErrorMax - span.size() : 0;
    errMsg_ = whole.substr(0, std::min(room, textSize));
    errMsg_ += span.substr(0, kCPodErrorMax - errMsg_.size());
}

CompareDocsResult CPodCmp::compareDocs(const std::string& oldLib, const std::string& newLib,
                                       const std::string& oldDocno, const std::string& newDocno,
                                       const std::string& oldKey, const std::string& newKey) {
    errMsg_.clear();
    if (!isCodDocument(oldDocno) && !isPodDocument(oldDocno) && !isCodDocument(newDocno) &&
        !isPodDocument(newDocno)) {
        fail(kNotCodPod.index, kNotCodPod.tag);
        return CompareDocsResult::kError;
    }
    std::string oldDoc;
    std::string newDoc;
    if (getDocData(oldLib, oldDocno, oldDoc) != DocDataResult::kDone ||
        getDocData(newLib, newDocno, newDoc) != DocDataResult::kDone)
        return CompareDocsResult::kError;
    cutAfterHtmlEnd(oldDoc);
    cutAfterHtmlEnd(newDoc);

    std::string oldResult;
    std::string newResult;
    CompareDocsResult result = CompareDocsResult::kDiffers;
    try {
        if (oldDoc.empty() || newDoc.empty()) {
            // The other side's blocks have nothing to be compared with.
            const std::string missing = getTextStr(kTextDocumentMissing);
            if (oldDoc.empty()) appendToResultBuffer(oldResult, missing, {});
            if (newDoc.empty()) appendToResultBuffer(newResult, missing, {});
        } else {
            const CPodDocType kind = isCodDocument(newDocno) ? DOC_TYPE_COD : DOC_TYPE_POD;
            result = compareBlocks(oldDoc, newDoc, kind, oldResult, newResult);
            if (result == CompareDocsResult::kError) return result;
        }
        addBlockToResultBt(oldKey, std::move(oldResult));
        addBlockToResultBt(newKey, std::move(newResult));
    } catch (const std::bad_alloc&) {
        fail(kAppendFailed.index, kAppendFailed.tag);
        return CompareDocsResult::kError;
    }
    return result;
}

CompareDocsResult CPodCmp::compareBlocks(std::string_view oldDoc, std::string_view newDoc, CPodDocType kind,
                                         std::string& oldResult, std::string& newResult) {
    const std::span<const char* const> starts = kind == DOC_TYPE_COD
                                                    ? std::span<const char* const>(kCodBgnStrs)
                                                    : std::span<const char* const>(kPodBgnStrs);
    const Message cutFailed = kind == DOC_TYPE_COD ? kCodBlockFailed : kPodBlockFailed;
    auto guarded = [this](const Message& m, auto&& step) {
        try {
            step();
            return true;
        } catch (const std::bad_alloc&) {
            fail(m.index, m.tag);
            return false;
        }
    };
    // The working block loses what does not change the content; the
    // display copy keeps the markup for the report.
    auto prepare = [](std::optional<std::string>& block, std::optional<std::string>& shown) {
        if (!block) return;
        convertToLineGraphChars(*block);
        shown = *block;
        stripHtmlTags(*block);
        stripSpaces(*block);
    };
    auto collect = [this](std::optional<std::string>& shown, std::string& result) {
        if (!shown) return;
        stripCertainHtmlTags(*shown, "hr");
        // Sanitised last: removing the rules must not join a tag the
        // sanitiser has passed.
        appendToResultBuffer(result, sanitizeDisplayCopy(*shown), result.empty() ? "" : kSeparator);
    };

    BlockCutter oldCut(oldDoc, starts);
    BlockCutter newCut(newDoc, starts);
    bool differs = false;
    for (;;) {
        std::optional<std::string> oldBlock;
        std::optional<std::string> newBlock;
        if (!guarded(cutFailed, [&] {
                oldBlock = oldCut.next();
                newBlock = newCut.next();
            }))
            return CompareDocsResult::kError;
        if (!oldBlock && !newBlock) break;
        std::optional<std::string> oldShown;
        std::optional<std::string> newShown;
        if (!guarded(kOldCopyFailed, [&] { prepare(oldBlock, oldShown); }) ||
            !guarded(kNewCopyFailed, [&] { prepare(newBlock, newShown); }))
            return CompareDocsResult::kError;
        if (byteCmp(oldBlock ? &*oldBlock : nullptr, newBlock ? &*newBlock : nullptr, '\0') == 0) continue;
        differs = true;
        if (!guarded(kAppendFailed, [&] {
                collect(oldShown, oldResult);
                collect(newShown, newResult);
            }))
            return CompareDocsResult::kError;
    }
    return differs ? CompareDocsResult::kDiffers : CompareDocsResult::kEqual;
}

std::size_t CPodCmp::getResultsSize() const {
    return totalResultDataSize_;
}

const std::string& CPodCmp::getError() const {
    return errMsg_;
}

const std::string* CPodCmp::findResult(const std::string& key) const {
    auto it = results_.find(key);
    return it == results_.end() ? nullptr : &it->second;
}

DocDataResult CPodCmp::getDocData(const std::string& library, const std::string& docno, std::string& result) {
    result.clear();
    const std::size_t blank = docno.rfind(' ');
    const std::string article = docno.substr(0, blank);
    const std::string revision = blank == std::string::npos ? "" : docno.substr(blank + 1);
    std::optional<std::string> fileName = docnoToFilename(article.c_str(), revision.c_str(), "html");
    if (!fileName) return DocDataResult::kDone;

    SavedPageState saved(cg_);
    // Only a successful fetch counts: a failure before the member is asked
    // for leaves the previous page in docBuf.
    if (!cg_.retrieveFile(library, *fileName)) {
        // Shown as "Document missing!" in the report, not as the request's error.
        cg_.setError(nullptr);
        return DocDataResult::kDone;
    }
    try {
        if (cg_.docBuf) result.assign(cg_.docBuf, cg_.docSize);
    } catch (const std::bad_alloc&) {
        fail(kDocCopyFailed.index, kDocCopyFailed.tag);
        return DocDataResult::kCopyFailed;
    }
    return DocDataResult::kDone;
}

void CPodCmp::appendToResultBuffer(std::string& buffer, std::string_view data, std::string_view heading) {
    buffer.reserve(buffer.size() + heading.size() + data.size());
    buffer += heading;
    buffer += data;
    totalResultDataSize_ += heading.size() + data.size();
}

void CPodCmp::addBlockToResultBt(const std::string& key, std::string text) {
    if (text.empty()) return;
    results_.insert_or_assign(key, std::move(text));
}

void CPodCmp::convertToLineGraphChars(std::string& block) {
    for (char& c : block) {
        switch (static_cast<unsigned char>(c)) {
            case 0x80:
                c = '|';
                break;
            case 0x81:
            case 0x86:
            case 0x88:
                c = '+';
                break;
            case 0x82:
            case 0x83:
                c = '\\';
                break;
            case 0x84:
            case 0x85:
            case 0x87:
                c = '-';
                break;
            case 0x89:
            case 0x8a:
                c = '/';
                break;
            default:
                break;
        }
    }
}

void CPodCmp::stripSpaces(std::string& block) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const char c = block[i];
        if (!isAsciiSpace(static_cast<unsigned char>(c))) {
            block[kept++] = c;
            continue;
        }
        // A single line break still separates two lines of a block.
        const bool lineBreak = c == '\n' && kept > 0 && (i + 1 == block.size() || block[i + 1] != '\n');
        if (lineBreak) block[kept++] = c;
    }
    block.resize(kept);
}

void CPodCmp::stripHtmlTags(std::string& block) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (block[i] == '<') {
            const std::size_t close = block.find('>', i + 1);
            if (close == std::string::npos) break;
            i = close;
            continue;
        }
        block[kept++] = block[i];
    }
    block.resize(kept);
}

void CPodCmp::stripCertainHtmlTags(std::string& block, std::string_view tag) {
    std::size_t kept = 0;
    std::size_t i = 0;
    while (i < block.size()) {
        if (block[i] == '<' && startsCaseBlindAt(block, i + 1, tag)) {
            const std::size_t close = block.find('>', i + 1 + tag.size());
            if (close == std::string::npos) break;
            i = close + 1;
            continue;
        }
        block[kept++] = block[i++];
    }
    block.resize(kept);
}

int CPodCmp::byteCmp(const std::string* a, const std::string* b, char delimiter) {
    if (!a || !b) return a == b ? 0 : 1;
    auto upToDelimiter = [delimiter](const std::string& s) {
        const std::string_view text(s);
        return delimiter ? text.substr(0, text.find(delimiter)) : text;
    };
    return upToDelimiter(*a) == upToDelimiter(*b) ? 0 : 1;
}

std::size_t CPodCmp::findNextStartStr(std::string_view document, std::size_t from,
                                      std::span<const char* const> strings) {
    for (const char* str : strings) {
        const StartHit hit = findStartTag(document, from, str);
        if (hit.open != kNone) return hit.open;
    }
    return kNone;
}

std::size_t CPodCmp::findNextEndStr(std::string_view document, std::size_t from) {
    for (std::size_t at = findCaseBlind(document, from, kBlockEndStr); at != kNone;
         at = findCaseBlind(document, at + 1, kBlockEndStr)) {
        const std::size_t after = at + kBlockEndStr.size();
        if (after < document.size() && isAsciiDigit(static_cast<unsigned char>(document[after]))) return at;
    }
    const std::size_t bodyEnd = findCaseBlind(document, from, kBodyEnd);
    return bodyEnd == kNone ? document.size() : bodyEnd;
}

std::string CPodCmp::sanitizeDisplayCopy(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        appendHtmlKeepEntities(out, html.substr(i, lt == kNone ? kNone : lt - i), true);
        if (lt == kNone) break;
        i = sanitizeMarkup(html, lt, out);
    }
    return out;
}

}  // namespace ruva
