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

#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/cgi/checked_format.h"

namespace ruva {

class CgiHandler;
class SearchActions;
class UzResponse;
class UzSession;

// The paper of PRINTA4 and PRINTUS.
enum PrintPaperSize { PSIZE_A4 = 0, PSIZE_US = 1 };

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
    // action wrote its answer (flag 0x8); 0 only when nothing was written
    // to the CGI output, with the reason in this handler's error text or in
    // cg's (message 476 naming the word when both are empty). An unknown
    // word gives message 10 naming it.
    virtual int entry(const char* action);

    // Library identity look-ups (library_identity.cpp), over MLLIST of the
    // field DB on the default session; no DB: message 91, a reply other
    // than 200: message 92, both 0.
    // The hash id of the first level-0 library entry as the field ID; 1
    // also when a folder entry comes first (nothing set), 0 when there is
    // no such entry.
    virtual int getIDbyDbName();
    // The library identity in the first entry's comment as the field
    // LI_Hidden; the result of storing it.
    virtual int getLIbyHiddenID();

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

    // LINK, BODY, EXPORT, SUB_MAIN (link_action.cpp), over the default
    // session: a wildcard FN redirected to the member it matches (else
    // message 471 as the page); the document the lookup finds; else the
    // main page of the library ID, else DB, names (ID, DB, FN and AC set
    // for it); no library: the start page. 1 when the page is in cg's
    // buffers or cg wrote the answer (flag 0x8); 0 with the reason in cg's
    // error text (no session) or in this handler's (message 0, or the
    // library is not here: 17-20).
    virtual int linkAction();
    // The link action's document lookup: the edition's search object runs
    // getKivoDocument. 1 answered, 0 not answered (its error text dropped),
    // -1 no search object (message 0 with "SearchActions", kivohandler/78).
    virtual int fetchLinkDocument();
    // The tag of message 471 (wildcard FN not found); null for none.
    virtual const char* linkNotFoundTag();

    // COMPEXE (compare_action.cpp): the comparison report of the libraries
    // ID and IC, else DB and DC (new first, old second), over the default
    // session; 1 with the page in cg's buffers as "compare.html", 0 with
    // message 13, 14 or 15 in this handler's error text (or cg's when no
    // session could be made).
    virtual int compareAction();

    // Dispatcher steps (kivohandler.cpp, search_arguments.cpp). Each gives
    // 1 to go on and 0 with the reason set, unless said otherwise.
    // resolveLibId for LI, ID, DB (curId set); with noIdTag, message 13
    // tagged so when none of LI, ID, DB is left; then getIDbyDbName when DB
    // has a value, the request's earlier error text kept.
    virtual int resolveLibrary(const char* noIdTag);
    // resolveLibId for LI, ID, DB and then LC, IC, DC, curId untouched.
    virtual int resolveBoth();
    // The search object's operation, its error text becoming this
    // handler's on 0; the result is entry's.
    enum class SearchOperation { kAdvanced, kDocument, kSearch };
    virtual int runSearchOperation(SearchActions& sa, SearchOperation operation);
    // SEARCH's row: its field preparation, then the search. entry's result.
    virtual int searchArguments();
    // SEARCHEXT's row: its field preparation, then the main page or the
    // search. entry's result.
    virtual int externalSearchArguments();
    // Whether the library the field names (SL or TSL) is a collection,
    // asked with MLLIST "[<value>]"; sets isValSL and removes the field
    // when it is not one. A session failure leaves cg's text here and the
    // request goes on. Returns isValSL.
    virtual int collectionCheck(const char* field);
    // The list search (STB "2") over TSL and TLL; external for SEARCHEXT
    // (LLF and STB set too). 0 with message 233 (kivohandler/369) when no
    // library of TLL is known.
    virtual int listSearch(bool external);
    // The library ids of the blank-separated references, each followed by
    // a blank, whole ids within 255 characters (tokens after the first id
    // that does not fit are not looked up); no quotes. 1 when not empty.
    virtual int buildLibIds(const std::string& references, std::string& libIds);
    // CONREF (topic_content.cpp): the topic's HTML fragment, or the failure
    // fragment, as cg's page; 0 with message 10 naming CONREF when no
    // session can be made.
    virtual int topicContent();

    // The actions (one file each, named after them). 1 with the page in
    // cg's buffers or the answer written (flag 0x8), 0 with the reason in
    // this handler's error text or cg's.
    // IMAGE (image_action.cpp): the member FN written as it is.
    virtual int imageAction();
    // PRINT (print_action.cpp): the document as PostScript through the
    // configured print command, written with its own header.
    virtual int printAction();
    // PRINTA4, PRINTUS: PRINT with the paper size set.
    virtual int locationPrint(PrintPaperSize size);
    // INFO (info_page.cpp): the document's information page.
    virtual int infoAction();
    // The library's frameset (main_page.cpp): mode 0 entry page, the
    // follow-up request in setLowerFrame; mode 3 the request's own link.
    virtual int mainPageAction(int mode);
    // The script block of the main page, opened with its script element;
    // 0 without ID, LI and DB (nothing after the opening line).
    virtual int allJSFunctions(const std::string& idString, const std::string& documentId, int isSubLibrary,
                               const std::string& title, int validSL, int presentLL, int blacklistedLib);
    // TOOLBAR (toolbar_page.cpp): the toolbar frame's page.
    virtual int toolbarAction();
    // The library drop-down's options appended to the page
    // (library_dropdown.cpp).
    virtual int PrintDropDownMenu();
    // DOCNOTREE (doc_frameset.cpp): the document frameset without a tree.
    virtual int docNoTreeAction();

    // Template markers (marker_callback.cpp, library_lists.cpp,
    // server_markers.cpp, compare_pages.cpp, library_pages.cpp): each writes
    // at the marker's place in cg's output. 1 done (a message written in
    // the page counts), 0 with the reason set.
    // listType 0: table rows, 1: drop-down options. server "default" (any
    // case) or "address:port"; pattern a wildcard or an "@sort_" word.
    virtual int outputListDb(const std::string& server, const std::string& pattern, int listType);
    // order 1: by comment (else name) case-blind, 2: newest first; stable.
    // Another order: message 90.
    virtual int sortListDb(UzResponse& reply, int order);
    // The table rows, and the drop-down options, of the entries pattern
    // matches; mpText is "" or "&MP=<value>".
    virtual int normalListDb(UzSession& session, UzResponse& reply, const std::string& pattern,
                             const std::string& mpText);
    virtual int compareListDb(UzSession& session, UzResponse& reply, const std::string& pattern,
                              const std::string& mpText);
    virtual int outputListServ();
    virtual int outputServName();
    virtual int outputProgInfo();
    virtual int outputDbName();
    virtual int outputUzAddr();
    virtual int outputRootID();
    // The "compare" marker: button, selection form or nothing, by AC.
    virtual int outputCompare(const std::string& server, const std::string& pattern);
    // The "kivomain" marker: the query of a link back to the library's main
    // frame; the request's fields stay as they are.
    virtual int outputKivoDoc();

    // Pages (compare_pages.cpp, search_wait_page.cpp, language_switch.cpp,
    // library_pages.cpp, script_pages.cpp, tree_frame.cpp): 1 with the page
    // in cg's buffers, 0 with the reason set (or none, for entry's generic
    // message).
    // The library's own index.html; a name without a dot that is not all
    // digits gets ".kvo".
    virtual int outputDatabaseMainPage(const char* dbValue);
    virtual int externalLinkAction();  // CHNGLANG
    virtual int outputAbout();
    virtual int BookmarkAction();
    virtual int outputCompareSelect();           // COMPSEL
    virtual int outputCompareMessage();          // COMPMSG, COMPEXT, COMPARE
    virtual int outputSearchMessage(const char* kind);  // "SEARCHMSG" or "SORTMSG"
    virtual int writeJSFunctions();              // JSNOTESINLINE
    virtual int writeDummyTreeFrame();           // TREEFRAME
    virtual int writeInstantResultsPage();       // INSTANT

    // The annotation actions (pending_actions.cpp): until built, 0 with
    // message 10 naming the whole word.
    virtual int annotAction(const std::string& word);

    // Process-wide, from the search arguments to the main page: the
    // library of SL or TSL is a collection; a list LL or TLL came.
    static int isValSL;
    static int presentLL;

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

// The start page of the library key names on cg's default session:
// "kivo2.html" when CONTV lists it there (a 577 or 578 reply counts, as
// the library is still known), else "kivo.html" (link_action.cpp).
const char* secondEditionStart(CgiHandler& cg, const std::string& key);

}  // namespace ruva
