// The phrase filter: the word indexes answer a phrase with the documents
// holding all its words; only hits whose text holds the phrase itself stay.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruva {

class UzResponse;
class UzSession;

struct PhraseFilterMode {
    bool documentSearch = false;  // ST "docsearch": stop checking after 3000 kept
    bool contexts = false;        // SP or cookie showContext begins with "1"
};

// Filters reply's hits in place (dropped entries unlinked, order kept);
// body-text hits are read with session.getFileData by their ID, else
// database. 1; 0 for an allocation failure.
int rmvDocsPhraseSearch(UzSession& session, UzResponse& reply, std::string_view phrase, PhraseFilterMode mode);

// One document's HTML: none when the phrase does not stand in its plain
// text between delimiters; else the context (HTML, "" without contexts).
std::optional<std::string> phraseInDocument(std::string_view html, std::string_view phrase, bool contexts);

// A topic hit's "title|number|" pairs whose title holds the phrase,
// written the same way; "" when none is left.
std::string keepTopicPairs(std::string_view pairs, std::string_view phrase);

// Non-zero when docno occurs case-blind in the file name without its dots
// and with "_" as "/".
int checkDochit(std::string_view filename, std::string_view docno);

}  // namespace ruva
