// The SGML scanner: turns SGML or HTML text into a flat, singly linked list
// of tokens (free text, tag names, attribute names and values, comments,
// declaration parts). It understands marked sections, the document's own
// parameter entities, short tags and literal elements, and validates
// nothing. The same object carries the node-list operations, the text and
// attribute helpers and the optional XHTML print hook.
//
// Input bytes are unsigned; a mapped file has no NUL after it, so every
// look-ahead checks the bytes left first. Nodes never move: a list grows by
// adding pool heaps, so a node pointer stays valid until the node is freed.
// Values are nullable: null and "" are different values.
//
// Operations give 1 or a pointer on success and 0 or null on failure with
// the error text set; the list stays usable.
//
// Units: sgmlscanner.cpp (object, input, parseStatement, buildNodeList,
// entities), sgmlnodelist.cpp (lists and nodes, printing), sgmlnodeedit.cpp
// (removing, joining, copying, inserting; tag and comment chains),
// sgmltext.cpp (text and attribute helpers), xhtmlvalidate.cpp (the XHTML
// hook).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/pool.h"

namespace ruva {

// Token kind of a node, and the scanner's state for its next token.
enum SgmlParserState : uint8_t {
    SPS_ERROR = 0,
    SPS_EOF = 1,
    SPS_FREETEXT = 2,
    SPS_TAGNAME = 3,
    SPS_TAGATTRSCANNAME = 4,  // inside a tag between attributes; makes no node
    SPS_TAGATTRNAME = 5,
    SPS_TAGATTRVALUE = 6,
    SPS_COMMENT = 7,
    SPS_DECLNAME = 8,
    SPS_DECLTYPE = 9,
    SPS_DECLID = 10,
    SPS_SHORTTAGNAME = 11,  // "<name/>"
};

// Scanner flags (SgmlScanner::flags).
inline constexpr uint16_t kScanQuoted = 0x0001;         // inside a quoted literal
inline constexpr uint16_t kScanHasValue = 0x0002;       // "=" seen for the current attribute
inline constexpr uint16_t kScanApostrophe = 0x0004;     // the quote is an apostrophe (with kScanQuoted)
inline constexpr uint16_t kScanTagClosed = 0x0008;      // moved onto the token's node
inline constexpr uint16_t kScanMarkedSection = 0x0020;  // inside a section opened by "[" in a declaration
inline constexpr uint16_t kScanEmptyTag = 0x0040;       // tag ended "/>"; moved onto the token's node
inline constexpr uint16_t kScanMemoryInput = 0x0080;    // input is the caller's memory, not a mapping
inline constexpr uint16_t kScanFixedLists = 0x0100;     // node lists never grow (set by the creator)
inline constexpr uint16_t kScanShortTagOpen = 0x0200;   // "<name/" open: the next "/" ends it
inline constexpr uint16_t kScanFreeingList = 0x0400;    // a whole list is being freed
inline constexpr uint16_t kScanLiteral = 0x0800;        // free text runs until endMarkedString
inline constexpr uint16_t kScanShortTagEnd = 0x1000;    // the "/" ending a short tag was just read

// Node flags (SgmlNode::flags).
inline constexpr uint16_t kNodeQuoted = 0x0001;         // value quoted; alone: double quotes
inline constexpr uint16_t kNodeHasValue = 0x0002;       // attribute has a value
inline constexpr uint16_t kNodeApostrophe = 0x0004;     // with kNodeQuoted: apostrophes
inline constexpr uint16_t kNodeTagEnd = 0x0008;         // last node of its tag
inline constexpr uint16_t kNodeLevelChange = 0x0010;    // level differs from the previous node's
inline constexpr uint16_t kNodeMarkedSection = 0x0020;  // copied from the scanner; nothing reads it
inline constexpr uint16_t kNodeEmptyTag = 0x0040;       // empty element, printed with " /"

// Limits, in characters without the NUL. Breaking one is fatal for the scan
// except a comment's, which is cut.
inline constexpr size_t kSgmlNameMax = 31;         // tag and attribute names
inline constexpr size_t kSgmlValueMax = 1023;      // attribute values
inline constexpr int kSgmlAttrMax = 15;            // attributes per tag
inline constexpr size_t kSgmlCommentMax = 3071;    // comment text
inline constexpr size_t kSgmlDeclPartMax = 1023;   // declaration name, type, identifier
inline constexpr size_t kSgmlShortTextMax = 31;    // docType, docId, expMacro, shortRefTag, endMarkedString
inline constexpr size_t kSgmlEntityNameMax = 32;   // longest "%name;" name looked up
inline constexpr size_t kSgmlTopElemMax = 31;      // extractSgmlId's top element
inline constexpr size_t kSgmlPubidMax = 79;        // extractSgmlId's public identifier
inline constexpr size_t kSgmlDtdRevMax = 15;       // extractSgmlId's DTD revision
inline constexpr size_t kSgmlContainerTextMax = 4095;  // getContainerText's result
inline constexpr size_t kSgmlFreeTextInitial = 2048;   // first free-text buffer (capacity 2047)

// Node-list sizes.
inline constexpr size_t kNodeListDefault = 8192;  // newNodeList(0)
inline constexpr size_t kNodeListGrow = 8192;     // allocSgmlNode's growth step
inline constexpr size_t kNodeListSlack = 512;     // verifyFreeNodes grows by max(8192, shortfall + 512)
inline constexpr size_t kTagChainNodes = 16;      // room made by allocSgmlNodeTag
inline constexpr size_t kLinkChainNodes = 21;     // room made by splitFreeTextForLink
inline constexpr size_t kCommentChainNodes = 2;   // room made by allocSgmlNodeComment

// ScannerEntity::flags
inline constexpr uint16_t kEntityPermanent = 0x01;  // kept when the input is closed

// One token. Built in place in a pool item and destroyed before the item
// goes back; 24 bytes, so a heap of 8192 nodes is one allocation.
struct SgmlNode {
    SgmlNode* next = nullptr;         // not owning: chains are freed in a loop
    std::unique_ptr<char[]> value;    // owned, NUL-terminated; null allowed
    uint16_t flags = 0;               // kNode*
    uint8_t state = SPS_ERROR;        // SgmlParserState
    uint8_t level = 0;                // marked-section and subset depth

    const char* text() const { return value.get(); }
};
static_assert(sizeof(SgmlNode) == 24);

// Positions for `after`: prepend and append. kInsertAtEnd is never dereferenced.
inline SgmlNode* const kInsertAtStart = nullptr;
inline SgmlNode* const kInsertAtEnd = reinterpret_cast<SgmlNode*>(~uintptr_t{0});

// A node list: nodes in one private pool (flags 3), grown by whole heaps.
// Normally ends with one SPS_EOF node; walks stop there and at null.
// Destroying it frees every value in a loop.
struct SgmlNodeList {
    ~SgmlNodeList();
    SgmlNodeList() = default;
    SgmlNodeList(const SgmlNodeList&) = delete;
    SgmlNodeList& operator=(const SgmlNodeList&) = delete;

    SgmlNode* firstNode = nullptr;
    SgmlNode* lastNode = nullptr;  // last linked node
    std::unique_ptr<Pool> pool;
    // Sum of the heaps asked for; the pool rounds heaps up to whole pages,
    // so its totalItems is more. A node is refused at this count.
    size_t capacity = 0;
};

// A parameter entity of the document ("<!ENTITY % name "text">").
struct ScannerEntity {
    std::string name;
    std::optional<std::string> value;  // first word of the text; none when it had none
    uint16_t flags = 0;                // kEntityPermanent
};

// One open element of the XHTML print hook; the top is lastStartTag.
struct ParentNode {
    ParentNode* parent = nullptr;  // not owning: the stack is freed in a loop
    std::string name;              // own copy of the start tag's name
};

// An attribute for allocSgmlNodeTag: no value makes the value the name and
// ends the list.
struct SgmlTagAttr {
    const char* name;
    std::optional<std::string_view> value;
};

class SgmlScanner;
// Called once per growth of a node list, with the scanner's clientData.
using SgmlReallocCallback = void (*)(SgmlScanner* ss, void* clientData);
// Print hook: 0 = do not print this tag-name node.
using SgmlValidateHook = int (*)(SgmlNode* node, SgmlScanner* ss, FILE* file);

// getError/setError and errmsg come from ErrorText.
class SgmlScanner : public ErrorText {
public:
    // del: closes the input, frees the buffers, the XHTML stack and every entity.
    ~SgmlScanner();
    SgmlScanner(const SgmlScanner&) = delete;
    SgmlScanner& operator=(const SgmlScanner&) = delete;

    // ---- object and input (sgmlscanner.cpp)

    // Message index of the front end's table with its tag, as a format.
    static TableFormat msg(int index, const char* tag) { return msgFormat(index, tag); }

    // Unmaps a mapped input or forgets registered memory, clears the
    // message, starts a new free-text buffer and frees every entity
    // without kEntityPermanent.
    void closeInput();
    // Scans the caller's memory (kept, not copied). Null or 0 bytes: 315.
    int registerInput(const void* data, size_t size);
    // Maps the file read-only; failure: 316 with the system's text and the path.
    int setInput(const char* path);
    // Cursor to the start, state SPS_FREETEXT; clears the token, counts,
    // depth, level, docType, docId, endMarkedString, expMacro, shortRefTag,
    // tagch0, the XHTML stack, the message and the flags other than
    // kScanMemoryInput and kScanFixedLists. Returns 1.
    int initInput();

    // Reads the next token; returns the state the scanner was in when it
    // began and sets scanState for the next call. SPS_ERROR after a broken
    // limit (message set); SPS_EOF for every call once input is exhausted.
    SgmlParserState parseStatement();
    // Scans the whole input into the list; on failure every node of the
    // list is freed and the message set.
    int buildNodeList(SgmlNodeList* list);

    // Appends an entity whose value is the first word of value (none when
    // there is none). 345 on memory failure.
    int addEntity(const char* name, const char* value, uint16_t flags);
    // First entity of that exact name; null when none.
    const ScannerEntity* findEntity(std::string_view name) const;
    // The text with each known "%name;" replaced by its entity's value;
    // none when nothing was replaced.
    std::optional<std::string> expandTextEntities(std::string_view text) const;
    // Frees every entity with all 1, else those without kEntityPermanent.
    void freeEntityList(int all);

    // ---- node lists and nodes (sgmlnodelist.cpp)

    // A list with room for maxNodes nodes (kNodeListDefault when 0).
    std::unique_ptr<SgmlNodeList> newNodeList(size_t maxNodes);
    // Grows the list's capacity to maxNodes by one heap; nodes stay where
    // they are. Calls reallocCallback once. 329, 330, 331.
    int reallocNodeList(SgmlNodeList* list, size_t maxNodes);
    // 1 when minFree nodes are free; else grows by max(8192, shortfall +
    // 512), or 333 under kScanFixedLists.
    int verifyFreeNodes(SgmlNodeList* list, size_t minFree);
    // Frees every value, the pool and the list.
    void freeNodeList(std::unique_ptr<SgmlNodeList> list);
    // Drops empty free texts and between-attribute nodes, joins adjacent
    // free texts of one level. 338-342.
    int optimizeNodeList(SgmlNodeList* list);
    // Copies src from `from` (its first node when null) up to its SPS_EOF
    // node into dst after `after` (kInsertAtStart, kInsertAtEnd or a node).
    int insertCopyNodeList(SgmlNodeList* dst, const SgmlNodeList* src, SgmlNode* after, const SgmlNode* from);
    int appendCopyNodeList(SgmlNodeList* dst, const SgmlNodeList* src);
    // Writes the list back as markup. A failed write, fflush or ferror
    // gives 0 with the system's error text.
    int printNodeList(const SgmlNodeList* list, FILE* file);
    // A value as the node's quote flags say; a value holding its quote is
    // written in the other quote, or with the quote as a character reference.
    int printAttrVal(const SgmlNode* node, FILE* file);

    // Frees the value and returns the node to the pool; does not unlink it.
    void freeSgmlNode(SgmlNodeList* list, SgmlNode* node);
    // Frees `from` and every node after it; null empties the list.
    void freeSgmlNodes(SgmlNodeList* list, SgmlNode* from);
    // Removes the tag whose name node follows `before`, up to its
    // kNodeTagEnd node (before the SPS_EOF node when it has none).
    int removeSgmlNodeTag(SgmlNodeList* list, SgmlNode* before);
    // Removes the first node of that state after *before; with end, every
    // one from there through end. *before becomes the last removed node's
    // predecessor.
    int removeSgmlNodeType(SgmlNodeList* list, SgmlParserState state, SgmlNode** before, SgmlNode* end);

    // An unlinked node: value copied (null stays null), flags 0, level
    // currentLevel. Grows a full list by kNodeListGrow (343 under
    // kScanFixedLists; 344).
    SgmlNode* allocSgmlNode(SgmlNodeList* list, SgmlParserState state, const char* value);
    SgmlNode* appendSgmlNode(SgmlNodeList* list, SgmlParserState state, const char* value);
    // Inserted after the first node from start on flagged kNodeTagEnd; at
    // the end when none.
    SgmlNode* addSgmlNodeAtEndTag(SgmlNodeList* list, SgmlNode* start, SgmlParserState state, const char* value);
    // An unlinked "!--" tag and its comment (cut at kSgmlCommentMax),
    // flagged kNodeTagEnd. Returns the tag node.
    template <class... Args>
    SgmlNode* allocSgmlNodeComment(SgmlNodeList* list, FormatLiteral format, const Args&... args) {
        return allocCommentChain(list, formatChecked(format, args...));
    }
    // An unlinked chain: tag-name node, then name and value nodes per
    // attribute; the last node flagged kNodeTagEnd. Returns the first node.
    SgmlNode* allocSgmlNodeTag(SgmlNodeList* list, const char* tag, std::initializer_list<SgmlTagAttr> attrs);
    SgmlNode* appendSgmlNodeTag(SgmlNodeList* list, const char* tag, std::initializer_list<SgmlTagAttr> attrs);
    // Links a chain after `after` (kInsertAtStart, kInsertAtEnd or a node);
    // currentLevel follows the levels the chain carries.
    int insertSgmlNode(SgmlNodeList* list, SgmlNode* after, SgmlNode* chain);

    // ---- text and attribute helpers (sgmltext.cpp)

    // Text of the element at *node up to its end tag "/" + endtag.
    std::optional<std::string> getContainerText(const SgmlNodeList* list, SgmlNode** node, const char* endtag);
    // Free texts from *node to end (or the first usable one when end is
    // null, or with firstText), joined, cut at kSgmlContainerTextMax; none
    // when no text. The walk never passes end, so with an element's end
    // node the first-text walk stays inside that element.
    std::optional<std::string> getContainerTextEndNode(const SgmlNodeList* list, SgmlNode** node,
                                                       const SgmlNode* end, bool firstText = false);
    // Splits the free text after `before` at position (1 to its length - 1);
    // returns `before`. 346, 347, 348.
    SgmlNode* splitFreeText(SgmlNodeList* list, SgmlNode* before, int position);
    // Makes characters start..end-1 of the free text after `before` a link
    // <a href="link">; returns `before`. 349; a range outside the text 347.
    SgmlNode* splitFreeTextForLink(SgmlNodeList* list, SgmlNode* before, const char* link, int start, int end);
    // Value of attr within the tag at *node; *node moves to the value node.
    const char* getAttr(SgmlNode** node, const char* attr);
    // Tag name (and with attr its attribute's value) from *node on; *node
    // is left at the match, or where the search stopped.
    const char* findTag(const SgmlNodeList* list, SgmlNode** node, const char* tag);
    const char* findTagAttr(const SgmlNodeList* list, SgmlNode** node, const char* tag, const char* attr);
    // Top element, public identifier and DTD revision of a document; each
    // output may be null. 350, 351, 352.
    int extractSgmlId(SgmlNode* firstNode, std::string* topelem, std::string* pubid, std::string* dtdrev);

    // ---- state

    uint16_t flags = 0;     // kScan*
    uint16_t oldflags = 0;  // flags when the current statement began

    const unsigned char* indata = nullptr;  // whole input
    size_t indataSize = 0;
    const unsigned char* inp = nullptr;  // next byte
    ptrdiff_t inc = 0;                   // bytes left
    SgmlParserState scanState = SPS_FREETEXT;
    int pLen = 0;          // length of the token being collected
    int tagAttrCount = 0;  // attributes seen in the current tag
    uint8_t tagDepthLevel = 0;  // marked-section and subset depth
    uint8_t currentLevel = 0;   // level of new nodes
    int tagch0 = 0;             // first letter of the previous tag name; 0 when none

    std::list<ScannerEntity> entities;  // in declaration order
    ParentNode* lastStartTag = nullptr;  // XHTML hook's stack, owned
    SgmlReallocCallback reallocCallback = nullptr;
    void* clientData = nullptr;
    SgmlValidateHook validate = nullptr;  // print hook; null unless a client sets it

    // Tokens. Limits above are kept as lengths, not buffer sizes.
    std::string freeText;
    std::string tagName;
    std::string comment;
    std::string tagAttrNames[kSgmlAttrMax + 1];
    std::string tagAttrValues[kSgmlAttrMax + 1];
    std::string declName, declType, declId;
    std::string docType;          // upper-cased name of the last "<!DOCTYPE"
    std::string docId;            // its last quoted identifier
    std::string endMarkedString;  // ends a literal element, e.g. "</ASIS"
    std::string expMacro;         // last entity-expanded token
    std::string shortRefTag;      // name of the last short tag

private:
    friend std::unique_ptr<SgmlScanner> newSgmlScanner(uint16_t flags);
    SgmlScanner() = default;

    SgmlNode* allocCommentChain(SgmlNodeList* list, std::string text);
    // Frees the XHTML hook's stack in a loop.
    void freeParentNodes();

    bool mapped_ = false;  // indata is this scanner's mapping
};

// A scanner with its token buffers; flags are kept (kScanFixedLists).
// Null when memory fails.
std::unique_ptr<SgmlScanner> newSgmlScanner(uint16_t flags);

// The node after an ignored marked section opened at its IGNORE node: the
// section's own declaration parts stay at its level, its content lies
// deeper. Stops at end (may be null), so a caller's end node is never
// skipped; the list's SPS_EOF node is never passed either.
SgmlNode* skipIgnoredSection(SgmlNode* ignore, const SgmlNode* end);

// ---- XHTML print hook (xhtmlvalidate.cpp)

// Install as SgmlScanner::validate: lower-cases names in place, closes the
// open elements XHTML does not allow the tag in, drops stray end tags and
// marks empty elements. 332 on memory failure; the tag is printed.
int xhtmlValidate(SgmlNode* node, SgmlScanner* ss, FILE* file);
// 0 when tag (an end tag begins "/") may stand under parent; 0 without parent.
int xhtmlForbidden(const ParentNode* parent, const char* tag);
// Flags the tag-name node kNodeEmptyTag when XHTML knows it as empty.
void xhtmlEmpty(SgmlNode* node);

}  // namespace ruva
