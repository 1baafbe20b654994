#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/docmodel/docno.h"
#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/mapped_file.h"

namespace ruva {

namespace {

// Written language codes, in TavrLang order.
constexpr const char* kLangCodes[kTavrLangCount] = {"ae", "da", "de", "en", "es", "fi", "fr", "is", "it",
                                                   "nl", "no", "pb", "pt", "sl", "sv", "ja", "x"};

// Column widths of the document table, with and without the comment column.
constexpr const char* kWidthsComment[] = {"40*", "40*", "20*"};
constexpr const char* kWidthsPlain[] = {"60*", "40*"};

std::optional<std::string> copyOf(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

// A '&' is kept only where it starts "&name;" or "&#digits;": anything else
// would read back as a different text.
bool startsReference(const std::string& s, size_t amp) {
    size_t i = amp + 1;
    bool numeric = i < s.size() && s[i] == '#';
    if (numeric) ++i;
    size_t first = i;
    while (i < s.size() && (numeric ? std::isdigit(static_cast<unsigned char>(s[i]))
                                    : std::isalnum(static_cast<unsigned char>(s[i]))))
        ++i;
    return i > first && i < s.size() && s[i] == ';';
}

// Text as SGML text: a raw '<' would start a tag when read back.
std::string sgmlText(const char* text) {
    std::string s(text ? text : "");
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '<') {
            out += "&lt;";
        } else if (s[i] == '&' && !startsReference(s, i)) {
            out += "&amp;";
        } else {
            out += s[i];
        }
    }
    return out;
}

const char* orNull(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }

// Heading depth and structure the reader can give back; the message names
// the broken rule. Walks with an explicit stack.
bool checkWritable(const SdiEntry* root, std::string* why) {
    struct Item {
        const SdiEntry* list;
        int level;
    };
    std::vector<Item> stack{{root, 1}};
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        for (const SdiEntry* e = item.list; e; e = e->next) {
            if (e->type == SDIENTRY_HEADING && item.level > kSdiHeadingLevelMax) {
                *why = "heading level " + std::to_string(item.level) + " is deeper than " +
                       std::to_string(kSdiHeadingLevelMax);
                return false;
            }
            if (!e->child) continue;
            if (e->type != SDIENTRY_HEADING) {
                *why = "an entry that is not a heading has children";
                return false;
            }
            stack.push_back({e->child, item.level + 1});
        }
    }
    return true;
}

// The process's umask, for the mode a new file would get.
mode_t currentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

}  // namespace

// Node helpers: each appends to osnl and copies the scanner's text on failure.
namespace {

struct Out {
    Sdi& sdi;

    bool fail() {
        sdi.setError("%s", sdi.ss->getError().c_str());
        return false;
    }
    bool tag(const char* name, std::initializer_list<SgmlTagAttr> attrs = {}) {
        return sdi.ss->appendSgmlNodeTag(sdi.osnl.get(), name, attrs) ? true : fail();
    }
    bool raw(const char* text) {
        return sdi.ss->appendSgmlNode(sdi.osnl.get(), SPS_FREETEXT, text) ? true : fail();
    }
    bool text(const char* value) {
        std::string s = sgmlText(value);
        return raw(s.c_str());
    }
    bool nl() { return raw("\n"); }
    // <name>text</name>
    bool element(const char* name, const char* value) {
        std::string end = std::string("/") + name;
        return tag(name) && (!value || text(value)) && tag(end.c_str());
    }
};

}  // namespace

namespace {

// The DOCTYPE with its subset holding the generator comment; the subset is
// made of level marks on between-attribute nodes, as the scanner reads it.
bool outputDoctype(Sdi& sdi, Out& out) {
    SgmlScanner* ss = sdi.ss.get();
    SgmlNodeList* list = sdi.osnl.get();
    std::string pubid = std::string(kSdiPublicIdPrefix) + kSdiDtdNumber + kSdiPublicIdSuffix;
    SgmlNode* n[5] = {ss->allocSgmlNode(list, SPS_TAGNAME, "!DOCTYPE"), ss->allocSgmlNode(list, SPS_DECLNAME, "TAVR"),
                      ss->allocSgmlNode(list, SPS_DECLTYPE, "PUBLIC"),
                      ss->allocSgmlNode(list, SPS_DECLID, pubid.c_str()),
                      ss->allocSgmlNode(list, SPS_TAGATTRSCANNAME, "")};
    for (SgmlNode* node : n)
        if (!node) return out.fail();
    n[3]->flags = kNodeQuoted;
    n[4]->level = 1;
    n[4]->flags = kNodeLevelChange;
    for (SgmlNode* node : n) ss->insertSgmlNode(list, kInsertAtEnd, node);
    if (!out.nl()) return false;
    SgmlNode* comment = ss->allocSgmlNodeComment(list, "%s", kSdiGeneratorComment);
    if (!comment) return out.fail();
    ss->insertSgmlNode(list, kInsertAtEnd, comment);
    if (!out.nl()) return false;
    SgmlNode* close = ss->allocSgmlNode(list, SPS_TAGATTRSCANNAME, "");
    if (!close) return out.fail();
    close->level = 0;
    close->flags = kNodeTagEnd | kNodeLevelChange;
    ss->insertSgmlNode(list, kInsertAtEnd, close);
    return out.nl();
}

bool outputDocId(Sdi& sdi, Out& out) {
    bool ok = out.tag("doc-id") && out.tag("doc-no", {{"type", "registration"}}) &&
              (!sdi.docno || out.text(sdi.docno->c_str())) && out.tag("/doc-no") && out.nl();
    if (ok && sdi.language < kTavrLangCount) {
        ok = out.tag("language", {{"code", kLangCodes[sdi.language]}});
    } else if (ok) {
        ok = out.tag("language");
    }
    return ok && out.nl() && out.element("rev", orNull(sdi.docrev)) && out.nl() && out.tag("date") &&
           out.element("y", orNull(sdi.datey)) && out.element("m", orNull(sdi.datem)) &&
           out.element("d", orNull(sdi.dated)) && out.tag("/date") && out.tag("/doc-id");
}

bool outputPersons(Sdi& sdi, Out& out) {
    DocPerson* dp = sdi.dp.get();
    auto person = [&](const TavrPerson* p) {
        if (dp->outputTavrPerson(p)) return true;
        sdi.setError("%s", dp->getError().c_str());
        return false;
    };
    bool ok = out.tag("drafted-by") && person(dp->drafted_by) && out.tag("/drafted-by") && out.nl();
    if (ok && dp->approved_by && (dp->approved_by->flags & kPersonInParentheses)) {
        ok = out.tag("approved-by", {{"approved", "no"}});
    } else if (ok) {
        ok = out.tag("approved-by");
    }
    return ok && person(dp->approved_by) && out.tag("/approved-by") && out.nl() && out.tag("checked-by") &&
           person(dp->checked_by) && out.tag("/checked-by") && out.nl() && out.tag("factual-supervisor") &&
           person(dp->factual_supervisor) && out.tag("/factual-supervisor") && out.nl() && out.tag("/meta-data") &&
           out.nl();
}

bool outputFront(Sdi& sdi, Out& out) {
    bool ok = out.tag("front") && out.nl();
    if (ok && (sdi.copyright || sdi.disclaimer || sdi.trademark)) {
        ok = out.tag("title-page") && out.nl() && out.tag("copyright") && out.element("p", orNull(sdi.copyright)) &&
             out.tag("/copyright") && out.nl() && out.tag("disclaimer") &&
             out.element("p", orNull(sdi.disclaimer)) && out.tag("/disclaimer") && out.nl() &&
             out.tag("trademark-list") && out.tag("tm-item") &&
             out.element("trademark", sdi.trademark ? "Vandrove" : nullptr) && out.nl() &&
             out.element("owner", orNull(sdi.trademark)) && out.tag("/tm-item") && out.tag("/trademark-list") &&
             out.nl() && out.tag("/title-page") && out.nl();
    }
    if (ok && (sdi.lti || sdi.lid || sdi.lrs)) {
        ok = out.tag("titled-block") && out.nl() && out.element("title", "Library Parameters") && out.nl() &&
             out.tag("def-list", {{"role", "PARAM"}});
        const std::pair<const char*, const std::optional<std::string>*> params[] = {
            {"lti", &sdi.lti}, {"lid", &sdi.lid}, {"lrs", &sdi.lrs}};
        for (const auto& [term, value] : params) {
            if (!ok || !*value) continue;
            ok = out.tag("dl-item") && out.element("term", term) && out.tag("def") &&
                 out.element("p", (*value)->c_str()) && out.tag("/def") && out.tag("/dl-item") && out.nl();
        }
        ok = ok && out.tag("/def-list") && out.tag("/titled-block") && out.nl();
    }
    return ok && out.tag("/front") && out.nl() && out.tag("body") && out.nl();
}

}  // namespace

int Sdi::outputTavrStart() {
    if (!ss) return 0;
    if (!osnl) {
        osnl = ss->newNodeList(0);
        if (!osnl) {
            setError("%s", ss->getError().c_str());
            return 0;
        }
    }
    dp->init(ss.get(), nullptr, osnl.get(), en.get(), dnotype);
    Out out{*this};
    bool ok = outputDoctype(*this, out) &&
              out.tag("tavr", {{"toc-level", "toc2"}, {"table-caption", "tc-no"}}) && out.nl() &&
              out.tag("meta-data") && out.nl() && out.tag("confidentiality", {{"class", "open"}}) && out.nl();
    if (ok && source) {
        ok = out.tag("doc-name", {{"id", std::string_view(*source)}});
    } else if (ok) {
        ok = out.tag("doc-name");
    }
    ok = ok && out.nl() && out.text("DOCUMENT LIST") && out.tag("/doc-name") && out.nl() && outputDocId(*this, out);
    ok = ok && out.nl() && out.tag("company-id") && out.nl() && out.tag("business-unit") && out.nl() &&
         out.tag("/business-unit") && out.nl() && out.tag("company-name") && out.nl() && out.tag("/company-name") &&
         out.nl() && out.tag("company-symbol", {{"logotype", "vandrove"}}) && out.tag("/company-id") && out.nl();
    ok = ok && out.element("part-of", orNull(partof)) && out.nl() && out.element("title", orNull(title)) && out.nl();
    if (ok && subtitle) ok = out.element("subtitle", subtitle->c_str()) && out.nl();
    ok = ok && out.tag("user-info", {{"id", kSdiVersionWritten}}) && (!userinfo || out.text(userinfo->c_str())) &&
         out.tag("/user-info") && out.nl();
    return ok && outputPersons(*this, out) && outputFront(*this, out);
}

SdiEntry* Sdi::addSdiEntry(SdiEntry* parentEntry, SdiEntryType type, const char* entryTitle, const char* entryDocno,
                           const char* entryComment, const char* entryEngtitle) {
    void* raw = pool ? pool->alloc() : nullptr;
    if (!raw) {
        setError(SgmlScanner::msg(313, "sdi/25"));
        return nullptr;
    }
    SdiEntry* entry = new (raw) SdiEntry;
    entry->parent = parentEntry;
    entry->type = type;
    entry->title = std::string(entryTitle ? entryTitle : "");
    entry->engtitle = copyOf(entryEngtitle);
    if (entryDocno) {
        if (type == SDIENTRY_HEADING) {
            entry->module = std::string(entryDocno);
        } else if (type == SDIENTRY_DOCUMENT || type == SDIENTRY_DOCHEAD) {
            char buf[kSdiExpandBufSize];
            int n = en ? en->expandString(buf, entryDocno, sizeof buf) : 0;
            entry->docno = std::string(n > 0 ? buf : entryDocno);
            if (entryComment) {
                entry->comment = std::string(entryComment);
                entry->flags |= kSdiEntryComment;
            }
        }
    }
    SdiEntry** link = parentEntry ? &parentEntry->child : &root;
    while (*link) link = &(*link)->next;
    *link = entry;
    return entry;
}

int Sdi::setMetadata(TavrLang lang, const char* newDocno, const char* newDocrev, const char* newTitle,
                     const char* draftedBy, const char* checkedBy, const char* approvedBy, const char* date) {
    language = lang;
    if (newDocno) docno = std::string(newDocno);
    if (newDocrev) docrev = std::string(newDocrev);
    if (newTitle) title = std::string(newTitle);
    if (language == TAVRLANG_NOTSET && docno) {
        std::optional<std::string> stem = docnoToFilename(docno->c_str(), nullptr, nullptr);
        std::string langPart;
        if (stem && filenameToDocnoParts(stem->c_str(), nullptr, nullptr, nullptr, nullptr, &langPart, nullptr) &&
            !langPart.empty()) {
            // The stem keeps the 'U' of "Uen"; the code is what follows it.
            if (langPart[0] == 'U' || langPart[0] == 'u') langPart.erase(0, 1);
            initLang(langPart.c_str());
        }
    }
    datey.reset();
    datem.reset();
    dated.reset();
    if (date) {
        std::string d(date, strnlen(date, kSdiDateMax));
        std::optional<std::string>* parts[] = {&datey, &datem, &dated};
        size_t start = 0;
        for (auto* part : parts) {
            if (start > d.size()) break;
            size_t dash = d.find('-', start);
            size_t end = dash == std::string::npos ? d.size() : dash;
            if (end > start) *part = d.substr(start, end - start);
            if (dash == std::string::npos) break;
            start = dash + 1;
        }
    } else {
        time_t now = time(nullptr);
        struct tm tmNow {};
        localtime_r(&now, &tmNow);
        datey = formatChecked("%04u", static_cast<unsigned>(tmNow.tm_year + 1900));
        datem = formatChecked("%02u", static_cast<unsigned>(tmNow.tm_mon + 1));
        dated = formatChecked("%02u", static_cast<unsigned>(tmNow.tm_mday));
    }
    if (dp) {
        if (draftedBy) dp->collectPerson(&dp->drafted_by, draftedBy);
        if (checkedBy) dp->collectPerson(&dp->checked_by, checkedBy);
        if (approvedBy) dp->collectPerson(&dp->approved_by, approvedBy);
    }
    return 1;
}

int Sdi::output(const char* path) {
    if (!path) return 0;
    if (!generate()) return 0;
    if (!osnl) {
        setError(SgmlScanner::msg(308, "sdi/20"));
        return 0;
    }
    if (std::strcmp(path, "-") == 0) {
        if (!ss->printNodeList(osnl.get(), stdout)) {
            setError(SgmlScanner::msg(311, "sdi/23"), ss->getError().c_str());
            return 0;
        }
        return 1;
    }
    const char* slash = std::strrchr(path, '/');
    std::string tmp = slash ? std::string(path, static_cast<size_t>(slash - path) + 1) : std::string();
    tmp += "sdiwrite.XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        int err = errno;
        setError(SgmlScanner::msg(309, "sdi/21"), std::strerror(err), htmlEscaped(path));
        return 0;
    }
    // mkstemp makes 0600; the file gets what fopen would give, or the old mode.
    struct stat old {};
    mode_t mode = stat(path, &old) == 0 ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    FILE* file = fdopen(fd, "w");
    if (!file) {
        int err = errno;
        close(fd);
        unlink(tmp.c_str());
        setError(SgmlScanner::msg(311, "sdi/23"), std::strerror(err));
        return 0;
    }
    std::string why;
    if (fchmod(fd, mode) != 0) {
        why = std::strerror(errno);
    } else if (!ss->printNodeList(osnl.get(), file)) {
        why = ss->getError();
    } else if (fflush(file) != 0 || ferror(file)) {
        why = std::strerror(errno ? errno : EIO);
    } else if (fsyncRetry(fileno(file)) != 0) {
        why = std::strerror(errno);
    }
    if (fclose(file) != 0 && why.empty()) why = std::strerror(errno);
    if (!why.empty()) {
        unlink(tmp.c_str());
        setError(SgmlScanner::msg(311, "sdi/23"), why.c_str());
        return 0;
    }
    ReplaceOptions options;
    options.sourceSynced = true;
    if (!renameFile(tmp.c_str(), path, options, nullptr)) {
        int err = errno;
        unlink(tmp.c_str());
        setError(SgmlScanner::msg(310, "sdi/22"), std::strerror(err), htmlEscaped(tmp));
        return 0;
    }
    return 1;
}

int Sdi::generate() {
    std::string why;
    if (!checkWritable(root, &why)) {
        setError(SgmlScanner::msg(311, "sdi/27"), why.c_str());
        return 0;
    }
    // A second generate starts over rather than appending a second document.
    if (osnl && ss) ss->freeSgmlNodes(osnl.get(), nullptr);
    Out out{*this};
    return outputTavrStart() && internalGenerateSdi(root, 1) && out.tag("/body") && out.nl() && out.tag("/tavr") &&
           out.nl();
}

int Sdi::internalGenerateSdi(SdiEntry* entry, int level) {
    Out out{*this};
    bool tableOpen = false;
    bool headTable = false;
    bool headingOpen = false;
    std::string chl = "chl" + std::to_string(level);
    std::string chlEnd = "/" + chl;
    auto closeTable = [&]() {
        if (!tableOpen) return true;
        tableOpen = false;
        return outputDoclistEnd(headTable ? 1 : 0) != 0;
    };
    for (SdiEntry* e = entry; e; e = e->next) {
        bool ok = true;
        switch (e->type) {
        case SDIENTRY_HEADING:
            ok = closeTable() && (!headingOpen || (out.tag(chlEnd.c_str()) && out.nl()));
            if (ok && e->module) {
                ok = out.tag(chl.c_str(), {{"role", std::string_view(*e->module)}});
            } else if (ok) {
                ok = out.tag(chl.c_str());
            }
            ok = ok && out.element("title", orNull(e->title)) && out.nl();
            headingOpen = true;
            break;
        case SDIENTRY_DOCUMENT:
        case SDIENTRY_DOCHEAD: {
            // Head rows open a head table; the first document row turns it into a body.
            bool head = e->type == SDIENTRY_DOCHEAD;
            if (!tableOpen) {
                ok = outputDoclistStart(e) != 0;
                tableOpen = true;
                headTable = head;
            } else if (headTable && !head) {
                ok = outputDocBodyStart() != 0;
                headTable = false;
            }
            ok = ok && outputDoclistRow(e);
            break;
        }
        case SDIENTRY_PARA: ok = closeTable() && out.element("p", orNull(e->title)) && out.nl(); break;
        case SDIENTRY_XMP:
            // The reader takes PREFORM's value only inside EXAMPLE.
            ok = closeTable() && out.tag("example") && out.element("preform", orNull(e->title)) &&
                 out.tag("/example") && out.nl();
            break;
        case SDIENTRY_SEPARATOR: ok = closeTable(); break;
        default: break;
        }
        if (!ok) return 0;
        if (e->child && !internalGenerateSdi(e->child, level + 1)) return 0;
    }
    if (!closeTable()) return 0;
    if (headingOpen && !(out.tag(chlEnd.c_str()) && out.nl())) return 0;
    return 1;
}

int Sdi::outputDoclistRow(SdiEntry* entry) {
    if (!entry || (entry->type != SDIENTRY_DOCUMENT && entry->type != SDIENTRY_DOCHEAD)) {
        setError(SgmlScanner::msg(314, "sdi/26"));
        return 0;
    }
    Out out{*this};
    bool ok = out.tag("row") && out.nl() && out.tag("entry") && out.text(orNull(entry->title));
    if (ok && entry->engtitle) ok = out.nl() && out.element("literal", entry->engtitle->c_str()) && out.nl();
    ok = ok && out.tag("/entry") && out.nl() && out.element("entry", orNull(entry->docno)) && out.nl();
    if (ok && (flags & kSdiCommentColumn)) ok = out.element("entry", orNull(entry->comment)) && out.nl();
    return ok && out.tag("/row") && out.nl();
}

int Sdi::outputDoclistStart(SdiEntry* first) {
    flags &= static_cast<uint16_t>(~kSdiCommentColumn);
    for (const SdiEntry* e = first; e; e = e->next) {
        if ((e->type == SDIENTRY_DOCUMENT || e->type == SDIENTRY_DOCHEAD) && e->comment) {
            flags |= kSdiCommentColumn;
            break;
        }
    }
    bool comments = flags & kSdiCommentColumn;
    Out out{*this};
    bool ok = out.tag("table", {{"l-r", "half-indent"}}) && out.nl() && out.tag("caption") && out.tag("/caption") &&
              out.nl() && out.tag("tgroup", {{"cols", comments ? "3" : "2"}}) && out.nl();
    if (comments) {
        for (const char* w : kWidthsComment) ok = ok && out.tag("colspec", {{"colwidth", w}}) && out.nl();
    } else {
        for (const char* w : kWidthsPlain) ok = ok && out.tag("colspec", {{"colwidth", w}}) && out.nl();
    }
    bool body = first && first->type == SDIENTRY_DOCUMENT;
    return ok && out.nl() && out.tag(body ? "tbody" : "thead") && out.nl();
}

int Sdi::outputDoclistEnd(int inDocHead) {
    Out out{*this};
    return out.tag(inDocHead ? "/thead" : "/tbody") && out.nl() && out.tag("/tgroup") && out.nl() &&
           out.tag("/table") && out.nl();
}

int Sdi::outputDocBodyStart() {
    Out out{*this};
    return out.tag("/thead") && out.nl() && out.tag("tbody") && out.nl();
}

}  // namespace ruva
