#include "bmod/ruvaserv/sgml/docperson.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string_view>

#include "bmod/ruvaserv/sgml/entity.h"
#include "common/text_view.h"

namespace ruva {
namespace {

TableFormat msg(int index, const char* tag) { return msgFormat(index, tag); }

bool isEnd(const SgmlNode* node) { return !node || node->state == SPS_EOF; }

bool sameCaseBlind(std::string_view value, std::string_view word) {
    return value.size() == word.size() && startsCaseBlindAt(value, 0, word);
}

// Start and end tags only; declarations, comments and processing
// instructions are passed over.
bool isTag(const SgmlNode* node) {
    return node->state == SPS_TAGNAME && node->text() && node->text()[0] != '!' && node->text()[0] != '?';
}

bool isExactTag(const SgmlNode* node, const char* name) {
    return !isEnd(node) && node->state == SPS_TAGNAME && node->text() && std::strcmp(node->text(), name) == 0;
}

// The node after a tag's attribute nodes.
SgmlNode* afterTag(SgmlNode* tag) {
    SgmlNode* p = tag->next;
    while (!isEnd(p) && (p->state == SPS_TAGATTRNAME || p->state == SPS_TAGATTRVALUE || p->state == SPS_TAGATTRSCANNAME))
        p = p->next;
    return p;
}

bool isLineTag(const SgmlNode* node) {
    std::string_view tag = node->text();
    if (tag.front() == '/') tag.remove_prefix(1);
    return sameCaseBlind(tag, "LINE");
}

// The next tag from `from` on; inside an external address "line" tags are
// part of its text.
SgmlNode* nextTag(SgmlNode* from, bool inAddress = false) {
    SgmlNode* p = from;
    while (!isEnd(p) && (!isTag(p) || (inAddress && isLineTag(p)))) p = p->next;
    return p;
}

void freeChain(TavrPerson* list) {
    while (list) {
        TavrPerson* next = list->next;
        delete list;
        list = next;
    }
}

void storeSlot(TavrPerson** slot, TavrPerson* person) {
    freeChain(*slot);
    *slot = person;
}

std::optional<std::string> nonEmpty(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// The text inside a leading '(' up to ')' or the end.
std::string_view insideParentheses(std::string_view text) {
    text.remove_prefix(1);
    return text.substr(0, text.find(')'));
}

bool allCapitals(std::string_view word) {
    for (unsigned char c : word)
        if (!std::isupper(c)) return false;
    return !word.empty();
}

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

// Name and signature of the person part of a one-line person text.
void collectName(TavrPerson* tp, std::string_view part) {
    part = skipBlanks(part);
    if (part.empty()) return;
    if (part.front() == '(') {
        tp->name = nonEmpty(insideParentheses(part));
        tp->flags |= kPersonInParentheses;
        return;
    }
    if (!std::isalpha(static_cast<unsigned char>(part.front()))) return;
    const std::string_view first = part.substr(0, part.find(' '));
    if (allCapitals(first)) {
        tp->signature = std::string(first);
        tp->name = nonEmpty(skipBlanks(part.substr(first.size())));
    } else {
        tp->name = nonEmpty(part.substr(0, part.find('(')));
    }
}

// "AB/CD/EF/GH": a short first piece before at least three '/' is the
// location; the piece after it is the company, the rest the department.
void collectAddress(TavrPerson* tp, std::string_view address, int slashes) {
    size_t cut = address.find('/');
    std::string_view first = address.substr(0, cut);
    std::string_view rest = address.substr(cut + 1);
    if (slashes >= kCollectMinSlashes && first.size() <= kCollectLocationMax) {
        tp->internalAddress.location = nonEmpty(first);
        cut = rest.find('/');
        first = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    tp->internalAddress.company = nonEmpty(first);
    tp->internalAddress.department = nonEmpty(rest);
}

}  // namespace

std::unique_ptr<DocPerson> newDocPerson(uint16_t flags) {
    std::unique_ptr<DocPerson> dp(new (std::nothrow) DocPerson());
    if (dp) dp->flags = flags;
    return dp;
}

DocPerson::~DocPerson() { clear(); }

void DocPerson::clear() {
    for (TavrPerson** slot : {&drafted_by, &checked_by, &factual_supervisor, &approved_by, &translated_by,
                              &receiverList, &infoCopyList, &presentList, &notPresentList})
        storeSlot(slot, nullptr);
    setError(nullptr);
}

int DocPerson::init(SgmlScanner* scanner, SgmlNodeList* input, SgmlNodeList* output, Entity* entity,
                    DocnoType type) {
    ss = scanner;
    isnl = input;
    osnl = output;
    en = entity;
    dnotype = type;
    return 1;
}

int DocPerson::countPersons(const TavrPerson* list) const {
    int n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

void DocPerson::freeTavrPerson(TavrPerson* list) { freeChain(list); }

namespace {

// What createTavrPerson reads with: the field texts end at the next tag,
// where the context stack would end the field, so a missing end tag never
// pulls in the rest of the document.
struct PersonWalk {
    SgmlScanner* ss;
    SgmlNodeList* list;
    Entity* en;

    // Text from `from` up to `stop`, entity-expanded when that replaces
    // anything; none when there is no text.
    std::optional<std::string> text(SgmlNode* from, const SgmlNode* stop) const {
        if (isEnd(from) || from == stop) return std::nullopt;
        SgmlNode* p = from;
        std::optional<std::string> raw = ss->getContainerTextEndNode(list, &p, stop);
        if (!raw || !en) return raw;
        char buf[kPersonExpandMax + 1];
        if (en->expandString(buf, raw->c_str(), sizeof buf) > 0) return std::string(buf);
        return raw;
    }

    // The field's text into *field; returns the node that ended it.
    SgmlNode* field(SgmlNode* tag, std::optional<std::string>* field, bool inAddress = false) const {
        SgmlNode* from = afterTag(tag);
        SgmlNode* stop = nextTag(from, inAddress);
        if (std::optional<std::string> t = text(from, stop)) *field = std::move(t);
        return stop;
    }

    // "line" tags each followed by a text, up to any other tag.
    SgmlNode* xtavrAddress(TavrPerson* tp, SgmlNode* p) const {
        tp->addressType = XTAVRADDRESS;
        while (!isEnd(p)) {
            if (!isTag(p) || isExactTag(p, "/line")) {
                p = p->next;
            } else if (isExactTag(p, "line")) {
                SgmlNode* from = afterTag(p);
                p = nextTag(from);
                if (!isEnd(from) && from->state == SPS_FREETEXT)
                    if (std::optional<std::string> t = text(from, p)) tp->XTAVRaddress.line.push_back(std::move(*t));
            } else {
                break;
            }
        }
        return p;
    }

    // One start tag inside a person; null when the tag is not a person
    // field and ends the record.
    SgmlNode* personTag(TavrPerson* tp, SgmlNode* p) const {
        const std::string_view tag = p->text();
        if (sameCaseBlind(tag, "NAME")) return field(p, &tp->name);
        if (sameCaseBlind(tag, "SIGNATURE")) return field(p, &tp->signature);
        if (sameCaseBlind(tag, "INITIALS")) return field(p, &tp->initials);
        if (sameCaseBlind(tag, "PHONE") || sameCaseBlind(tag, "line")) return p->next;
        if (sameCaseBlind(tag, "LOCATION") || sameCaseBlind(tag, "COMPANY") || sameCaseBlind(tag, "DEPARTMENT")) {
            tp->addressType = TAVRADDRESS_INTERNAL;
            TavrInternalAddress& a = tp->internalAddress;
            return field(p, sameCaseBlind(tag, "LOCATION") ? &a.location
                            : sameCaseBlind(tag, "COMPANY") ? &a.company
                                                              : &a.department);
        }
        if (sameCaseBlind(tag, "EXT-ADDR")) {
            SgmlNode* next = afterTag(p);
            if (isExactTag(next, "line")) return xtavrAddress(tp, next);
            tp->addressType = TAVRADDRESS_EXTERNAL;
            return field(p, &tp->ext_addr, true);
        }
        if (sameCaseBlind(tag, "ECN-CODE") || sameCaseBlind(tag, "EXTENSION")) {
            tp->phoneType = TAVRPHONE_ECN;
            return field(p, sameCaseBlind(tag, "ECN-CODE") ? &tp->ECN_phone.ECN_code : &tp->ECN_phone.extension);
        }
        if (sameCaseBlind(tag, "PUBLIC-NO")) {
            tp->phoneType = TAVRPHONE_PUBLIC;
            return field(p, &tp->public_no);
        }
        return nullptr;
    }
};

}  // namespace

TavrPerson* DocPerson::createTavrPerson(SgmlNode** node) {
    if (!ss || !osnl) {
        setError(msg(190, "docperson/2"));
        return nullptr;
    }
    const PersonWalk walk{ss, isnl, en};
    TavrPerson* head = nullptr;
    TavrPerson** tail = &head;
    TavrPerson* current = nullptr;
    auto close = [&] {
        if (!current) return;
        *tail = current;
        tail = &current->next;
        current = nullptr;
    };
    SgmlNode* p = node ? *node : nullptr;
    while (!isEnd(p)) {
        if (!isTag(p)) {
            p = p->next;
            continue;
        }
        const std::string_view tag = p->text();
        if (tag.front() == '/') {
            if (!current) break;
            if (sameCaseBlind(tag.substr(1), "PERSON")) close();
            p = p->next;
            continue;
        }
        if (sameCaseBlind(tag, "PERSON")) {
            close();
            current = new (std::nothrow) TavrPerson();
            if (!current) {
                freeChain(head);
                setError(msg(192, "docperson/4"));
                return nullptr;
            }
            p = afterTag(p);
            continue;
        }
        SgmlNode* next = current ? walk.personTag(current, p) : nullptr;
        if (!next) break;
        p = next;
    }
    const bool atTag = !isEnd(p);
    close();
    if (node) *node = atTag ? p : nullptr;
    if (!head) setError(atTag ? msg(191, "docperson/3") : msg(193, "docperson/5"));
    return head;
}

std::optional<std::string> DocPerson::tavrPersonToString(const TavrPerson* person, int shortForm) {
    if (!person) {
        setError(msg(194, "docperson/6"));
        return std::nullopt;
    }
    std::string line;
    auto add = [&line](const std::optional<std::string>& text, const char* after) {
        if (text) line += *text + after;
    };
    if (person->addressType == TAVRADDRESS_INTERNAL) {
        if (dnotype != DNOTYPE_REGISTRATION) add(person->internalAddress.location, "/");
        add(person->internalAddress.company, "/");
        add(person->internalAddress.department, " ");
    } else if (person->addressType == TAVRADDRESS_EXTERNAL) {
        add(person->ext_addr, " ");
    } else if (person->addressType == XTAVRADDRESS) {
        for (const std::string& l : person->XTAVRaddress.line) line += l + "\n";
    }
    if (shortForm == 1) {
        if (line.size() < static_cast<size_t>(kPersonShortColumn)) line.resize(kPersonShortColumn, ' ');
        add(person->name ? person->name : person->initials, "");
        return line;
    }
    if (dnotype == DNOTYPE_REGISTRATION) {
        if (person->initials) line += " " + *person->initials;
        return line;
    }
    add(person->name, "");
    if (translated_by && translated_by->initials) line += "/" + *translated_by->initials;
    if (person->phoneType == TAVRPHONE_ECN) {
        line += ' ';
        add(person->ECN_phone.ECN_code, " ");
        add(person->ECN_phone.extension, "");
    } else if (person->phoneType == TAVRPHONE_PUBLIC && dnotype == DNOTYPE_REFERENCE) {
        line += ' ';
        add(person->public_no, " ");
    }
    return line;
}

int DocPerson::collectPerson(TavrPerson** slot, const char* text) {
    TavrPerson* tp = new (std::nothrow) TavrPerson();
    if (!tp) {
        setError(msg(192, "docperson/7"));
        return 0;
    }
    tp->addressType = TAVRADDRESS_INTERNAL;
    std::string_view all = skipBlanks(text ? std::string_view(text) : std::string_view());
    all = all.substr(0, kPersonTextMax);
    const size_t blank = all.find(' ');
    int slashes = 0;
    for (char c : all.substr(0, blank)) slashes += c == '/';
    std::string_view part = all;
    if (slashes > 0) {
        collectAddress(tp, all.substr(0, blank), slashes);
        part = blank == std::string_view::npos ? std::string_view() : all.substr(blank + 1);
    }
    collectName(tp, part.substr(0, part.find_first_of("\r\n")));
    if (slot)
        storeSlot(slot, tp);
    else
        freeChain(tp);
    return 1;
}

int DocPerson::veskoCollectPerson(TavrPerson** slot, const char* text) {
    if (!en) {
        setError(msg(196, "docperson/8"));
        return 0;
    }
    std::string_view all = text ? std::string_view(text) : std::string_view();
    all = all.substr(0, kPersonTextMax);
    if (all.empty()) return 1;
    TavrPerson* tp = new (std::nothrow) TavrPerson();
    if (!tp) {
        setError(msg(195, "docperson/9"));
        return 0;
    }
    tp->addressType = TAVRADDRESS_INTERNAL;
    std::optional<std::string>* fields[kVeskoFields] = {&tp->internalAddress.location, &tp->internalAddress.company,
                                                         &tp->internalAddress.department, &tp->name, &tp->signature};
    for (int pos = 0; pos < kVeskoFields; ++pos) {
        const size_t colon = all.find(':');
        std::string_view field = all.substr(0, colon);
        // A field of one character stands for nothing but keeps its position.
        if (field.size() >= 2) {
            if (pos == 3 && field.front() == '(') {
                field = insideParentheses(field);
                tp->flags |= kPersonInParentheses;
            }
            char buf[kPersonFieldMax + 1];
            if (en->reverseString(buf, std::string(field).c_str(), sizeof buf)) *fields[pos] = std::string(buf);
        }
        if (colon == std::string_view::npos) break;
        all.remove_prefix(colon + 1);
    }
    if (slot)
        storeSlot(slot, tp);
    else
        freeChain(tp);
    return 1;
}

int DocPerson::outputTavrPerson(const TavrPerson* person) {
    if (!ss || !osnl) {
        setError(msg(198, "docperson/10"));
        return 0;
    }
    bool ok = true;
    auto tag = [&](const char* name) { ok = ok && ss->appendSgmlNodeTag(osnl, name, {}); };
    auto nl = [&] { ok = ok && ss->appendSgmlNode(osnl, SPS_FREETEXT, "\n"); };
    // An element on its own lines: tag, nl, the value and nl when set, end tag.
    auto element = [&](const char* name, const char* end, const std::optional<std::string>& value) {
        tag(name);
        nl();
        if (value) {
            ok = ok && ss->appendSgmlNode(osnl, SPS_FREETEXT, value->c_str());
            nl();
        }
        tag(end);
    };
    const TavrPerson empty;
    const TavrPerson& tp = person ? *person : empty;
    tag("person");
    nl();
    element("name", "/name", tp.name);
    nl();
    if (tp.initials)
        element("initials", "/initials", tp.initials);
    else
        element("signature", "/signature", tp.signature);
    nl();
    if (tp.addressType == TAVRADDRESS_EXTERNAL) {
        element("ext-addr", "/ext-addr", tp.ext_addr);
        nl();
    } else if (tp.addressType == XTAVRADDRESS) {
        // Lines follow the tag at once: the reader knows the form by a
        // "line" tag as the very next node.
        tag("ext-addr");
        for (const std::string& line : tp.XTAVRaddress.line) {
            tag("line");
            ok = ok && ss->appendSgmlNode(osnl, SPS_FREETEXT, line.c_str());
            tag("/line");
            nl();
        }
        tag("/ext-addr");
        nl();
    } else {
        element("location", "/location", tp.internalAddress.location);
        nl();
        element("company", "/company", tp.internalAddress.company);
        nl();
        element("department", "/department", tp.internalAddress.department);
        nl();
    }
    if (tp.phoneType != TAVRPHONE_NOTSET) {
        tag("phone");
        nl();
        if (tp.phoneType == TAVRPHONE_ECN && tp.ECN_phone.ECN_code) {
            element("ecn-code", "/ecn-code", tp.ECN_phone.ECN_code);
            nl();
            element("extension", "/extension", tp.ECN_phone.extension);
            nl();
        } else if (tp.phoneType == TAVRPHONE_PUBLIC) {
            element("public-no", "/public-no", tp.public_no);
            nl();
        }
        tag("/phone");
        nl();
    }
    tag("/person");
    nl();
    if (!ok) setError("%s", ss->getError());
    return ok ? 1 : 0;
}

}  // namespace ruva
