// In-process action tests: a request over a scripted document server with
// given fields, cookies and environment, whose CGI output is a temporary
// file, and a handler that records which operation the dispatcher reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva::test {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct ActionSetup {
    // After the greeting, one reply per line received; then the close.
    std::vector<std::string> replies = {};
    Fields fields = {};
    // Set before the request object is made, put back after it is gone;
    // none unsets the variable.
    std::vector<std::pair<std::string, std::optional<std::string>>> env = {};
    std::optional<std::string> cookies = {};  // HTTP_COOKIE
};

// The server listens first and is the request's docServAddr; names resolve
// to no address and RUVA_ADDR is unset, so messages show dotted addresses.
// The handler (handler() or useHandler()) lives inside, so it always goes
// before the request object.
class ActionRequest {
public:
    explicit ActionRequest(const ActionSetup& setup = {});
    // Any scripts, one per connection; setup.replies is not used.
    ActionRequest(std::vector<PeerScript> scripts, const ActionSetup& setup);
    ~ActionRequest();
    ActionRequest(const ActionRequest&) = delete;
    ActionRequest& operator=(const ActionRequest&) = delete;

    // False when the server does not listen (the test has failed).
    bool ok() const { return peer_.ok() && request_ && request_->get(); }
    CgiHandler& operator*() const { return **request_; }
    CgiHandler* operator->() const { return request_->get(); }
    CgiHandler* cg() const { return request_ ? request_->get() : nullptr; }

    // newKivoHandler's handler, made on the first call.
    KivoHandler& handler();
    // A handler of the test's own class over this request, replacing any.
    template <class Handler, class... Args>
    Handler& useHandler(Args&&... args) {
        auto made = std::make_unique<Handler>(cg(), std::forward<Args>(args)...);
        Handler& kept = *made;
        handler_ = std::move(made);
        return kept;
    }

    void field(const char* name, const char* value) { request_->field(name, value); }
    // The field's value; none when absent.
    std::optional<std::string> value(const char* name) const;
    // The fields in list order.
    Fields fields() const;
    // docBuf's docSize bytes; "" without a buffer.
    std::string page() const;
    // Everything written to the CGI output so far.
    std::string written() const;
    // The page in docBuf after post-processing, as the browser gets it; a
    // failed pass is a test failure and gives "".
    std::string postProcessed() const;

    // Ends handler, request (its sessions say QUIT) and server, and gives
    // what connection k received before QUIT; "" for one that never came.
    // The request is gone afterwards: call it last.
    std::string sent(size_t connection = 0);
    ScriptedPeer& peer() { return peer_; }

private:
    ScriptedPeer peer_;
    NoNames noNames_;
    Resolver* previousResolver_ = nullptr;
    EnvGuard env_;
    std::optional<CapturedRequest> request_;
    std::unique_ptr<KivoHandler> handler_;
};

// ActionRequest's views for any request object (a null one gives none, no
// fields or ""): a field's value, the fields in list order, docBuf's
// docSize bytes, and the page after post-processing (a failed pass is a
// test failure and gives "").
std::optional<std::string> fieldValue(const CgiHandler* cg, const char* name);
Fields fieldsOf(const CgiHandler* cg);
std::string pageOf(const CgiHandler* cg);
std::string postProcessedOf(CgiHandler* cg);

// One operation as the handler reached it, with the request as it stood.
struct RecordedCall {
    std::string operation;  // the member's name
    std::string argument;   // its arguments as text, '|' between; "" for none
    Fields fields;
    size_t flags = 0;
    uint32_t options = 0;
    // runSearchOperation: the search request's isExternSearch; -1 elsewhere.
    int externSearch = -1;
    // A field's value at that moment (case-blind name); none when absent.
    std::optional<std::string> field(std::string_view name) const;
};

// Records every action operation (not the dispatcher's own steps): with
// forward the real member runs after the record and its result is given,
// else result is given and nothing is written.
class RecordingKivoHandler : public KivoHandler {
public:
    explicit RecordingKivoHandler(CgiHandler* cg, bool forward = false);

    std::vector<RecordedCall> calls;
    bool forward;
    int result = 1;

    // The operations in order, blank-separated, arguments in parentheses:
    // "linkAction mainPageAction(3)".
    std::string operations() const;

    int imageAction() override;
    int compareAction() override;
    int linkAction() override;
    int externalLinkAction() override;
    int printAction() override;
    int locationPrint(PrintPaperSize size) override;
    int infoAction() override;
    int mainPageAction(int mode) override;
    int allJSFunctions(const std::string& idString, const std::string& documentId, int isSubLibrary,
                       const std::string& title, int validSL, int presentLL, int blacklistedLib) override;
    int toolbarAction() override;
    int docNoTreeAction() override;
    int annotAction(const std::string& word) override;
    int outputAbout() override;
    int BookmarkAction() override;
    int outputCompareSelect() override;
    int outputCompareMessage() override;
    int outputSearchMessage(const char* kind) override;
    int writeJSFunctions() override;
    int writeDummyTreeFrame() override;
    int writeInstantResultsPage() override;
    int topicContent() override;
    int runSearchOperation(SearchActions& sa, SearchOperation operation) override;

private:
    int record(const char* operation, std::string argument, const std::function<int()>& real,
               int externSearch = -1);
};

// The text after the first "var <name> = " in page up to the end of its
// line; "<name missing>" when there is none.
std::string scriptValue(const std::string& page, const std::string& name);

// Every script element's body in page passes node --check (a test failure
// names the script); the number of script elements.
int checkPageScripts(const std::string& page);

}  // namespace ruva::test
