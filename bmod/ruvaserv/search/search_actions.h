// The search front end's per-request object: the dispatcher and the link
// action make one, call one operation and delete it. For now it fetches a
// document named by FN; the searches come later.
#pragma once

#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

class CgiHandler;
class KivoHandler;

class SearchActions : public ErrorText {
public:
    SearchActions(const SearchActions&) = delete;
    SearchActions& operator=(const SearchActions&) = delete;

    // Drops the error text.
    void clear() { errmsg.clear(); }

    // The document of the field FN into cg's document buffer. 1 when it is
    // there, or when it could not be fetched: then cg has written message
    // 83 as its error page (flag 0x8). With a field CH, FN is not fetched:
    // cg answers with a redirection to the file and the chapter
    // (locationDbFile), 1. 0 when the request names no document this
    // object can fetch yet (no FN); nothing is written then.
    int getKivoDocument(KivoHandler& handler);

    // cg's retrieveFile of fileName in the request's library
    // (getLibraryName); its result, the error text in cg.
    int retrieveFile(std::string& fileName);

    CgiHandler* cg = nullptr;  // not owned

private:
    friend std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg);
    explicit SearchActions(CgiHandler* request) : cg(request) {}
};

// Null when it cannot be made.
std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg);

}  // namespace ruva
