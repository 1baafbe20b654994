// The search functions of one request: the index search loop and the
// pattern operations it applies, over the request's SearchData.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/search/search_data.h"
#include "bmod/ruvaserv/search/synopsis.h"

namespace ruva {

class CgiHandler;
class UzResponse;
class UzSession;
struct UzKnownListEntry;

class SearchFunctions : public SearchErrorText {
public:
    SearchFunctions(const SearchFunctions&) = delete;
    SearchFunctions& operator=(const SearchFunctions&) = delete;

    // Drops the error text.
    void clear() { errmsg.clear(); }

    // The pattern operations (pattern_prep.h) with this object's modes;
    // failures set this object's error text.
    int srchPattCleanup(std::string& pattern);  // kwd_check and cleanupPhrase
    int srchPattSyntaxChk(std::string_view pattern);
    int srchPattComplete(std::string& pattern, int whrAdd);
    int handleDocnoRev(std::string& pattern);
    int preparePhraseSearch(std::string& pattern);  // sets sd.isPhraseSearch
    int processJapaneseFulltextExpression(std::string& pattern, std::vector<std::string>& tokens);

    // SP, else the cookie showContext, begins with "1": hits get contexts.
    bool contextsWanted() const;

    // The phrase filter (phrase_filter.h) over the request's contexts
    // setting and ST; 0 for a null phrase.
    int rmvDocsPhraseSearch(UzSession& session, UzResponse& reply, const char* phrase);

    // makeSynopsis (synopsis.h) with japaneseText and sd.isPhraseSearch;
    // none for a null context.
    std::optional<std::string> makeSynopsis(int isKwd, const char* context,
                                            const std::vector<ContextWord>& words);

    // Every chosen type searched over the default session, then over each
    // known server; the hits joined into reply (null when none). 1, or 0
    // with the error text set; reply keeps what was gathered either way.
    // A failed exchange before any hit fails the search (message 86);
    // after one the hits gathered stand. Writes the fields PA, PAOR, PACW.
    int ruvxSearchLoop(std::unique_ptr<UzResponse>& reply, const UzKnownListEntry* knownServers);

    // One QXSRCH over the default session of a completed copy of pattern
    // in index of library (taken as given), limit 500. Null with message
    // 86, 7 or 8 set, or the completion's.
    std::unique_ptr<UzResponse> makeRuvxSearch(std::string_view index, std::string_view pattern,
                                               std::string_view library);

    SearchData& sd;               // not owned
    CgiHandler& cg;               // not owned
    unsigned searchCount = 0;     // index searches sent in this request
    unsigned searchSessions = 0;  // sessions used; 1 for the default one

    bool kwd_check = false;      // keyword mode of the clean-up, around catchword preparation
    bool cleanupPhrase = false;  // the clean-up's phrase step; set for the full-text group only
    bool japaneseText = false;   // set for every non-empty pattern; read by the synopsis
    // The loop's context words: sptok1 to sptok4.
    std::array<ContextWord, 4> sptok{};

private:
    friend std::unique_ptr<SearchFunctions> newSearchFunctions(SearchData& sd, CgiHandler& cg);
    SearchFunctions(SearchData& data, CgiHandler& request) : sd(data), cg(request) {}
};

// Null when it cannot be made.
std::unique_ptr<SearchFunctions> newSearchFunctions(SearchData& sd, CgiHandler& cg);

}  // namespace ruva
