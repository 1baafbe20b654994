#include "bmod/ruvaserv/sgml/toc.h"

#include <algorithm>
#include <new>

namespace ruva {
namespace {

TableFormat msg(int index, const char* tag) { return msgFormat(index, tag); }

std::string cut(const char* text, size_t max) { return std::string(text).substr(0, max); }

// Appends to an output list; a failed append is remembered and the rest
// skipped, so one check at the end reports it.
struct Out {
    SgmlScanner* ss;
    SgmlNodeList* list;
    bool ok = true;

    void tag(const char* name, std::initializer_list<SgmlTagAttr> attrs = {}) {
        ok = ok && ss->appendSgmlNodeTag(list, name, attrs);
    }
    void text(const std::string& t) { ok = ok && ss->appendSgmlNode(list, SPS_FREETEXT, t.c_str()); }
    void nl() { text("\n"); }
    template <class... Args>
    void comment(FormatLiteral format, const Args&... args) {
        SgmlNode* chain = ok ? ss->allocSgmlNodeComment(list, format, args...) : nullptr;
        ok = chain && ss->insertSgmlNode(list, kInsertAtEnd, chain);
    }
};

// A text longer than kTocPreWrap broken once at the last blank within its
// first kTocPreBreakWindow characters, or after kTocPreWrap without one.
std::string wrapPre(const std::string& text) {
    if (text.size() <= kTocPreWrap) return text;
    const std::string indent = "\n" + std::string(static_cast<size_t>(kTocPreIndent), ' ');
    const size_t blank = text.substr(0, kTocPreBreakWindow).rfind(' ');
    if (blank == std::string::npos) return text.substr(0, kTocPreWrap) + indent + text.substr(kTocPreWrap);
    return text.substr(0, blank) + indent + text.substr(blank + 1);
}


// The heading above the list; the preformatted form writes its tag and
// attribute names in capitals.
int writeTocStart(Toc* toc, bool pre) {
    if (!toc->oss || !toc->osnl) {
        toc->setError(pre ? msg(365, "toc/2") : msg(366, "toc/3"));
        return 0;
    }
    Out out{toc->oss, toc->osnl};
    if (toc->tocType == TOT_TOC) out.comment("@contents level=%d", toc->contentsLevel);
    out.nl();
    out.tag(pre ? "P" : "p", {{pre ? "CLASS" : "class", "HDR"}});
    out.tag(pre ? "A" : "a", {{pre ? "NAME" : "name", toc->aid}});
    out.tag(pre ? "B" : "b");
    if (toc->tocHeading) out.text(*toc->tocHeading);
    out.tag(pre ? "/B" : "/b");
    out.tag(pre ? "/A" : "/a");
    out.nl();
    if (pre)
        out.tag("PRE", {{"CLASS", "TOC"}});
    else
        out.tag("table", {{"width", "100%"}, {"cellpadding", "0"}, {"class", "TOCTBL"}});
    if (!out.ok) toc->setError("%s", toc->oss->getError());
    return out.ok ? 1 : 0;
}

// One row of the table form: number cell and title cell, each bold when
// the entry asks for it.
void writeTblRow(Out& out, const TocEntry* e, const std::string& number, const std::string& link, bool boldRow,
                 bool breakFirst) {
    const bool named = e->flags & kTocEntryNamed;
    auto openBold = [&] {
        if (boldRow && breakFirst) out.tag("br");
        if (boldRow) out.tag("b");
    };
    auto closeBold = [&] {
        if (boldRow) out.tag("/b");
    };
    out.tag("tr");
    out.tag("td", {{"width", named ? "88" : "59"}, {"align", "left"}, {"valign", "top"}});
    openBold();
    out.tag("a", {{"href", link}, {"class", "TOCNUMLINK"}});
    out.text(number);
    out.tag("/a");
    closeBold();
    out.tag("/td");
    out.tag("td");
    openBold();
    out.tag("a", {{"href", link}, {"class", "TOCLINK"}});
    if (e->title) out.text(*e->title);
    out.tag("/a");
    closeBold();
    if (e->source) {
        out.tag("br");
        out.text(*e->source);
    }
    out.nl();
    out.tag("/td");
    out.tag("/tr");
    out.nl();
}

}  // namespace

std::unique_ptr<Toc> newToc(uint16_t flags) {
    std::unique_ptr<Toc> toc(new (std::nothrow) Toc());
    if (!toc) return nullptr;
    toc->flags = flags;
    toc->pool = newPool(sizeof(TocEntry), kTocPoolItems, kTocPoolFlags);
    if (!toc->pool) return nullptr;
    return toc;
}

Toc::~Toc() { clear(); }

void Toc::clear() {
    clearEntryList();
    oss = nullptr;
    osnl = nullptr;
    tocHeading.reset();
    setError(nullptr);
}

int Toc::init(TocType type, SgmlScanner* scanner, SgmlNodeList* output, int level, const char* heading) {
    oss = scanner;
    osnl = output;
    contentsLevel = level;
    partCount = 0;
    tocHeading = heading ? std::optional<std::string>(heading) : std::nullopt;
    tocType = type;
    const char* anchor = type == TOT_LOF ? "LIST-OF-FIGURES" : type == TOT_LOT ? "LIST-OF-TABLES" : "CONTENTS";
    const char* base = type == TOT_LOF ? "FIGURE" : type == TOT_LOT ? "TABLE" : "CHAPTER";
    aid = cut(anchor, kTocAidMax);
    hrefBase = cut(base, kTocHrefBaseMax);
    return 1;
}

int Toc::addEntry(int entryLevel, const char* entryName, const char* title, const char* source, uint8_t entryFlags) {
    void* item = pool ? pool->alloc() : nullptr;
    if (!item) {
        setError(msg(364, "toc/1"));
        return 0;
    }
    TocEntry* e = new (item) TocEntry();
    if (entryFlags & kTocEntryNamed)
        e->name = entryName ? std::optional<std::string>(entryName) : std::nullopt;
    else
        e->level = entryLevel;
    if (title) e->title = title;
    if (source) e->source = source;
    e->flags = entryFlags;
    if (lastEntry)
        lastEntry->next = e;
    else
        firstEntry = e;
    lastEntry = e;
    return 1;
}

void Toc::clearEntryList() {
    while (firstEntry) clearEntry(firstEntry);
}

void Toc::clearEntry(TocEntry* entry) {
    if (!entry) return;
    TocEntry* prev = nullptr;
    for (TocEntry* e = firstEntry; e && e != entry; e = e->next) prev = e;
    if (prev ? prev->next != entry : firstEntry != entry) return;  // not in this list
    (prev ? prev->next : firstEntry) = entry->next;
    if (lastEntry == entry) lastEntry = prev;
    entry->~TocEntry();
    pool->free(entry);
}

int Toc::output() { return (flags & kTocPreformatted) ? outputContentsPre() : outputContentsTbl(); }

void Toc::clearChapters() {
    currentLevel = 0;
    std::fill(std::begin(chapNum), std::end(chapNum), 0);
    chstr.clear();
}

const std::string& Toc::chapterString() {
    std::string s;
    if (flags & kTocPartNumber) s = std::to_string(partCount) + "-";
    for (int i = 0; i < currentLevel && i < kTocLevels; ++i) {
        if (i > 0) s += '.';
        s += std::to_string(chapNum[i]);
    }
    chstr = s.substr(0, kTocChstrMax);
    return chstr;
}

const std::string& Toc::updateChapter(int chapterLevel) {
    if (chapterLevel >= 1 && chapterLevel <= kTocLevels) {
        ++chapNum[chapterLevel - 1];
        currentLevel = chapterLevel;
    }
    // Deeper counters restart; a level below 1 restarts all, above 6 none.
    for (int i = std::max(chapterLevel, 0); i < kTocCounters; ++i) chapNum[i] = 0;
    return chapterString();
}

int Toc::outputChapter(const char* chapterStr, const char* role) {
    if (!oss || !osnl) {
        setError(msg(367, "toc/4"));
        return 0;
    }
    Out out{oss, osnl};
    const std::string h = "h" + std::to_string(std::max(currentLevel, 1));
    out.nl();
    if (role)
        out.tag(h.c_str(), {{"class", role}});
    else
        out.tag(h.c_str());
    if (chapterStr) {
        out.tag("span", {{"class", "CHAPNUMBER"}});
        out.text(std::string(chapterStr) + ((flags & kTocThreeBlanks) ? "   " : " &#160; "));
        out.tag("/span");
    }
    out.tag("span", {{"class", "CHAPTITLE"}});
    if (chapterStr)
        out.tag("a", {{"name", "CHAPTER" + std::string(chapterStr)}, {"href", "#TOP"}, {"class", "CHAPLINK"}});
    else
        out.tag("a", {{"href", "#TOP"}, {"class", "CHAPLINK"}});
    if (!out.ok) setError("%s", oss->getError());
    return out.ok ? 1 : 0;
}

int Toc::outputChapterEnd() {
    if (!oss || !osnl) {
        setError(msg(368, "toc/5"));
        return 0;
    }
    Out out{oss, osnl};
    out.tag("/A");
    out.tag("/SPAN");
    out.tag(("/H" + std::to_string(std::max(currentLevel, 1))).c_str());
    out.nl();
    if (!out.ok) setError("%s", oss->getError());
    return out.ok ? 1 : 0;
}

int Toc::outputTocStartTbl() { return writeTocStart(this, false); }

int Toc::outputTocStartPre() { return writeTocStart(this, true); }

int Toc::outputContentsTbl() {
    if (contentsLevel < 1) return 1;
    if (!outputTocStartTbl()) return 0;  // no target, or the heading failed
    Out out{oss, osnl};
    clearChapters();
    int counter = 0;
    int rows = 0;
    for (const TocEntry* e = firstEntry; e; e = e->next) {
        const bool named = e->flags & kTocEntryNamed;
        if (!named && e->level > contentsLevel) {
            updateChapter(e->level);  // unlisted, but the numbering counts it
            continue;
        }
        std::string number;
        std::string link;
        if (named) {
            number = e->name.value_or("");
            link = "#" + hrefBase + std::to_string(++counter);
        } else {
            number = updateChapter(e->level);
            link = "#CHAPTER" + chstr;
        }
        if (e->link) link = *e->link;
        // Bold rows, and top chapters after the first, stand off by a break.
        bool boldRow = false;
        bool breakFirst = false;
        if (e->flags & kTocEntryBold) {
            boldRow = true;
            breakFirst = rows > 0;
        } else if (!named && e->level == 1 && !(flags & kTocPlainTop)) {
            boldRow = true;
            breakFirst = contentsLevel > 1 && chapNum[0] != 1;
        }
        writeTblRow(out, e, number, link, boldRow, breakFirst);
        ++rows;
        if (named && (e->flags & kTocEntryRestart)) counter = 0;
        if (e->flags & kTocEntryRestart) clearChapters();
    }
    if (rows == 0) {
        out.tag("tr");
        out.tag("td");
        out.tag("/td");
        out.tag("/tr");
    }
    out.tag("/table");
    out.nl();
    if (tocType == TOT_TOC) out.comment("@/contents");
    if (!out.ok) setError("%s", oss->getError());
    return out.ok ? 1 : 0;
}

int Toc::outputContentsPre() {
    if (contentsLevel < 1) return 1;
    if (!outputTocStartPre()) return 0;  // no target, or the heading failed
    Out out{oss, osnl};
    clearChapters();
    int counter = 0;
    for (const TocEntry* e = firstEntry; e; e = e->next) {
        const bool named = e->flags & kTocEntryNamed;
        if (!named && e->level > contentsLevel) {
            updateChapter(e->level);
            continue;
        }
        std::string number;
        if (named) {
            number = e->name.value_or("");
            ++counter;
        } else {
            number = updateChapter(e->level);
        }
        const std::string link = "#" + hrefBase + (named ? std::to_string(counter) : chstr);
        const bool top = !named && e->level == 1;
        if (top && contentsLevel > 1 && chapNum[0] != 1) out.nl();
        out.tag("A", {{"HREF", link}, {"class", "TOCLINK"}});
        out.text(number);
        out.tag("/A");
        const size_t pad = number.size() < static_cast<size_t>(kTocPreNumberWidth) ? static_cast<size_t>(kTocPreNumberWidth) - number.size() : 0;
        out.text(std::string(pad + 1, ' '));
        const bool bold = top && !(flags & kTocPlainTop);
        if (bold) out.tag("B");
        std::string text = wrapPre(e->title.value_or(""));
        if (e->source) text += "\n" + std::string(static_cast<size_t>(kTocPreIndent), ' ') + wrapPre(*e->source);
        out.text(text);
        if (bold) out.tag("/B");
        out.nl();
        if (e->flags & kTocEntryRestart) clearChapters();
    }
    out.tag("/PRE");
    out.nl();
    if (tocType == TOT_TOC) out.comment("@/contents");
    if (!out.ok) setError("%s", oss->getError());
    return out.ok ? 1 : 0;
}

}  // namespace ruva
