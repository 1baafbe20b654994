// Node lists written as rows (state, value, flags, level) for the tests of
// the helpers that read lists, and printing into a string.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva::test {

struct NodeRow {
    SgmlParserState state;
    const char* value;
    uint16_t flags = 0;
    uint8_t level = 0;
};

// Shorthands: a closed tag, a tag left open for attributes, a free text.
inline NodeRow tagRow(const char* name) { return {SPS_TAGNAME, name, kNodeTagEnd}; }
inline NodeRow openTagRow(const char* name) { return {SPS_TAGNAME, name}; }
inline NodeRow textRow(const char* text, uint8_t level = 0) { return {SPS_FREETEXT, text, 0, level}; }

// The rows appended to a new list, then an SPS_EOF node; null when a node
// could not be made.
inline std::unique_ptr<SgmlNodeList> listOfRows(SgmlScanner* ss, std::initializer_list<NodeRow> rows,
                                                size_t maxNodes = 0) {
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(maxNodes);
    if (!list) return nullptr;
    for (const NodeRow& row : rows) {
        SgmlNode* node = ss->appendSgmlNode(list.get(), row.state, row.value);
        if (!node) return nullptr;
        node->flags = row.flags;
        node->level = row.level;
    }
    if (!ss->appendSgmlNode(list.get(), SPS_EOF, nullptr)) return nullptr;
    return list;
}

// What printNodeList writes, or "<failed: message>".
inline std::string printed(SgmlScanner* ss, const SgmlNodeList* list) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* file = open_memstream(&buf, &len);
    if (!file) return "<failed: open_memstream>";
    int ok = ss->printNodeList(list, file);
    std::fclose(file);
    std::string text = ok ? std::string(buf, len) : "<failed: " + ss->getError() + ">";
    std::free(buf);
    return text;
}

}  // namespace ruva::test
