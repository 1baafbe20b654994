// The XHTML print hook: keeps printed HTML well-formed by closing the open
// elements that XHTML 1.0 Transitional does not allow a tag inside.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "common/text.h"

namespace ruva {
namespace {

// Content classes, one bit each; an element may be in several.
enum : unsigned {
    kPhrase = 1u << 0,
    kFontStyle = 1u << 1,
    kSpecial = 1u << 2,
    kInlineForms = 1u << 3,
    kAnchor = 1u << 4,  // a: inline on its own
    kMisc = 1u << 5,
    kHeading = 1u << 6,
    kLists = 1u << 7,
    kBlockText = 1u << 8,
    kBlockOwn = 1u << 9,     // div, fieldset, isindex, p, table
    kFormElement = 1u << 10,  // the element form, part of Flow only
    kPreOwn = 1u << 11,       // pre's own picks outside phrase and inlineforms
};

constexpr unsigned kXhtmlInline = kPhrase | kFontStyle | kSpecial | kInlineForms | kAnchor;
constexpr unsigned kInline = kXhtmlInline | kMisc;
constexpr unsigned kBlock = kBlockOwn | kHeading | kLists | kBlockText;
constexpr unsigned kFlow = kBlock | kFormElement | kXhtmlInline | kMisc;
constexpr unsigned kPreContent = kPreOwn | kPhrase | kInlineForms;

struct ElementClass {
    const char* name;
    unsigned classes;
};

constexpr ElementClass kElements[] = {
    {"a", kAnchor | kPreOwn},
    {"abbr", kPhrase},
    {"acronym", kPhrase},
    {"address", kBlockText},
    {"applet", kSpecial},
    {"b", kFontStyle | kPreOwn},
    {"basefont", kFontStyle},
    {"bdo", kSpecial | kPreOwn},
    {"big", kFontStyle},
    {"blockquote", kBlockText},
    {"br", kSpecial | kPreOwn},
    {"button", kInlineForms},
    {"center", kBlockText},
    {"cite", kPhrase},
    {"code", kPhrase},
    {"del", kMisc},
    {"dfn", kPhrase},
    {"div", kBlockOwn},
    {"dl", kLists},
    {"em", kPhrase},
    {"fieldset", kBlockOwn},
    {"font", kFontStyle},
    {"form", kFormElement},
    {"h1", kHeading},
    {"h2", kHeading},
    {"h3", kHeading},
    {"h4", kHeading},
    {"h5", kHeading},
    {"h6", kHeading},
    {"hr", kBlockText},
    {"i", kFontStyle | kPreOwn},
    {"iframe", kSpecial},
    {"img", kSpecial},
    {"input", kInlineForms},
    {"ins", kMisc},
    {"isindex", kBlockOwn},
    {"kbd", kPhrase},
    {"label", kInlineForms},
    {"map", kSpecial | kPreOwn},
    {"noframes", kBlockText},
    {"noscript", kMisc},
    {"object", kSpecial},
    {"ol", kLists},
    {"p", kBlockOwn},
    {"pre", kBlockText},
    {"q", kPhrase},
    {"s", kFontStyle | kPreOwn},
    {"samp", kPhrase},
    {"script", kMisc},
    {"select", kInlineForms},
    {"small", kFontStyle},
    {"span", kSpecial | kPreOwn},
    {"strike", kFontStyle},
    {"strong", kPhrase},
    {"sub", kPhrase},
    {"sup", kPhrase},
    {"table", kBlockOwn},
    {"textarea", kInlineForms},
    {"tt", kFontStyle | kPreOwn},
    {"u", kFontStyle | kPreOwn},
    {"ul", kLists},
    {"var", kPhrase},
};

constexpr const char* kEmptyElements[] = {"area", "base", "br", "col", "hr", "img", "input", "link", "meta", "param"};

unsigned classesOf(std::string_view name) {
    for (const ElementClass& e : kElements) {
        if (name == e.name) return e.classes;
    }
    return 0;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) {
        if (name == n) return true;
    }
    return false;
}

// A table child starting with c or t must be one of the table's own parts;
// anything else is left alone.
bool tableForbids(std::string_view tag) {
    if (tag.starts_with('c')) return !isOneOf(tag, {"caption", "col", "colgroup"});
    if (tag.starts_with('t')) return !isOneOf(tag, {"thead", "tfoot", "tbody", "tr"});
    return false;
}

bool pushParent(SgmlScanner* ss, const char* name) {
    ParentNode* entry = new (std::nothrow) ParentNode;
    if (!entry) return false;
    try {
        entry->name = name;
    } catch (const std::bad_alloc&) {
        delete entry;
        return false;
    }
    entry->parent = ss->lastStartTag;
    ss->lastStartTag = entry;
    return true;
}

void popParent(SgmlScanner* ss) {
    ParentNode* top = ss->lastStartTag;
    ss->lastStartTag = top->parent;
    delete top;
}

}  // namespace

void SgmlScanner::freeParentNodes() {
    while (lastStartTag) popParent(this);
}

int xhtmlForbidden(const ParentNode* parent, const char* tag) {
    if (!parent || !tag) return 0;
    std::string_view name(tag);
    if (name.starts_with('/')) return name.substr(1) != parent->name;
    const std::string& p = parent->name;
    unsigned need = 0;
    if (p == "caption" || p == "p" || p == "dt") {
        need = kInline;
    } else if (p == "pre") {
        need = kPreContent;
    } else if (p == "dd" || p == "li" || p == "td" || p == "th") {
        need = kFlow;
    } else if (p == "dl") {
        return !isOneOf(name, {"dt", "dd"});
    } else if (p == "tr") {
        return !isOneOf(name, {"td", "th"});
    } else if (p == "table") {
        return tableForbids(name);
    } else {
        return 0;
    }
    return (classesOf(name) & need) == 0;
}

void xhtmlEmpty(SgmlNode* node) {
    if (!node || !node->text()) return;
    for (const char* name : kEmptyElements) {
        if (std::strcmp(node->text(), name) == 0) {
            node->flags |= kNodeEmptyTag;
            return;
        }
    }
}

int xhtmlValidate(SgmlNode* node, SgmlScanner* ss, FILE* file) {
    char* name = node ? node->value.get() : nullptr;
    if (!name || name[0] == '!' || name[0] == '?' || name[0] == '-') return 1;
    lstrlwr(name);
    // Close the open elements that may not hold the tag, innermost first;
    // nothing is written until an element that holds it is found.
    std::string pending;
    int toClose = 0;
    const ParentNode* parent = ss->lastStartTag;
    for (; parent && xhtmlForbidden(parent, name); parent = parent->parent, ++toClose) {
        pending += "</";
        pending += parent->name;
        pending += '>';
    }
    const bool endTag = name[0] == '/';
    // An end tag that no open element answers is stray: drop it unprinted.
    if (!parent && endTag) return 0;
    if (!pending.empty()) std::fwrite(pending.data(), 1, pending.size(), file);
    while (toClose-- > 0) popParent(ss);
    xhtmlEmpty(node);
    if (endTag) {
        popParent(ss);
    } else if (!(node->flags & kNodeEmptyTag) && !pushParent(ss, name)) {
        ss->setError(SgmlScanner::msg(332, "sgmlscanner/39"));
    }
    return 1;
}

}  // namespace ruva
