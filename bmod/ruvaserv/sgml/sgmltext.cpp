// Reading markup out of a node list: element text, attributes, tags,
// free-text splits for links and the document's type.
#include <cstring>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "common/text.h"
#include "common/text_clean.h"
#include "common/text_view.h"

namespace ruva {
namespace {

bool sameCaseBlind(const char* value, std::string_view word) {
    if (!value) return false;
    std::string_view v(value);
    return v.size() == word.size() && startsCaseBlindAt(v, 0, word);
}

bool isEnd(const SgmlNode* node) { return !node || node->state == SPS_EOF; }

bool isTagName(const SgmlNode* node, std::string_view tag) {
    return node->state == SPS_TAGNAME && sameCaseBlind(node->text(), tag);
}

bool isFreeTextWithValue(const SgmlNode* node) {
    return node && node->state == SPS_FREETEXT && node->text();
}

// The value node of attr in the tag from `from` on, up to the node that
// closes the tag; null when the tag has no such attribute with a value.
SgmlNode* attrValueNode(SgmlNode* from, const char* attr) {
    for (SgmlNode* p = from; !isEnd(p); p = p->next) {
        if (p->flags & kNodeTagEnd) break;
        if (p->state == SPS_TAGATTRNAME && sameCaseBlind(p->text(), attr) && p->next &&
            p->next->state == SPS_TAGATTRVALUE)
            return p->next;
    }
    return nullptr;
}

// Appends one free text, cleaned, with the blank rule of the joined text.
void appendPiece(std::string& text, const char* raw, bool prevEndedSpace) {
    std::string cleaned(std::strlen(raw) + 1, '\0');
    removeControls(cleaned.data(), raw, static_cast<int>(cleaned.size()));
    cleaned.resize(std::strlen(cleaned.c_str()));
    if (cleaned.empty()) return;
    const bool beginsSpace = isAsciiSpace(static_cast<unsigned char>(raw[0]));
    if (!text.empty() && text.back() != ' ' && (beginsSpace || prevEndedSpace) && text.size() < kSgmlContainerTextMax)
        text += ' ';
    text.append(cleaned, 0, kSgmlContainerTextMax - text.size());
}

// A copy of node's value from `from` for `count` bytes as a new free text at
// node's level; null with the allocator's message on failure.
SgmlNode* textPart(SgmlScanner* ss, SgmlNodeList* list, const SgmlNode* node, size_t from, size_t count) {
    std::string part(node->text() + from, count);
    SgmlNode* n = ss->allocSgmlNode(list, SPS_FREETEXT, part.c_str());
    if (n) {
        n->level = node->level;
        n->flags = node->flags & kNodeMarkedSection;
    }
    return n;
}

void freeChain(SgmlScanner* ss, SgmlNodeList* list, SgmlNode* head) {
    while (head) {
        SgmlNode* next = head->next;
        ss->freeSgmlNode(list, head);
        head = next;
    }
}

// Links the unlinked chains in order in place of node, the node after
// `before`, at its level and with its level mark and closing marks; frees node.
void replaceByChains(SgmlScanner* ss, SgmlNodeList* list, SgmlNode* before, SgmlNode* node, SgmlNode* const* chains,
                     int count) {
    SgmlNode* prev = before;
    for (int i = 0; i < count; ++i) {
        prev->next = chains[i];
        for (SgmlNode* n = chains[i]; n; n = n->next) {
            n->level = node->level;
            prev = n;
        }
    }
    prev->next = node->next;
    if (list->lastNode == node) list->lastNode = prev;
    chains[0]->flags |= node->flags & kNodeLevelChange;
    prev->flags |= node->flags & (kNodeTagEnd | kNodeEmptyTag);
    ss->freeSgmlNode(list, node);
}

// The upper-cased first max characters of value.
std::string upperCut(const char* value, size_t max) {
    std::string s(value, strnlen(value, max));
    lstrupr(s.data());
    return s;
}

// The DTD revision in a public identifier: its last blank-separated word
// up to the end of its leading letters, digits and dots, when that begins
// R, P or V; "" otherwise.
std::string dtdRevision(std::string_view id) {
    while (!id.empty() && static_cast<unsigned char>(id.back()) <= ' ') id.remove_suffix(1);
    size_t start = id.size();
    while (start > 0 && static_cast<unsigned char>(id[start - 1]) > ' ') --start;
    std::string_view word = id.substr(start);
    size_t n = 0;
    while (n < word.size() && (isAsciiAlnum(static_cast<unsigned char>(word[n])) || word[n] == '.')) ++n;
    word = word.substr(0, n);
    if (word.empty()) return {};
    unsigned char first = asciiUpper(static_cast<unsigned char>(word[0]));
    if (first != 'R' && first != 'P' && first != 'V') return {};
    return std::string(word.substr(0, kSgmlDtdRevMax));
}

}  // namespace

SgmlNode* skipIgnoredSection(SgmlNode* ignore, const SgmlNode* end) {
    SgmlNode* p = ignore->next;
    while (!isEnd(p) && p != end && p->level == ignore->level &&
           (p->state == SPS_DECLTYPE || p->state == SPS_DECLID))
        p = p->next;
    while (!isEnd(p) && p != end && p->level > ignore->level) p = p->next;
    return p;
}

std::optional<std::string> SgmlScanner::getContainerText(const SgmlNodeList* list, SgmlNode** node,
                                                         const char* endtag) {
    if (!node) return std::nullopt;
    const SgmlNode* end = nullptr;
    if (endtag && *endtag) {
        std::string endName = std::string("/") + endtag;
        for (const SgmlNode* p = *node ? *node : (list ? list->firstNode : nullptr); !isEnd(p); p = p->next) {
            if (isTagName(p, endName)) {
                end = p;
                break;
            }
        }
    }
    return getContainerTextEndNode(list, node, end);
}

std::optional<std::string> SgmlScanner::getContainerTextEndNode(const SgmlNodeList* list, SgmlNode** node,
                                                                const SgmlNode* end, bool firstText) {
    if (!node) return std::nullopt;
    SgmlNode* p = *node ? *node : (list ? list->firstNode : nullptr);
    std::string text;
    bool prevEndedSpace = false;
    while (!isEnd(p) && p != end && text.size() < kSgmlContainerTextMax) {
        if (p->state == SPS_DECLNAME && sameCaseBlind(p->text(), "IGNORE")) {
            p = skipIgnoredSection(p, end);
            continue;
        }
        const char* raw = p->text();
        if (p->state == SPS_FREETEXT && raw && *raw) {
            appendPiece(text, raw, prevEndedSpace);
            prevEndedSpace = isAsciiSpace(static_cast<unsigned char>(raw[std::strlen(raw) - 1]));
            *node = p;
            // Without an end node one usable text is the element's text; a
            // leading lone line feed or blank is not yet usable.
            if ((!end || firstText) && (text.size() > 1 || !isAsciiControl(static_cast<unsigned char>(raw[0])))) break;
        } else if (p->state == SPS_TAGNAME && !text.empty() && text.back() != ' ' && raw && raw[0] != '?' &&
                   text.size() < kSgmlContainerTextMax) {
            text += ' ';
        }
        p = p->next;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

SgmlNode* SgmlScanner::splitFreeText(SgmlNodeList* list, SgmlNode* before, int position) {
    SgmlNode* node = before ? before->next : nullptr;
    if (!isFreeTextWithValue(node)) {
        setError(msg(346, "sgmlscanner/32"));
        return nullptr;
    }
    const size_t len = std::strlen(node->text());
    if (position <= 0 || static_cast<size_t>(position) >= len) {
        setError(msg(347, "sgmlscanner/33"), position);
        return nullptr;
    }
    SgmlNode* tail = textPart(this, list, node, position, len - position);
    if (!tail) {
        setError(msg(348, "sgmlscanner/34"));
        return nullptr;
    }
    // The closing marks the text carried belong after its second part.
    tail->flags = node->flags & ~kNodeLevelChange;
    node->flags &= ~(kNodeTagEnd | kNodeEmptyTag);
    node->value[position] = '\0';
    tail->next = node->next;
    node->next = tail;
    if (list->lastNode == node) list->lastNode = tail;
    return before;
}

SgmlNode* SgmlScanner::splitFreeTextForLink(SgmlNodeList* list, SgmlNode* before, const char* link, int start,
                                            int end) {
    SgmlNode* node = before ? before->next : nullptr;
    if (!isFreeTextWithValue(node)) {
        setError(msg(349, "sgmlscanner/35"));
        return nullptr;
    }
    const size_t len = std::strlen(node->text());
    if (start < 0 || end <= start || static_cast<size_t>(end) > len) {
        setError(msg(347, "sgmlscanner/33"), start < 0 || end <= start ? start : end);
        return nullptr;
    }
    // Nodes never move, so `before` stays valid across the growth.
    if (!verifyFreeNodes(list, kLinkChainNodes)) return nullptr;
    SgmlNode* parts[5];
    int count = 0;
    auto add = [&](SgmlNode* part) {
        if (part) parts[count++] = part;
        return part != nullptr;
    };
    // The text's closing marks need a node after the link: an empty text
    // when nothing of it follows the link.
    const bool tail = static_cast<size_t>(end) < len || (node->flags & kNodeTagEnd);
    const bool ok = (start == 0 || add(textPart(this, list, node, 0, start))) &&
                    add(allocSgmlNodeTag(list, "a", {{"href", std::string_view(link ? link : "")}})) &&
                    add(textPart(this, list, node, start, end - start)) && add(allocSgmlNodeTag(list, "/a", {})) &&
                    (!tail || add(textPart(this, list, node, end, len - end)));
    if (!ok) {
        for (int i = 0; i < count; ++i) freeChain(this, list, parts[i]);
        return nullptr;
    }
    replaceByChains(this, list, before, node, parts, count);
    return before;
}

const char* SgmlScanner::getAttr(SgmlNode** node, const char* attr) {
    if (!node || !*node || !attr) return nullptr;
    SgmlNode* value = attrValueNode(*node, attr);
    if (!value) return nullptr;
    *node = value;
    return value->text();
}

const char* SgmlScanner::findTag(const SgmlNodeList* list, SgmlNode** node, const char* tag) {
    return findTagAttr(list, node, tag, nullptr);
}

const char* SgmlScanner::findTagAttr(const SgmlNodeList* list, SgmlNode** node, const char* tag, const char* attr) {
    SgmlNode* p = node && *node ? *node : (list ? list->firstNode : nullptr);
    if (!tag) p = nullptr;
    for (; !isEnd(p); p = p->next) {
        if (!isTagName(p, tag)) continue;
        if (!attr) {
            if (node) *node = p;
            return p->text();
        }
        if (SgmlNode* value = attrValueNode(p, attr)) {
            if (node) *node = value;
            return value->text();
        }
    }
    if (node) *node = p;
    return nullptr;
}

int SgmlScanner::extractSgmlId(SgmlNode* firstNode, std::string* topelem, std::string* pubid, std::string* dtdrev) {
    for (std::string* out : {topelem, pubid, dtdrev}) {
        if (out) out->clear();
    }
    if (!firstNode) {
        setError(msg(350, "sgmlscanner/36"));
        return 0;
    }
    std::string top;
    for (SgmlNode* p = firstNode; !isEnd(p); p = p->next) {
        const char* name = p->text();
        if (p->state == SPS_TAGNAME && name) {
            if (name[0] == '?' || (name[0] == '!' && name[1] == '-')) continue;
            if (name[0] == '/') break;
            if (sameCaseBlind(name, "!DOCTYPE")) {
                SgmlNode* decl = p->next;
                if (!decl || decl->state != SPS_DECLNAME || !decl->text()) {
                    setError(msg(351, "sgmlscanner/37"));
                    return 0;
                }
                top = upperCut(decl->text(), kSgmlTopElemMax);
            } else if (top.empty() && isAsciiAlpha(static_cast<unsigned char>(name[0]))) {
                top = upperCut(name, kSgmlTopElemMax);
            }
        } else if (p->state == SPS_DECLID && !top.empty() && name) {
            if (pubid) pubid->assign(name, strnlen(name, kSgmlPubidMax));
            if (dtdrev) *dtdrev = dtdRevision(name);
            break;
        }
    }
    if (top.empty()) {
        setError(msg(352, "sgmlscanner/38"));
        return 0;
    }
    if (topelem) *topelem = top;
    return 1;
}

}  // namespace ruva
