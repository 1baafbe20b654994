// The request-action handler of kivoserv: entry dispatches the AC word to
// its action, after the preparations the action expects. It keeps a pointer
// to the request object without owning it; main deletes the handler first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

class CgiHandler;

class KivoHandler : public ErrorText {
public:
    // del: clear, then the marker handler is unregistered from cg (when
    // set). The request object stays.
    virtual ~KivoHandler();
    KivoHandler(const KivoHandler&) = delete;
    KivoHandler& operator=(const KivoHandler&) = delete;

    // Drops the error text.
    void clear();
    // getError and setError (ErrorText) keep the whole text: a cut could
    // split the grey tag span and grey the rest of the page, so callers cut
    // outside arguments.

    // Runs the action named by the word (first character upper-cased, then
    // compared without regard to case; a word beginning ANNO goes to the
    // annotation actions). 1 when the page is ready in cg's buffers or the
    // action answered itself (flag 0x8); 0 with the reason in this
    // handler's error text or in cg's. An unknown word gives message 10
    // naming it; so does a word whose action is not built yet, naming the
    // table's word (the whole word for ANNO...).
    int entry(const char* action);

    // Library identity look-ups (library_identity.cpp), over MLLIST of the
    // field DB on the default session; no DB: message 91, a reply other
    // than 200: message 92, both 0.
    // The hash id of the first level-0 library entry as the field ID; 1
    // also when a folder entry comes first (nothing set), 0 when there is
    // no such entry.
    int getIDbyDbName();
    // The library identity in the first entry's comment as the field
    // LI_Hidden; the result of storing it.
    int getLIbyHiddenID();

    // Further look-ups (library_identity.cpp), virtual for the second
    // edition. Failures set this handler's error text unless said
    // otherwise; a session that cannot be established leaves the request
    // object's text here too. Replies are never kept.
    // The library named by ID, else DB, over the session as it stands (none
    // made): its title and identity from the comment, the entry's ID
    // string; sets isCatEnabled for a comment holding "CAT:". Neither
    // field: message 13 (tagged kivohandler/90 when tagged); not listed:
    // 92; no level-0 library: 13 (kivohandler/92 when tagged).
    virtual int getLibTitleFromServer(std::string& title, std::string& libraryRef, std::string& entryId,
                                      bool tagged = true);
    // That library's collection mark into collection and, for a collection
    // the request has not opened yet, its members as the request's
    // subLibrary with their pairs in pairs, then "|<ID or 0>-<reference or
    // 0>". pairs is emptied first.
    virtual int getSolutionFromServer(int& collection, std::string& pairs);
    // The member FN of the request's library: the library as the server
    // names it and the member's name, one containing ".xl" with the
    // extension ".html". Both are reset first; a null one gives 0. Errors
    // go to the request object (7, 8, 226 or the not-available text).
    virtual int getFullFilename(std::optional<std::string>* library, std::optional<std::string>* file);
    // The hash id of a library identity, its text into hashText when
    // given. 0 when not found: the not-available text with the member's
    // title and display form, or, when no reply came, with the server and
    // the session's reason in the request object's text. With the field
    // SL, the collection it names is loaded into the request first.
    virtual int getHashId(const std::string& reference, std::string* hashText);
    // LI-type field to ID-type field, unless the ID- or DB-type field is
    // there; setCurrentId also sets the request's curId. 0 when not found.
    virtual int resolveLibId(const char* liField, const char* idField, const char* dbField, bool setCurrentId);
    // The library identity in the comment of the library an id or pattern
    // names; none when it is not listed.
    virtual std::optional<std::string> getLifromID(std::string_view id);
    // True when the library's SDI list has no USER-INFO; false also on
    // every failure.
    virtual bool getLibraryType(std::string_view library);
    // The file name of the library a reference names (blanks dropped), its
    // title into title; none, title untouched, when not listed.
    virtual std::optional<std::string> getDBfromLI(std::string& title, std::string_view reference);
    // "<hash>-<identity>" per member of the request's subLibrary, '|'
    // between them, hash 0 for a member the server does not hold.
    virtual int createIDLIPair(std::string& pairs);
    // Set when a comment read by getLibTitleFromServer holds "CAT:".
    int isCatEnabled = 0;

    // The document named by FN (link_action.cpp), over the default
    // session: 1 when the page is in cg's buffers or cg wrote its error page
    // (flag 0x8); 0 with the reason in cg's error text (no session) or in
    // this handler's. A request that names no document by FN is answered
    // with message 10 naming LINK: finding the library's main page is not
    // built yet.
    int linkAction();

    // COMPEXE (compare_action.cpp): the comparison report of the libraries
    // ID and IC, else DB and DC (new first, old second), over the default
    // session; 1 with the page in cg's buffers as "compare.html", 0 with
    // message 13, 14 or 15 in this handler's error text (or cg's when no
    // session could be made).
    int compareAction();

    // The marker handler registered with cg; clientData is the handler.
    // 1 for the ten marker names it knows, 0 for any other (nothing
    // written).
    static int specCallback(void* clientData, std::string_view marker);

    uint16_t flags = 0;
    int isCollection = 0;
    CgiHandler* cg = nullptr;  // not owned

protected:
    friend std::unique_ptr<KivoHandler> newKivoHandler(CgiHandler* cg);
    explicit KivoHandler(CgiHandler* request) : cg(request) {}
};

// The handler for cg; with cg given, specCallback is registered with the
// handler as client data. Null when it cannot be made.
std::unique_ptr<KivoHandler> newKivoHandler(CgiHandler* cg);

}  // namespace ruva
