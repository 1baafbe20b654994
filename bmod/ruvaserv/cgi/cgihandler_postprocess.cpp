#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"
#include "bmod/ruvaserv/cgi/postprocess_pass.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/chapter_titles.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/ml_node_type.h"
#include "common/quoting.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {

namespace {

constexpr size_t kPassRoom = 522240;    // the output starts at docSize plus this
constexpr size_t kPassMinFree = 10240;  // room every step starts with: one insert needs no check
constexpr size_t kPassGrowth = 131072;
constexpr size_t kTitleReach = 4096;    // getDocTitle's view from "<title"
constexpr size_t kHeadingReach = 4096;  // a heading's searches stop here at the latest
constexpr size_t kDocNameMax = 255;
constexpr size_t kNone = std::string_view::npos;

constexpr std::string_view kBodyMarker = "<!--@BODY-->";
constexpr std::string_view kMarkerOpen = "<!--@@";
constexpr std::string_view kDocTitleDiv = "<div class=\"DOCTITLE\"";
constexpr std::string_view kDeletedOpen = "<del class=\"atictdel\"";
constexpr std::string_view kTitleAnchorTag = "<a name=\"TITLE\"";
constexpr std::string_view kChapNumberSpan = "<span class=\"CHAPNUMBER\"";
constexpr std::string_view kReferenceClass = "class=\"reference\"";
constexpr std::string_view kGlossaryClass = "class=\"glossary\"";
constexpr char kPhraseMarkStart[] = "<font style=\"background-color:#ffeeaa\">";
constexpr char kPhraseMarkEnd[] = "</font>";
constexpr char kSearchMatch[] = "SearchMatch";

// Byte classes of the dispatch. The "maybe" bytes start a rule only when
// the text after them says so; otherwise they are ordinary.
enum ByteKind : uint8_t { kPlain, kMapped, kLt, kGt, kNul, kMaybeHttp, kMaybeQzl, kMaybeTitleEnd, kColon };

// Bytes 128-138 as line-drawing substitutes.
constexpr char kByteMap[11] = {'|', '+', '\\', '\\', '-', '-', '+', '-', '+', '/', '/'};

// Copies the plain bytes of a run, 16 at a time where it can, up to the
// next byte the run's table may call special: NUL, '<', '>', ':', '/'
// while it may end the title, 128-138 while they are mapped. It may stop
// at a byte the table (changed since) calls plain; the caller looks again.
class PlainCopier {
public:
    explicit PlainCopier(const uint8_t* kind) : kind_(kind) {
#ifdef __SSE2__
        slash_ = _mm_set1_epi8(kind['/'] != kPlain ? '/' : '<');
        // Signed, 128-138 are the bytes below 139 (-117); nothing is below -128.
        mappedBelow_ = _mm_set1_epi8(static_cast<char>(kind[128] == kMapped ? -117 : -128));
#endif
    }

    // Copies in[i..] to out[i..] up to limit or the first such byte; gives
    // where it stopped. out[i..limit) must be writable: a block is stored
    // whole before it is looked at.
    size_t copyPlain(const unsigned char* in, char* out, size_t i, size_t limit) const {
#ifdef __SSE2__
        const __m128i nul = _mm_setzero_si128(), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'),
                      colon = _mm_set1_epi8(':');
        while (limit - i >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
            const __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, nul), _mm_cmpeq_epi8(v, lt)),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, colon))),
                             _mm_or_si128(_mm_cmpeq_epi8(v, slash_), _mm_cmplt_epi8(v, mappedBelow_)));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
            if (mask) return i + static_cast<size_t>(std::countr_zero(mask));
            i += 16;
        }
#endif
        while (i < limit && kind_[in[i]] == kPlain) {
            out[i] = static_cast<char>(in[i]);
            ++i;
        }
        return i;
    }

private:
    const uint8_t* kind_;
#ifdef __SSE2__
    __m128i slash_, mappedBelow_;
#endif
};

bool isBlankOrGt(unsigned char c) { return c == '>' || isAsciiSpace(c); }

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

// Whether text holds word, any case.
bool holds(std::string_view text, std::string_view word) {
    return PageScan(text.data(), text.size()).find(0, word) != std::string_view::npos;
}

bool oneOf(std::string_view value, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names)
        if (equalsCaseBlind(value, name)) return true;
    return false;
}

bool isIdentifier(std::string_view name) {
    if (name.empty() || isAsciiDigit(static_cast<unsigned char>(name[0]))) return false;
    for (const unsigned char c : name)
        if (!isAsciiAlnum(c) && c != '_' && c != '$') return false;
    return true;
}

// The comment of a CONT entry: "OPT:" (any case) followed by a token
// holding 'M' marks a meeting-minutes document.
bool commentMarksMinutes(const std::string& comment) {
    std::vector<char> text(comment.begin(), comment.end());
    text.push_back('\0');
    char* cursor = text.data();
    bool afterOpt = false;
    while (char* token = getNextToken(&cursor)) {
        if (afterOpt && std::strchr(token, 'M')) return true;
        afterOpt = equalsCaseBlind(token, "OPT:");
    }
    return false;
}

}  // namespace

int CgiHandler::postProcessFile() {
    PostProcessPass pass(*this);
    return pass.run();
}

int PostProcessPass::run() {
    ps_ = PassState();
    ID_ = field("ID");
    FN_ = field("FN");
    AC_ = field("AC");
    hasID_ = has("ID");
    hasFN_ = has("FN");
    hasAC_ = has("AC");
    if (!cg_.docBuf) {
        cg_.setError(cg_.msg(210, "cgihandler/12"));
        return 0;
    }
    cg_.notesEnabled = 0;
    cg_.bNotes = 0;
    const std::string sypa = field("SYPA");
    if (!sypa.empty()) cg_.valueList->addValue("PA", sypa.c_str());

    const std::string_view mime = cg_.mimeType;
    const bool text = mime.empty() || startsCaseBlindAt(mime, 0, "text") || startsCaseBlindAt(mime, 0, "image/svg+xml");
    const size_t room = size_ > SIZE_MAX - kPassRoom ? SIZE_MAX : size_ + kPassRoom;
    // A handler that post-processes again keeps an output mapping that is
    // large enough: a fresh one costs a page fault for every 4 KB written.
    if (text && room != SIZE_MAX && cg_.dstBuf && cg_.dstbufSize >= room) {
        cg_.dstOffs = 0;
        cg_.dstBuf[0] = '\0';
    } else {
        cg_.freeDstBuf();
        if (!text) return 1;
        if (room == SIZE_MAX || !cg_.allocDstBuf(room)) {
            cg_.setError(cg_.msg(211, "cgihandler/13"), static_cast<unsigned long>(room));
            return 0;
        }
    }
    // Every way out ends the writers' pass mode and drops the inserter.
    struct PassEnd {
        CgiHandler& cg;
        ~PassEnd() {
            cg.endDstPass();
            cg.pass_.annot.reset();
        }
    } passEnd{cg_};
    cg_.beginDstPass();
    if (!setUp() || !copyPage()) return 0;
    return finish();
}

int PostProcessPass::setUp() {
    ps_.bAnnotated = (cg_.flags & kCgiUseAnnotation) != 0;
    cg_.pageSwitches.disableContxtMenu = true;
    if (scan_.find(0, "swf_file_name") != kNone) {
        cg_.notesEnabled = 0;
        cg_.pageSwitches.flc = true;
    }
    buildSearchReturn();
    setPageKind();
    if (ps_.bKivoMain && !rewriteRenderNode()) return 0;
    if (!createAnnotation()) return 0;
    if (!(cg_.flags & kCgiNoSearchWords) && !ps_.matcher.setUp(cg_, ps_)) return 0;
    setMenuSwitches();
    ps_.metaDataStart = scan_.find(0, kBodyMarker) != kNone;
    buildByteKinds();
    if (ps_.bKivoMain) planMainPage();
    return 1;
}

// The page's kind by its file name (set-up steps 8-10).
void PostProcessPass::setPageKind() {
    const std::string_view fn = FN_;
    ps_.bKivoDoc = equalsCaseBlind(fn, "kivodoc.html");
    ps_.bFilterToolbar = equalsCaseBlind(fn, "kivotbar.html");
    if (!hasFN_) {
        ps_.bAnnotated = false;
        cg_.bNotes = 0;
    }
    ps_.bKivoMain = ps_.tocKivoMain = equalsCaseBlind(fn, "kivo.html") || equalsCaseBlind(fn, "kivo2.html");
    ps_.bKivoTree = ps_.tocKivoTree = equalsCaseBlind(fn, "kivotree.html");
    ps_.bKivoMOM = (holds(fn, "19089") && holds(fn, "_0U")) || holds(fn, "15554");
    if ((hasAC_ && !equalsCaseBlind(AC_, "LINK")) || equalsCaseBlind(fn, "kvo_ml_sub_main_page"))
        ps_.bAnnotated = false;
}

int PostProcessPass::createAnnotation() {
    if (!ps_.bAnnotated && !ps_.bFilterToolbar) return 1;
    // Without a registered inserter pages get no marks, as when the
    // document has no annotation entries.
    if (cg_.annotFactory) {
        ps_.annot = cg_.annotFactory(std::string_view(FN_).substr(0, kDocNameMax), cg_);
        if (!ps_.annot) {
            cg_.setError(cg_.msg(212, "cgihandler/14"));
            return 0;
        }
        if (ps_.annot->status == -2) {
            ps_.annot.reset();
            cg_.setError(cg_.msg(213, "cgihandler/15"));
            return 0;
        }
    }
    if (!ps_.annot || (ps_.annot->status == -1 && !ps_.bFilterToolbar)) {
        ps_.annot.reset();
        ps_.bAnnotated = false;
    }
    ps_.hasAN = has("AN");
    ps_.AN = field("AN");
    return 1;
}

// Frame and menu switches (set-up step 13).
void PostProcessPass::setMenuSwitches() {
    PageSwitches& sw = cg_.pageSwitches;
    const std::string_view fn = FN_, ac = AC_;
    const bool framePage = ps_.bKivoMain || ps_.bKivoTree || ps_.bKivoDoc || ps_.bFilterToolbar;
    bool docPage = (!fn.empty() && (isAsciiDigit(static_cast<unsigned char>(fn[0])) ||
                                    (fn[0] >= 'A' && fn[0] <= 'Z') || holds(fn, "_log") || holds(fn, "_sur") ||
                                    holds(fn, "_lnk"))) &&
                   holds(fn, "html");
    if (!docPage) sw.contextMenuExist = false;
    const bool compareAction = hasAC_ && oneOf(ac, {"COMPMEXT", "COMPMSG", "COMPEXT", "COMPEXE", "INSTANT", "COMPSEL"});
    const bool neutral =
        (!fn.empty() && fn[0] == 'h') || holds(fn, ".sgml") ||
        (hasAC_ && (oneOf(ac, {"info", "AdvSearch", "compsel", "COMPEXE", "COMPMSG", "COMPEXT", "COMPMEXT",
                               "CHNGLANG", "INSTANT", "DocSearch", "search", "searchext"}) ||
                    startsCaseBlindAt(ac, 0, "anno") || startsCaseBlindAt(ac, 0, "bookmark") ||
                    startsCaseBlindAt(ac, 0, "help") || startsCaseBlindAt(ac, 0, "toolbar") ||
                    startsCaseBlindAt(ac, 0, "note")));
    if (framePage || !neutral) {
        if (docPage) {
            ps_.docLoaded = true;
        } else if ((hasAC_ || has("TI") || has("CW")) && (!hasAC_ || compareAction)) {
            sw.Flag_MenuDocFrame = true;
            sw.disableContxtMenu = false;
        } else {
            docPage = true;  // for the menus only
        }
        if (docPage && hasID_ && hasFN_) askMinutes();
        if (docPage && !compareAction) sw.contextMenuExist = true;
    }
    if (ps_.bKivoDoc || (fn.size() > 1 && fn[0] == 'h' && isAsciiDigit(static_cast<unsigned char>(fn[1]))) ||
        (hasAC_ && oneOf(ac, {"SEARCH", "INFO"}) && !equalsCaseBlind(field("ST"), "DocSearch")))
        sw.Flag_MenuDocFrame = true;
}

// The document's server options: "OPT: M" in its member comment marks
// meeting minutes. A failed session or command only leaves isMOM clear, so
// its error text does not outlive the call.
void PostProcessPass::askMinutes() {
    const std::string saved = cg_.getError();
    if (cg_.establishDefaultSession() && cg_.sess) {
        std::unique_ptr<UzResponse> reply = cg_.sess->cont(ID_, FN_);
        if (reply && (reply->resultCode == 200 || reply->resultCode == 550)) {
            const UzContEntry* entry = reply->cont();
            if (entry && entry->filled() && commentMarksMinutes(entry->comment)) ps_.isMOM = true;
        }
    }
    cg_.errmsg = saved;
}

void PostProcessPass::buildByteKinds() {
    kind_.fill(kPlain);
    kind_[0] = kNul;
    kind_['<'] = kLt;
    kind_['>'] = kGt;
    kind_['h'] = kind_['H'] = kMaybeHttp;
    kind_['q'] = kind_['Q'] = kMaybeQzl;
    kind_['/'] = kMaybeTitleEnd;
    if (!(cg_.options & kOptNoByteMapping))
        for (unsigned c = 128; c <= 138; ++c) kind_[c] = kMapped;
    // Within a run a link is looked for at its ':'.
    runKind_ = kind_;
    runKind_['h'] = runKind_['H'] = runKind_['q'] = runKind_['Q'] = kPlain;
    runKind_[':'] = kColon;
}

// The pass: a switch on the byte; ordinary bytes go out in runs.
int PostProcessPass::copyPage() {
    while (so_ < size_) {
        if (anchorAt_ <= so_) {
            // A pending hit goes over before the anchor is written.
            if (const int moved = handOver()) {
                if (moved < 0) return 0;
                continue;
            }
            if (!flushAnchor()) return 0;
        }
        // Every step starts with kPassMinFree bytes of room.
        if (cg_.dstbufSize - cg_.dstOffs <= kPassMinFree && !cg_.growDstFor(kPassGrowth)) return 0;
        if (mainAt_ <= so_) {
            const int edited = mainPageEdit();
            if (edited < 0) return 0;
            if (edited > 0) continue;
        }
        int ok = 1;
        switch (kind_[byteAt(page_, so_)]) {
            case kNul:
                return 1;  // a NUL ends the page
            case kLt:
                ok = atLt();
                break;
            case kGt:
                ok = atGt();
                break;
            case kMaybeHttp:
                ok = startsCaseBlindAt(page_, so_, "http:/") ? atLink(false) : copyByte();
                break;
            case kMaybeQzl:
                ok = startsCaseBlindAt(page_, so_, "qzl:/") ? atLink(true) : copyByte();
                break;
            default:
                ok = copyByte();
        }
        if (!ok) return 0;
    }
    return 1;
}

// Copies ordinary bytes at once up to the next one a rule may take (or the
// pending anchor's place, or stop), mapping 128-138 on the way. The room
// kept free by every step bounds the run, so it needs no write checks.
void PostProcessPass::copyRun(size_t stop) {
    // Locals, not members: the output writes could alias them, and the
    // compiler would reload them for every byte.
    const size_t start = so_;
    const size_t limit = std::min({size_, anchorAt_, mainAt_, stop, start + (cg_.dstbufSize - cg_.dstOffs - 1)});
    const auto* const in = reinterpret_cast<const unsigned char*>(page_.data());
    const uint8_t* const kind = runKind_.data();
    char* const out = cg_.dstBuf + cg_.dstOffs - start;
    const bool gtInline = !matching() && !ps_.metaHeaderPending;
    const bool ltInline = !matching() && !ps_.bFilterToolbar;
    const PlainCopier plain(kind);
    size_t i = start;
    while (i < limit) {
        i = plain.copyPlain(in, out, i, limit);
        if (i == limit) break;
        const unsigned char c = in[i];
        const uint8_t k = kind[c];
        if (k == kPlain) {
            out[i++] = static_cast<char>(c);
            continue;
        }
        if (k == kMapped) {
            out[i++] = kByteMap[c - 128];
            continue;
        }
        // A tag's end, when nothing waits for it (no meta header, no
        // search hit to hand over): no step of its own.
        if (k == kGt && gtInline) {
            ps_.inTag = false;
            out[i++] = '>';
            continue;
        }
        // A tag no rule can take (most of them: p, td, code, em) is copied
        // as atLt would copy it, without a step of its own.
        if (k == kLt && ltInline && !ruleMayTakeTag(i)) {
            ltInMarkup_ = ps_.inTag || ps_.inScript;
            ps_.inTag = true;
            out[i++] = '<';
            continue;
        }
        if (k == kColon) {
            // A link is found by its ':', far rarer in text than 'h' or
            // 'q'; its scheme, copied as it is, is taken back.
            const size_t link = linkBefore(start, i);
            if (link != kNone) {
                i = link;
                break;
            }
        } else if (k == kMaybeTitleEnd) {
            passTitleEnd(i);
        } else {
            break;
        }
        out[i] = static_cast<char>(c);
        ++i;
    }
    // A link whose ':' lies past the limit still starts its own step.
    if (i == limit) i = linkAcross(start, limit);
    cg_.dstOffs += i - start;
    cg_.dstBuf[cg_.dstOffs] = '\0';
    so_ = i;
}

// Whether a rule of tagRules or closingTagRules may act on the tag at `at`
// (or change the pass's state there); false only when every one of them
// would give 0 and leave the state alone.
bool PostProcessPass::ruleMayTakeTag(size_t at) const {
    switch (asciiLower(scan_.at(at + 1))) {
        case 't':
            return scan_.startsAt(at, "<title");
        case 's':
            return scan_.startsAt(at, "<script");
        case '/':
            switch (asciiLower(scan_.at(at + 2))) {
                case 't':
                    return scan_.startsAt(at, "</title");
                case 's':
                    return scan_.startsAt(at, "</script");
                case 'd':
                case 'a':
                case 'h':
                case 'b':
                    return true;
                default:
                    return false;
            }
        case 'h':
        case 'b':
        case 'f':
        case '\\':
        case 'd':
        case '!':
        case 'a':
            return true;
        default:
            return false;
    }
}

// The start of the program link whose ':' is at colon, if it starts at or
// after from; npos when none.
size_t PostProcessPass::linkBefore(size_t from, size_t colon) const {
    if (colon >= from + 4 && startsCaseBlindAt(page_, colon - 4, "http:/")) return colon - 4;
    if (colon >= from + 3 && startsCaseBlindAt(page_, colon - 3, "qzl:/")) return colon - 3;
    return kNone;
}

// A run ending at limit: the first program link that starts in its last
// bytes (at or after from) and ends past it, else limit.
size_t PostProcessPass::linkAcross(size_t from, size_t limit) const {
    for (size_t at = limit > from + 4 ? limit - 4 : from; at < limit; ++at) {
        const unsigned char c = asciiLower(byteAt(page_, at));
        if ((c == 'h' && startsCaseBlindAt(page_, at, "http:/")) || (c == 'q' && startsCaseBlindAt(page_, at, "qzl:/")))
            return at;
    }
    return limit;
}

// Rule 11 for the byte at so_: the matcher sees the bytes it may act on
// one by one; the others go out in runs.
int PostProcessPass::copyByte() {
    const size_t limit = std::min({size_, anchorAt_, so_ + (cg_.dstbufSize - cg_.dstOffs - 1)});
    const size_t quiet = matching() ? ps_.matcher.quietUntil(cg_, ps_, so_, limit) : kNone;
    if (quiet > so_) {
        copyRun(quiet);
        return 1;
    }
    const unsigned char c = byteAt(page_, so_);
    if (kind_[c] == kMaybeTitleEnd) passTitleEnd(so_);
    const int taken = ps_.matcher.atCopy(cg_, ps_, so_);
    if (taken != 0) return taken > 0;
    const char out = kind_[c] == kMapped ? kByteMap[c - 128] : static_cast<char>(c);
    ++so_;
    return write(std::string_view(&out, 1));
}

// "/h2" (exactly, not in the page's last four bytes) ends the first title.
void PostProcessPass::passTitleEnd(size_t at) {
    if (ps_.endOfTitle || at + 5 > size_ || !startsAt(page_, at, "/h2")) return;
    ps_.endOfTitle = true;
    kind_['/'] = runKind_['/'] = kPlain;
    ps_.matcher.endOfTitle(ps_);
}

// Copies the tag at so_ through its '>' as written (the rest of the page
// without one; a NUL still ends it).
int PostProcessPass::copyThroughGt() {
    const size_t stop = page_.find_first_of(std::string_view(">\0", 2), so_);
    const size_t end = stop == kNone ? size_ : page_[stop] == '>' ? stop + 1 : stop;
    if (!write(page_.substr(so_, end - so_))) return 0;
    so_ = end;
    ps_.inTag = false;
    return 1;
}

int PostProcessPass::flushAnchor() {
    anchorAt_ = kNone;
    return write(anchor_);
}

// A pending search hit is handed over before another rule acts: 1 when the
// read position moved (this step ends), 0 when it did not, -1 on a failed
// write.
int PostProcessPass::handOver() {
    if (!matching()) return 0;
    const size_t at = so_;
    if (!ps_.matcher.beforeRule(cg_, ps_, so_)) return -1;
    return so_ != at ? 1 : 0;
}

int PostProcessPass::atGt() {
    if (const int moved = handOver()) return moved > 0;
    ps_.inTag = false;
    ++so_;
    put('>');
    if (ps_.metaHeaderPending) {
        ps_.metaHeaderPending = false;
        return cg_.writeMetaHeader(so_);
    }
    return 1;
}

// A program link: the scheme goes out ("qzl:/" as urlProto), the rewriter
// takes the rest.
int PostProcessPass::atLink(bool qzl) {
    if (const int moved = handOver()) return moved > 0;
    if (!write(qzl ? std::string_view(cg_.urlProto) : page_.substr(so_, 6))) return 0;
    so_ += qzl ? 5 : 6;
    return cg_.httpPostProcess(so_, ps_.inScript);
}

int PostProcessPass::atLt() {
    if (!ps_.endOfTitle) passTitleEnd(so_ + 1);
    if (const int moved = handOver()) return moved > 0;
    if (ps_.metaDataStart && !ps_.metaDataDone && scan_.startsAt(so_, kBodyMarker)) ps_.metaDataDone = true;
    ltInMarkup_ = ps_.inTag || ps_.inScript;
    ps_.inTag = true;
    int r = tagRules();
    if (r == 0 && ps_.bFilterToolbar) r = cg_.toolbarPageRule(so_);
    if (r != 0) return r > 0;
    ++so_;
    put('<');
    return 1;
}

// The rules at '<' in their order; the byte after '<' picks the few that
// can apply (ruleMayTakeTag names the tags they act on: keep the two
// alike). Each gives 1 when it consumed text (the step ends), 0 when the
// next rule is tried, -1 when a write failed.
int PostProcessPass::tagRules() {
    int r = 0;
    switch (asciiLower(scan_.at(so_ + 1))) {
        case 'h':
            if ((r = exportSheetFrameset()) != 0) return r;
            return headingStart();
        case 'b':
            return bodyTag();
        case 'f':
            return mainFrameset();
        case '\\':
            return treeBodyTag();
        case 'd':
            if ((r = titleDiv()) != 0) return r;
            return deletedText();
        case 't':
            return docTitle();
        case '!':
            return marker();
        case 's':
            return scriptTags();
        case 'a':
            return anchorTag();
        case '/':
            return closingTagRules();
        default:
            return 0;
    }
}

int PostProcessPass::closingTagRules() {
    // The byte after "</" picks the rules that can apply; most closing tags
    // (p, td, li, span) take none.
    int r = 0;
    switch (asciiLower(scan_.at(so_ + 2))) {
        case 'd':
            return deletedText();
        case 't':
            return titleEnd();
        case 's':
            return scriptTags();
        case 'a':
            if (ps_.inA && scan_.startsAt(so_, "</a>")) ps_.inA = false;
            return 0;
        case 'h':
            if ((r = headingEnd()) != 0) return r;
            if (scan_.startsAt(so_, "</head>") && !cg_.insertHeadEnd()) return -1;
            return documentEnd();
        case 'b':
            if (scan_.startsAt(so_, "</body>") && !equalsCaseBlind(AC_, "SEARCHMSG") && !cg_.insertBodyEnd())
                return -1;
            return 0;
        default:
            return 0;
    }
}

// The frame page of an exported sheet gets the document frame's onload;
// all 57 bytes it replaces are compared first.
int PostProcessPass::exportSheetFrameset() {
    constexpr size_t kFramesetLength = sizeof kExportSheetFrameset - 1;
    constexpr size_t kReplaced = kFramesetLength + sizeof kExportSheetSrc - 1;
    if (ps_.doneBody || !scan_.startsAt(so_, kExportSheetFrameset) ||
        !scan_.startsAt(so_ + kFramesetLength, kExportSheetSrc))
        return 0;
    if (!cg_.dstPrintf(kExportSheetOnloadFormat, 0, cg_.folder) || !write(kExportSheetSrc)) return -1;
    so_ += kReplaced;
    return 1;
}

int PostProcessPass::bodyTag() {
    if (ps_.doneBody || !scan_.startsAt(so_, "<body")) return 0;
    if (!write(page_.substr(so_, 5))) return -1;
    so_ += 5;
    if (!cg_.bodyPostProcess(so_)) return -1;
    ps_.doneBody = true;
    ps_.metaHeaderPending = true;
    return 1;
}

bool PostProcessPass::framePageOfTree() const { return ps_.bKivoMain || ps_.bKivoTree; }

// The title anchor "_H" after the first DOCTITLE div. A div spelt inside
// an attribute value, comment or script is text there: the anchor would
// land in that text instead of at the page's title.
int PostProcessPass::titleDiv() {
    if (framePageOfTree() || ps_.hInserted || ltInMarkup_ || !scan_.startsAt(so_, kDocTitleDiv)) return 0;
    if (!copyThroughGt() || !write(kTitleAnchor)) return -1;
    ps_.hInserted = true;
    afterTitleAnchor_ = true;
    return 1;
}

// The depth of deleted text, for the chapter anchors inside it.
int PostProcessPass::deletedText() {
    if (framePageOfTree() || ps_.bKivoDoc || !ps_.metaDataDone) return 0;
    if (scan_.startsAt(so_, kDeletedOpen)) {
        ++ps_.del_count;
        ps_.flag_del = true;
    } else if (ps_.del_count > 0 && scan_.startsAt(so_, "</del>")) {
        ps_.flag_del = --ps_.del_count > 0;
    }
    return 0;
}

int PostProcessPass::titleEnd() {
    constexpr std::string_view kTitleClose = "</title>";
    if (framePageOfTree() || !scan_.startsAt(so_, kTitleClose) ||
        scan_.startsAt(so_ + kTitleClose.size(), "<script"))
        return 0;
    if (!write(page_.substr(so_, kTitleClose.size()))) return -1;
    so_ += kTitleClose.size();
    ps_.inTag = false;
    if (equalsCaseBlind(field("IX"), "FILTER_LIBTIT") && !writeLibraryMeta()) return -1;
    return 1;
}

// The library's identity and title as META lines: the library is asked
// for as "[LI]" (a bare identity is a file pattern to the server), else by
// DB or ID as given. Nothing is written when the server cannot tell.
int PostProcessPass::writeLibraryMeta() {
    std::string library;
    if (const std::string li = field("LI"); !li.empty())
        library = quoteString(("[" + li + "]").c_str());
    else if (const std::string db = field("DB"); !db.empty())
        library = db;
    else
        library = ID_;
    if (library.empty()) return 1;
    const std::string saved = cg_.getError();
    std::unique_ptr<UzResponse> reply;
    if (cg_.establishDefaultSession() && cg_.sess) reply = cg_.sess->mllist(library);
    cg_.errmsg = saved;
    if (!reply || reply->resultCode != 200) return 1;
    // A folder lists its sub-folders first.
    const UzMlListEntry* entry = reply->mllist();
    while (entry && entry->filled() && entry->type != ML_NODE_TYPE_ZS) entry = entry->next.get();
    if (!entry || !entry->filled()) return 1;
    std::string title, id;
    extractLibTitleId(entry->comment, title, id);
    return cg_.dstPrintf(kLibIdMetaFormat, htmlEscaped(id)) && cg_.dstPrintf(kLibTitMetaFormat, htmlEscaped(title));
}

// The document title starts the document-TOC script.
int PostProcessPass::docTitle() {
    if (!ps_.docLoaded || !scan_.startsAt(so_, "<title")) return 0;
    const std::optional<std::string> title = getDocTitle(scan_.view(so_, kTitleReach));
    ps_.sDTOCJavaScript = title && !title->empty() ? formatChecked(kDocTitleNodeFormat, escapeScriptString(*title))
                                                   : std::string(kDocNoTitleNode);
    return 0;
}

int PostProcessPass::marker() {
    if (!scan_.startsAt(so_, kMarkerOpen)) return 0;
    if (!write(kMarkerOpen)) return -1;
    so_ += kMarkerOpen.size();
    if (!cg_.specPostProcess(so_)) return -1;
    ps_.inTag = false;
    return 1;
}

int PostProcessPass::scriptTags() {
    if (scan_.startsAt(so_, "<script")) {
        ps_.inScript = true;
        return 0;
    }
    if (!scan_.startsAt(so_, "</script")) return 0;
    if (!ps_.tocScriptInserted) {
        ps_.tocScriptInserted = true;
        if (cg_.isCollection == 1 && !cg_.insertCTOCGenerateScript(so_)) return -1;
        if (ps_.bKivoMain && (!cg_.insertTOCGenerateScript() || !cg_.insertAutoSyncScript())) return -1;
    }
    ps_.inScript = false;
    return 0;
}

// Where a heading's look-aheads stop: its "</h", the next "<h" with a
// digit, or kHeadingReach bytes on, so an unclosed heading costs no rescan
// of the rest of the page.
size_t PostProcessPass::headingBound(size_t from) const {
    const size_t limit = size_ - from > kHeadingReach ? from + kHeadingReach : size_;
    for (size_t at = from + 1; at < limit;) {
        const size_t lt = scan_.findByte(at, '<', limit);
        if (lt == kNone) break;
        const unsigned char next = asciiLower(scan_.at(lt + 1));
        if ((next == '/' && asciiLower(scan_.at(lt + 2)) == 'h') || (next == 'h' && isAsciiDigit(scan_.at(lt + 2))))
            return lt;
        at = lt + 1;
    }
    return limit;
}

int PostProcessPass::anchorTag() {
    if (!scan_.startsAt(so_, "<a") || !isBlankOrGt(scan_.at(so_ + 2))) return 0;
    ps_.inA = true;
    if (!ps_.inH) return 0;
    const size_t bound = headingBound(so_);
    if (ps_.docLoaded) {
        if (!ps_.hInserted && !ltInMarkup_ && scan_.startsAt(so_, kTitleAnchorTag)) {
            const size_t gt = scan_.findByte(so_, '>', bound);
            if (gt == kNone || !scan_.startsAt(gt + 1, kDocTitleDiv)) {
                if (!write(kTitleAnchor)) return -1;
                ps_.hInserted = true;
                afterTitleAnchor_ = true;
            }
        }
        addChapterNode(page_.substr(so_, bound - so_));
    }
    if (ps_.annot && ps_.bAnnotated && !ps_.bChapMatch)
        ps_.bChapMatch = ps_.annot->checkNameAttr(page_.substr(so_ + 2, bound - so_ - 2)) != 0;
    return 0;
}

// A chapter line of the document-TOC script; a parent the script has not
// declared yet hangs at the top.
void PostProcessPass::addChapterNode(std::string_view anchor) {
    const std::optional<ChapterTitle> chapter = getChapterTitleAndNumber(anchor);
    if (!chapter || chapter->number.empty() || !isIdentifier(chapter->childHeader) ||
        !isIdentifier(chapter->parentHeader))
        return;
    const bool declared = chapter->parentHeader == "dfT" || ps_.declaredNodes.count(chapter->parentHeader);
    ps_.sDTOCJavaScript += formatChecked(
        kChapterNodeFormat, chapter->childHeader, declared ? chapter->parentHeader : std::string("dfT"),
        chapter->title.empty() ? std::string("No Title") : escapeScriptString(chapter->title), chapter->number);
    ps_.declaredNodes.insert(chapter->childHeader);
}

// A marked heading gets its chapter anchor: before the CHAPNUMBER span, or
// after the start tag holding the class. The anchor waits in anchor_ until
// the pass reaches its place, so the text before it still goes through the
// rules. A heading spelt inside an attribute value, comment or script gets
// none and is not counted, so the anchors of the real ones keep their numbers.
int PostProcessPass::headingStart() {
    if (!scan_.startsAt(so_, "<h") || !isAsciiDigit(scan_.at(so_ + 2)) || !isBlankOrGt(scan_.at(so_ + 3))) return 0;
    ps_.inH = true;
    ps_.bChapMatch = false;
    if (!ps_.metaDataDone || ltInMarkup_) return 0;
    const size_t bound = headingBound(so_);
    size_t hit = kNone;
    std::string_view found;
    for (const std::string_view mark : {kChapNumberSpan, kReferenceClass, kGlossaryClass}) {
        const size_t at = scan_.find(so_, mark, hit == kNone ? bound : hit);
        if (at != kNone) {
            hit = at;
            found = mark;
        }
    }
    if (hit == kNone) return 0;
    size_t place = hit;
    if (found != kChapNumberSpan) {
        const size_t gt = scan_.findByte(hit + found.size(), '>', bound);
        if (gt == kNone) return 0;
        place = gt + 1;
    }
    ++ps_.DC_count;
    anchor_ = ps_.flag_del ? formatChecked(kDeletedChapterAnchorFormat, ps_.DC_count)
                           : formatChecked(kChapterAnchorFormat, ++ps_.C_count);
    anchorAt_ = place;
    return 0;
}

// The end of a heading: an annotated chapter gets its icon before the
// closing tag and, with AN, its annotation after it.
int PostProcessPass::headingEnd() {
    if (!scan_.startsAt(so_, "</h") || !isBlankOrGt(scan_.at(so_ + 4)) || (!ps_.inH && !afterTitleAnchor_)) return 0;
    ps_.inH = false;
    ps_.isAfterTitle = true;
    afterTitleAnchor_ = false;
    if (!ps_.bChapMatch || !ps_.annot || scan_.startsAt(so_ + 5, "<h2")) return 0;
    ps_.bChapMatch = false;
    ps_.annot->insertAnnotGif(ps_.hasAN ? std::string_view(ps_.AN) : std::string_view());
    if (cg_.dstPassFailed()) return -1;
    if (!ps_.hasAN) return 0;
    if (!copyThroughGt()) return -1;
    ps_.annot->insertAnnotationIfRequested(FN_, ps_.AN);
    return cg_.dstPassFailed() ? -1 : 1;
}

// "</html" outside a script: the document-TOC script follows on a document
// page. Its functions come from the viewer script; what the pass adds is
// assignments of escaped values.
int PostProcessPass::documentEnd() {
    if (ps_.inScript || !scan_.startsAt(so_, "</html")) return 0;
    if (!copyThroughGt()) return -1;
    if (!ps_.docLoaded) return 1;
    std::string script = kDocTocHead;
    script += ps_.sDTOCJavaScript;
    script += formatChecked(kDocTocPageUrlFormat, escapeScriptString(getURL(cg_, "")));
    script += viewerScript("doc-toc");
    if (cg_.flags & kCgiNotes) script += formatChecked(kButtonB6Format, 0);
    script += kDocTocEnd;
    return cg_.writeDocTOCJavaScript(script, so_) ? 1 : -1;
}

// The page's end: a hit still pending stays unmarked; a phrase search
// marks the phrase over the whole output.
int PostProcessPass::finish() {
    if (!ps_.isPhraseSearch) return 1;
    const std::string pattern = has("FT") ? field("FT") : field("PA");
    std::string result;
    if (!cg_.patternHighlight(std::string_view(cg_.dstBuf, cg_.dstOffs), pattern, kPhraseMarkStart, kPhraseMarkEnd,
                              kSearchMatch, result)) {
        cg_.setError(cg_.msg(211, "cgihandler/15.2"), static_cast<unsigned long>(cg_.dstOffs));
        return 0;
    }
    // The marked text replaces the pass's output: a mapping large enough
    // takes it as it is, with no fresh pages to fault in.
    if (cg_.dstbufSize <= result.size() && !cg_.allocDstBuf(result.size() + 1)) {
        cg_.setError(cg_.msg(211, "cgihandler/15.2"), static_cast<unsigned long>(result.size() + 1));
        return 0;
    }
    std::memcpy(cg_.dstBuf, result.data(), result.size());
    cg_.dstOffs = result.size();
    cg_.dstBuf[cg_.dstOffs] = '\0';
    return 1;
}

}  // namespace ruva
