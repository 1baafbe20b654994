#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/docmodel/docno.h"
#include "common/html_escape.h"
#include "common/mapped_file.h"
#include "common/text.h"

namespace ruva {
namespace {

TableFormat msg(int index, int tagno) {
    char tag[24];
    std::snprintf(tag, sizeof tag, "sdi/%d", tagno);
    return msgFormat(index, tag);
}

bool sameName(const char* a, const char* b) {
    return a && b && strcasecmp(a, b) == 0;
}

// Name of the element a tree node stands for; null for leaves (text,
// comments, declarations, "<?...>").
const char* elementName(const SgmlTreeNode* n) {
    if (!n || !n->sn || n->sn->state != SPS_TAGNAME) return nullptr;
    const char* name = n->sn->text();
    return name && isAsciiAlpha(static_cast<unsigned char>(name[0])) ? name : nullptr;
}

bool isElement(const SgmlTreeNode* n, const char* name) {
    return sameName(elementName(n), name);
}

// The value of attribute attr (any case) of the start tag at sn; null when
// the tag has none.
const char* attrValue(const SgmlNode* sn, const char* attr) {
    for (const SgmlNode* p = sn; p && !(p->flags & kNodeTagEnd);) {
        p = p->next;
        if (!p || p->state == SPS_EOF) break;
        if (p->state == SPS_TAGATTRNAME && sameName(p->text(), attr) && p->next &&
            p->next->state == SPS_TAGATTRVALUE)
            return p->next->text();
    }
    return nullptr;
}

// Stored texts are SGML text: a raw '<' (from CDATA) becomes "&lt;" so the
// pages that show them cannot gain markup. Cut at kSdiTextMax, never inside
// a reference.
std::string sgmlText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size() < kSdiTextMax ? raw.size() : kSdiTextMax);
    for (char c : raw) {
        const size_t add = c == '<' ? 4 : 1;
        if (out.size() + add > kSdiTextMax) break;
        if (c == '<') {
            out += "&lt;";
        } else {
            out += c;
        }
    }
    return out;
}

// An element text as stored; no text gives null.
std::optional<std::string> stored(const std::optional<std::string>& raw) {
    if (!raw || raw->empty()) return std::nullopt;
    return sgmlText(*raw);
}

std::optional<std::string> storedValue(const char* value) {
    if (!value) return std::nullopt;
    return sgmlText(value);
}

// The language part of a document number's file name stem ("Uen" -> "en").
std::string docnoLanguage(const std::string& docno) {
    std::optional<std::string> stem = docnoToFilename(docno.c_str(), nullptr, nullptr);
    std::string lang;
    if (!stem || !filenameToDocnoParts(stem->c_str(), nullptr, nullptr, nullptr, nullptr, &lang, nullptr))
        return {};
    if (!lang.empty() && (lang[0] == 'U' || lang[0] == 'u')) lang.erase(0, 1);
    return lang;
}

// Builds entries from the body's tree nodes. Text walks stop at the
// element's end, so an empty or unclosed element never takes a later
// element's text and the whole read stays linear.
class BodyReader {
public:
    explicit BodyReader(Sdi& sdi) : sdi_(sdi) {}

    // The node that ends n: its end node, else the start of whatever
    // follows it, else the end of the list.
    const SgmlNode* elementEnd(const SgmlTreeNode* n) const {
        if (n->endsn) return n->endsn;
        for (const SgmlTreeNode* p = n; p; p = p->parent) {
            if (p->next && p->next->sn) return p->next->sn;
        }
        return sdi_.isnl ? sdi_.isnl->lastNode : nullptr;
    }

    // Text of the element up to its end, unstored.
    std::optional<std::string> text(const SgmlTreeNode* n) const {
        if (!n || !n->sn) return std::nullopt;
        SgmlNode* p = n->sn;
        const SgmlNode* end = elementEnd(n);
        if (!end) return std::nullopt;
        return sdi_.ss->getContainerTextEndNode(sdi_.isnl.get(), &p, end);
    }

    // First text of the element, within the element.
    std::optional<std::string> firstText(const SgmlTreeNode* n) const {
        if (!n || !n->sn) return std::nullopt;
        SgmlNode* p = n->sn;
        const SgmlNode* end = elementEnd(n);
        if (!end) return std::nullopt;
        return sdi_.ss->getContainerTextEndNode(sdi_.isnl.get(), &p, end, true);
    }

    SdiEntry* newEntry(SdiEntryType type, SdiEntry* parent);
    int parseList(SgmlTreeNode* first, SdiEntry* parent, SdiEntry** head);

private:
    struct Siblings {
        SdiEntry* first = nullptr;
        SdiEntry* last = nullptr;
    };

    SdiEntry* append(Siblings& list, SdiEntryType type, SdiEntry* parent);
    int heading(SgmlTreeNode* n, Siblings& list, SdiEntry* parent);
    int example(SgmlTreeNode* n, Siblings& list, SdiEntry* parent);
    int table(SgmlTreeNode* n, Siblings& list, SdiEntry* parent);
    void row(SgmlTreeNode* n, SdiEntry* e);
    std::optional<std::string> expanded(const std::optional<std::string>& raw);
    static const SgmlTreeNode* findLiteral(const SgmlTreeNode* entry);

    Sdi& sdi_;
};

// One pool-full message per kind of entry.
int poolMessage(SdiEntryType type) {
    switch (type) {
        case SDIENTRY_HEADING:
            return 303;
        case SDIENTRY_DOCUMENT:
        case SDIENTRY_DOCHEAD:
            return 304;
        case SDIENTRY_PARA:
            return 305;
        case SDIENTRY_XMP:
            return 306;
        default:
            return 307;
    }
}

SdiEntry* BodyReader::newEntry(SdiEntryType type, SdiEntry* parent) {
    void* mem = sdi_.pool->alloc();
    if (!mem) {
        const int no = poolMessage(type);
        sdi_.setError(msg(no, no - 288));
        return nullptr;
    }
    SdiEntry* e = new (mem) SdiEntry;
    e->type = type;
    e->parent = parent;
    return e;
}

SdiEntry* BodyReader::append(Siblings& list, SdiEntryType type, SdiEntry* parent) {
    SdiEntry* e = newEntry(type, parent);
    if (!e) return nullptr;
    if (list.last) {
        list.last->next = e;
    } else {
        list.first = e;
    }
    list.last = e;
    return e;
}

// Entries for first and its following siblings into *head; 0 with the
// error set, having freed what it built.
int BodyReader::parseList(SgmlTreeNode* first, SdiEntry* parent, SdiEntry** head) {
    Siblings list;
    int ok = 1;
    for (SgmlTreeNode* n = first; n && ok; n = n->next) {
        const char* name = elementName(n);
        if (!name) continue;
        // Exact names only: PROCED is not a paragraph.
        if (strncasecmp(name, "CHL", 3) == 0) {
            ok = heading(n, list, parent);
        } else if (sameName(name, "P")) {
            SdiEntry* e = append(list, SDIENTRY_PARA, parent);
            if (e) e->title = stored(firstText(n));
            ok = e != nullptr;
        } else if (sameName(name, "EXAMPLE")) {
            ok = example(n, list, parent);
        } else if (sameName(name, "TABLE")) {
            ok = table(n, list, parent);
        }
    }
    if (!ok) {
        sdi_.freeSdiEntry(list.first);
        list.first = nullptr;
    }
    *head = list.first;
    return ok;
}

int BodyReader::heading(SgmlTreeNode* n, Siblings& list, SdiEntry* parent) {
    SdiEntry* e = append(list, SDIENTRY_HEADING, parent);
    if (!e) return 0;
    const char* role = attrValue(n->sn, "ROLE");
    e->module = storedValue(role);
    SgmlTreeNode* firstElement = n->fchild;
    while (firstElement && !elementName(firstElement)) firstElement = firstElement->next;
    if (isElement(firstElement, "TITLE")) e->title = stored(firstText(firstElement));
    // These headings point elsewhere; what lies below them is not listed.
    if (sameName(role, "FETCH_ONLY") || sameName(role, "FILE_REF") || sameName(role, "LIB_REF")) return 1;
    return parseList(n->fchild, e, &e->child);
}

int BodyReader::example(SgmlTreeNode* n, Siblings& list, SdiEntry* parent) {
    SgmlTreeNode* pre = n->fchild;
    while (pre && !isElement(pre, "PREFORM")) pre = pre->next;
    if (!pre) return 1;
    SdiEntry* e = append(list, SDIENTRY_XMP, parent);
    if (!e) return 0;
    // The raw first text keeps its leading blanks: it is preformatted.
    const SgmlNode* end = elementEnd(pre);
    for (const SgmlNode* p = pre->sn->next; p && p != end && p->state != SPS_EOF; p = p->next) {
        if (p->state == SPS_FREETEXT && p->text() && *p->text()) {
            e->title = sgmlText(p->text());
            break;
        }
    }
    return 1;
}

int BodyReader::table(SgmlTreeNode* n, Siblings& list, SdiEntry* parent) {
    for (SgmlTreeNode* group = n->fchild; group; group = group->next) {
        if (!isElement(group, "TGROUP")) continue;
        for (SgmlTreeNode* part = group->fchild; part; part = part->next) {
            const bool body = isElement(part, "TBODY");
            if (!body && !isElement(part, "THEAD")) continue;
            for (SgmlTreeNode* r = part->fchild; r; r = r->next) {
                if (!isElement(r, "ROW")) continue;
                SdiEntry* e = append(list, body ? SDIENTRY_DOCUMENT : SDIENTRY_DOCHEAD, parent);
                if (!e) return 0;
                row(r, e);
            }
            if (body && !append(list, SDIENTRY_SEPARATOR, parent)) return 0;
        }
    }
    return 1;
}

// The first LITERAL inside entry, in document order; the walk follows the
// parent links instead of a stack.
const SgmlTreeNode* BodyReader::findLiteral(const SgmlTreeNode* entry) {
    const SgmlTreeNode* n = entry->fchild;
    while (n && n != entry) {
        if (isElement(n, "LITERAL")) return n;
        if (n->fchild) {
            n = n->fchild;
            continue;
        }
        while (n != entry && !n->next) n = n->parent;
        if (n == entry || !n) break;
        n = n->next;
    }
    return nullptr;
}

// Document numbers and comments may carry references; when expansion
// changes nothing the text is kept as read.
std::optional<std::string> BodyReader::expanded(const std::optional<std::string>& raw) {
    if (!raw || raw->empty()) return std::nullopt;
    char buf[kSdiExpandBufSize];
    if (sdi_.en->expandString(buf, raw->c_str(), sizeof buf) > 0) {
        if (!*buf) return std::nullopt;
        return sgmlText(buf);
    }
    return sgmlText(*raw);
}

void BodyReader::row(SgmlTreeNode* r, SdiEntry* e) {
    int column = 0;
    for (SgmlTreeNode* cell = r->fchild; cell && column < kSdiEntryColumns; cell = cell->next) {
        if (!isElement(cell, "ENTRY")) continue;
        switch (column++) {
            case 0:
                if (const SgmlTreeNode* lit = findLiteral(cell)) {
                    e->engtitle = stored(text(lit));
                    e->title = stored(firstText(cell));
                } else {
                    e->title = stored(text(cell));
                }
                break;
            case 1:
                e->docno = expanded(text(cell));
                break;
            default:
                e->comment = expanded(text(cell));
                if (e->comment) e->flags |= kSdiEntryComment;
                break;
        }
    }
}

// The start tag's attribute "CODE" (any case) names the language.
const char* languageCode(const SgmlTreeNode* n) {
    return n && n->sn ? attrValue(n->sn, "CODE") : nullptr;
}

// The node after the start tag at sn: where a person's markup begins.
SgmlNode* afterStartTag(SgmlNode* sn) {
    SgmlNode* p = sn;
    while (p && p->state != SPS_EOF && !(p->flags & kNodeTagEnd)) p = p->next;
    return p && p->state != SPS_EOF ? p->next : nullptr;
}

void readDocId(Sdi& sdi, SgmlTreeNode* d) {
    BodyReader body(sdi);
    if (const char* code = languageCode(sdi.stree->findRelNode(d, "LANGUAGE"))) sdi.initLang(code);
    sdi.docno = stored(body.text(sdi.stree->findRelNode(d, "DOC-NO")));
    if (sdi.language == TAVRLANG_NOTSET && sdi.docno) {
        std::string lang = docnoLanguage(*sdi.docno);
        if (!lang.empty()) sdi.initLang(lang.c_str());
    }
    sdi.docrev = stored(body.text(sdi.stree->findRelNode(d, "REV")));
    sdi.datey = stored(body.text(sdi.stree->findRelNode(d, "DATE/Y")));
    sdi.datem = stored(body.text(sdi.stree->findRelNode(d, "DATE/M")));
    sdi.dated = stored(body.text(sdi.stree->findRelNode(d, "DATE/D")));
}

void readPersons(Sdi& sdi, SgmlTreeNode* m) {
    const std::pair<const char*, TavrPerson**> slots[] = {
        {"DRAFTED-BY", &sdi.dp->drafted_by},
        {"APPROVED-BY", &sdi.dp->approved_by},
        {"CHECKED-BY", &sdi.dp->checked_by},
        {"FACTUAL-SUPERVISOR", &sdi.dp->factual_supervisor},
    };
    for (const auto& [path, slot] : slots) {
        SgmlTreeNode* n = sdi.stree->findRelNode(m, path);
        if (!n || !n->sn) continue;
        SgmlNode* node = afterStartTag(n->sn);
        // A person that cannot be read leaves its slot empty; the rest of
        // the meta-data still counts.
        if (TavrPerson* person = sdi.dp->createTavrPerson(&node)) {
            sdi.dp->freeTavrPerson(*slot);
            *slot = person;
        }
    }
}

void readFront(Sdi& sdi, SgmlTreeNode* f) {
    BodyReader body(sdi);
    sdi.copyright = stored(body.text(sdi.stree->findRelNode(f, "TITLE-PAGE/COPYRIGHT")));
    sdi.disclaimer = stored(body.text(sdi.stree->findRelNode(f, "TITLE-PAGE/DISCLAIMER")));
    sdi.trademark = stored(body.text(sdi.stree->findRelNode(f, "TITLE-PAGE/TRADEMARK-LIST/TM-ITEM/OWNER")));
    SgmlTreeNode* list = sdi.stree->findRelNode(f, "TITLED-BLOCK/DEF-LIST");
    if (!list) return;
    for (SgmlTreeNode* item = sdi.stree->findRelNode(list, "DL-ITEM"); item;
         item = sdi.stree->findNextRelNode(item, "DL-ITEM")) {
        std::optional<std::string> term = body.text(sdi.stree->findRelNode(item, "TERM"));
        if (!term || term->empty()) continue;
        std::optional<std::string> def = stored(body.text(sdi.stree->findRelNode(item, "DEF")));
        std::optional<std::string>* slot = sameName(term->c_str(), "LTI")   ? &sdi.lti
                                           : sameName(term->c_str(), "LID") ? &sdi.lid
                                           : sameName(term->c_str(), "LRS") ? &sdi.lrs
                                                                            : nullptr;
        if (slot) *slot = def ? *def : std::string();
    }
}

}  // namespace

std::unique_ptr<Sdi> newSdi(uint16_t flags) {
    std::unique_ptr<Sdi> sdi(new (std::nothrow) Sdi());
    if (!sdi) return nullptr;
    sdi->flags = flags;
    sdi->ss = newSgmlScanner(0);
    if (sdi->ss) sdi->toc = newToc(0);
    if (sdi->toc) sdi->dp = newDocPerson(0);
    if (sdi->dp) sdi->stree = newSgmlTree(0);
    if (sdi->stree) sdi->en = newEntity(0);
    if (sdi->en) sdi->pool = newPool(sizeof(SdiEntry), kSdiPoolItems, kSdiPoolFlags);
    if (!sdi->pool) return nullptr;
    sdi->clear();
    return sdi;
}

Sdi::~Sdi() {
    clear();
    ss.reset();
    toc.reset();
    dp.reset();
    stree.reset();
    en.reset();
    pool.reset();
}

void Sdi::clear() {
    freeSdiEntry(root);
    root = nullptr;
    // The tree points into isnl: it goes first.
    if (stree) stree->clear();
    bodystn = nullptr;
    tavrsn = nullptr;
    if (ss) {
        if (isnl) ss->freeNodeList(std::move(isnl));
        if (osnl) ss->freeNodeList(std::move(osnl));
    }
    if (toc) toc->clear();
    if (dp) {
        dp->clear();
        dp->init(ss.get(), nullptr, nullptr, en.get(), dnotype);
    }
    if (en) en->clear();
    if (pool) pool->clear();
    for (std::optional<std::string>* text :
         {&sdiVersion, &source, &docno, &docrev, &datey, &datem, &dated, &title, &subtitle, &userinfo,
          &partof, &copyright, &disclaimer, &trademark, &lti, &lid, &lrs}) {
        text->reset();
    }
    language = TAVRLANG_NOTSET;
    flags &= static_cast<uint16_t>(~kSdiCommentColumn);
    setError(nullptr);
}

void Sdi::closeInput() {
    if (stree) stree->clear();
    bodystn = nullptr;
    tavrsn = nullptr;
    if (dp) dp->init(ss.get(), nullptr, osnl.get(), en.get(), dnotype);
    if (ss) {
        if (isnl) ss->freeNodeList(std::move(isnl));
        ss->closeInput();
    }
}

int Sdi::setInput(const char* fname) {
    if (!fname) fname = "";
    inName = fname;
    char* data = nullptr;
    size_t size = 0;
    if (!mapFile(fname, &data, &size)) {
        const int err = errno;
        clear();
        setError(msg(292, 4), std::strerror(err), htmlEscaped(inName));
        return 0;
    }
    const int ok = registerInput(data, size);
    unmapFile(&data, &size);
    return ok;
}

int Sdi::registerInput(const void* data, size_t length) {
    clear();
    if (!getDocType(data, length, &docType, &subType)) {
        setError(msg(293, 5));
        return 0;
    }
    if (docType != DOCT_SGML || subType != DOC_SUBTYPE_SGML_TAVR) {
        setError(msg(294, 6), getDocTypeName(docType, subType));
        return 0;
    }
    if (!ss->registerInput(data, length)) {
        setError(msg(295, 7), ss->getError());
        return 0;
    }
    isnl = ss->newNodeList(0);
    if (!isnl) {
        setError(msg(296, 8), ss->getError());
        ss->closeInput();
        return 0;
    }
    const int built = ss->buildNodeList(isnl.get());
    const std::string buildError = ss->getError();
    ss->closeInput();
    if (!built) {
        setError(msg(297, 9), buildError);
        return 0;
    }
    if (!ss->optimizeNodeList(isnl.get())) {
        setError(msg(298, 10), ss->getError());
        return 0;
    }
    osnl = ss->newNodeList(0);
    if (!osnl) {
        setError(msg(299, 11), ss->getError());
        return 0;
    }
    toc->init(TOT_TOC, ss.get(), osnl.get(), kSdiContentsLevel, TavrMsg(TAVRLANG_NOTSET, SMSG_CONTENTS));
    dp->init(ss.get(), isnl.get(), osnl.get(), en.get(), dnotype);
    if (!stree->registerLexicalScan(isnl.get(), docType, subType) || !stree->parseDocumentInstance()) {
        setError("%s", stree->getError());
        return 0;
    }
    return 1;
}

void Sdi::freeSdiEntry(SdiEntry* entry) {
    while (entry) {
        SdiEntry* next = entry->next;
        // Children recurse per heading level only, which the DTD bounds.
        freeSdiEntry(entry->child);
        entry->~SdiEntry();
        pool->free(entry);
        entry = next;
    }
}

int Sdi::prepareDocument(const char* fname) {
    if (!setInput(fname) || !getMetaData() || !parseDocument()) return 0;
    closeInput();
    return 1;
}

void Sdi::initLang(const char* code) {
    static const struct {
        const char* code;
        TavrLang lang;
    } kCodes[] = {
        {"AE", TAVRLANG_AE}, {"DA", TAVRLANG_DA}, {"DE", TAVRLANG_DE}, {"EN", TAVRLANG_EN},
        {"ES", TAVRLANG_ES}, {"FI", TAVRLANG_FI}, {"FR", TAVRLANG_FR}, {"IS", TAVRLANG_IS},
        {"IT", TAVRLANG_IT}, {"JA", TAVRLANG_JA}, {"NL", TAVRLANG_NL}, {"NO", TAVRLANG_NO},
        {"PB", TAVRLANG_PB}, {"PT", TAVRLANG_PT}, {"SL", TAVRLANG_SL}, {"SV", TAVRLANG_SV},
    };
    if (code) {
        std::string upper(code, strnlen(code, kSdiLangCodeMax));
        lstrupr(upper.data());
        for (const auto& row : kCodes) {
            if (upper == row.code) {
                language = row.lang;
                break;
            }
        }
    }
    toc->init(TOT_TOC, ss.get(), osnl.get(), kSdiContentsLevel, TavrMsg(language, SMSG_CONTENTS));
}

int Sdi::scanSdiTree(SdiScanCallback cb, void* data) {
    callback = cb;
    clientData = data;
    if (!cb) {
        setError(msg(312, 24));
        return 0;
    }
    setError(nullptr);
    return internalScanSdiTree(root, 1);
}

int Sdi::internalScanSdiTree(SdiEntry* entry, int level) {
    for (SdiEntry* e = entry; e; e = e->next) {
        if (!callback(this, clientData, e, level)) return 0;
        if (e->child && !internalScanSdiTree(e->child, level + 1)) return 0;
    }
    return 1;
}

int Sdi::getMetaData() {
    SgmlTreeNode* tavr = stree->findNode("TAVR");
    if (!tavr) {
        setError(msg(300, 12));
        return 0;
    }
    tavrsn = tavr->sn;
    BodyReader body(*this);
    if (SgmlTreeNode* m = stree->findRelNode(tavr, "META-DATA")) {
        SgmlTreeNode* d = stree->findRelNode(m, "DOC-ID");
        if (d && d->sn) readDocId(*this, d);
        title = stored(body.text(stree->findRelNode(m, "TITLE")));
        subtitle = stored(body.text(stree->findRelNode(m, "SUBTITLE")));
        if (SgmlTreeNode* info = stree->findRelNode(m, "USER-INFO"); info && info->sn) {
            const SgmlNode* id = info->sn->next;
            if (id && id->state == SPS_TAGATTRNAME && sameName(id->text(), "id") && id->next &&
                id->next->state == SPS_TAGATTRVALUE)
                sdiVersion = storedValue(id->next->text());
            userinfo = stored(body.text(info));
        }
        readPersons(*this, m);
    }
    SgmlTreeNode* f = stree->findRelNode(tavr, "FRONT");
    if (f && f->sn) readFront(*this, f);
    bodystn = stree->findRelNode(tavr, "BODY");
    return 1;
}

int Sdi::parseDocument() {
    freeSdiEntry(root);
    root = nullptr;
    if (!bodystn) {
        setError(msg(301, 13));
        return 0;
    }
    setError(nullptr);
    root = internalParseDocument(bodystn->fchild, nullptr);
    if (root) return 1;
    if (getError().empty()) setError(msg(302, 14));
    return 0;
}

SdiEntry* Sdi::internalParseDocument(SgmlTreeNode* first, SdiEntry* parent) {
    SdiEntry* head = nullptr;
    BodyReader(*this).parseList(first, parent, &head);
    return head;
}

}  // namespace ruva
