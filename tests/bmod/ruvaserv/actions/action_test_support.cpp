#include "tests/bmod/ruvaserv/actions/action_test_support.h"

#include <strings.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "bmod/ruvaserv/search/search_actions.h"
#include "common/text_view.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"

namespace ruva::test {

ActionRequest::ActionRequest(const ActionSetup& setup) : ActionRequest({replyScript(setup.replies)}, setup) {}

ActionRequest::ActionRequest(std::vector<PeerScript> scripts, const ActionSetup& setup)
    : peer_(std::move(scripts)) {
    previousResolver_ = setResolver(&noNames_);
    env_.set("RUVA_ADDR", std::nullopt);
    env_.set("HTTP_COOKIE", setup.cookies);
    for (const auto& [name, value] : setup.env) env_.set(name, value);
    // The request reads its environment when it is made.
    request_.emplace();
    if (!cg()) return;
    cg()->docServAddr = "127.0.0.1:" + std::to_string(peer_.port());
    for (const auto& [name, value] : setup.fields) field(name.c_str(), value.c_str());
}

ActionRequest::~ActionRequest() {
    handler_.reset();
    request_.reset();
    setResolver(previousResolver_);
}

KivoHandler& ActionRequest::handler() {
    if (!handler_) handler_ = newKivoHandler(cg());
    return *handler_;
}

std::optional<std::string> ActionRequest::value(const char* name) const { return fieldValue(cg(), name); }

Fields ActionRequest::fields() const { return fieldsOf(cg()); }

std::string ActionRequest::page() const { return pageOf(cg()); }

std::string ActionRequest::postProcessed() const { return postProcessedOf(cg()); }

std::optional<std::string> fieldValue(const CgiHandler* cg, const char* name) {
    const Value* pair = cg ? cg->valueList->findValue(name) : nullptr;
    return pair ? std::optional<std::string>(pair->value) : std::nullopt;
}

Fields fieldsOf(const CgiHandler* cg) {
    Fields all;
    if (!cg) return all;
    const ValueList& list = *cg->valueList;
    for (const Value* pair = list.firstValue(); pair; pair = list.nextValue(pair))
        all.emplace_back(pair->name, pair->value);
    return all;
}

std::string pageOf(const CgiHandler* cg) {
    if (!cg || !cg->docBuf) return "";
    return std::string(cg->docBuf, cg->docSize);
}

std::string postProcessedOf(CgiHandler* cg) {
    if (!cg || cg->postProcessFile() != 1) {
        ADD_FAILURE() << "post-processing failed: " << (cg ? cg->getError() : "no request");
        return "";
    }
    return cg->dstBuf ? std::string(cg->dstBuf, cg->dstOffs) : pageOf(cg);
}

std::string ActionRequest::written() const { return request_ ? request_->written() : ""; }

std::string ActionRequest::sent(size_t connection) {
    handler_.reset();
    request_.reset();
    peer_.stop();
    return beforeQuit(peer_.received(connection));
}

std::optional<std::string> RecordedCall::field(std::string_view name) const {
    for (const auto& [key, value] : fields) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
    }
    return std::nullopt;
}

RecordingKivoHandler::RecordingKivoHandler(CgiHandler* request, bool forwardCalls)
    : KivoHandler(request), forward(forwardCalls) {
    // As newKivoHandler registers it; the base's destructor unregisters it.
    if (cg) cg->setSpecCallback(&KivoHandler::specCallback, this);
}

std::string RecordingKivoHandler::operations() const {
    std::string all;
    for (const RecordedCall& call : calls) {
        if (!all.empty()) all += ' ';
        all += call.operation;
        if (!call.argument.empty()) all += "(" + call.argument + ")";
    }
    return all;
}

int RecordingKivoHandler::record(const char* operation, std::string argument, const std::function<int()>& real,
                                 int externSearch) {
    RecordedCall call{operation, std::move(argument), {}, 0, 0, externSearch};
    if (cg) {
        const ValueList& list = *cg->valueList;
        for (const Value* pair = list.firstValue(); pair; pair = list.nextValue(pair))
            call.fields.emplace_back(pair->name, pair->value);
        call.flags = cg->flags;
        call.options = cg->options;
    }
    calls.push_back(std::move(call));
    return forward ? real() : result;
}

int RecordingKivoHandler::imageAction() {
    return record("imageAction", "", [this] { return KivoHandler::imageAction(); });
}
int RecordingKivoHandler::compareAction() {
    return record("compareAction", "", [this] { return KivoHandler::compareAction(); });
}
int RecordingKivoHandler::linkAction() {
    return record("linkAction", "", [this] { return KivoHandler::linkAction(); });
}
int RecordingKivoHandler::externalLinkAction() {
    return record("externalLinkAction", "", [this] { return KivoHandler::externalLinkAction(); });
}
int RecordingKivoHandler::printAction() {
    return record("printAction", "", [this] { return KivoHandler::printAction(); });
}
int RecordingKivoHandler::locationPrint(PrintPaperSize size) {
    return record("locationPrint", size == PSIZE_US ? "PSIZE_US" : "PSIZE_A4",
                  [this, size] { return KivoHandler::locationPrint(size); });
}
int RecordingKivoHandler::infoAction() {
    return record("infoAction", "", [this] { return KivoHandler::infoAction(); });
}
int RecordingKivoHandler::mainPageAction(int mode) {
    return record("mainPageAction", std::to_string(mode), [this, mode] { return KivoHandler::mainPageAction(mode); });
}
int RecordingKivoHandler::allJSFunctions(const std::string& idString, const std::string& documentId,
                                         int isSubLibrary, const std::string& title, int validSL, int presentLL,
                                         int blacklistedLib) {
    std::string argument = idString + "|" + documentId + "|" + std::to_string(isSubLibrary) + "|" + title + "|" +
                           std::to_string(validSL) + "|" + std::to_string(presentLL) + "|" +
                           std::to_string(blacklistedLib);
    return record("allJSFunctions", std::move(argument), [&] {
        return KivoHandler::allJSFunctions(idString, documentId, isSubLibrary, title, validSL, presentLL,
                                           blacklistedLib);
    });
}
int RecordingKivoHandler::toolbarAction() {
    return record("toolbarAction", "", [this] { return KivoHandler::toolbarAction(); });
}
int RecordingKivoHandler::docNoTreeAction() {
    return record("docNoTreeAction", "", [this] { return KivoHandler::docNoTreeAction(); });
}
int RecordingKivoHandler::annotAction(const std::string& word) {
    return record("annotAction", word, [this, &word] { return KivoHandler::annotAction(word); });
}
int RecordingKivoHandler::outputAbout() {
    return record("outputAbout", "", [this] { return KivoHandler::outputAbout(); });
}
int RecordingKivoHandler::BookmarkAction() {
    return record("BookmarkAction", "", [this] { return KivoHandler::BookmarkAction(); });
}
int RecordingKivoHandler::outputCompareSelect() {
    return record("outputCompareSelect", "", [this] { return KivoHandler::outputCompareSelect(); });
}
int RecordingKivoHandler::outputCompareMessage() {
    return record("outputCompareMessage", "", [this] { return KivoHandler::outputCompareMessage(); });
}
int RecordingKivoHandler::outputSearchMessage(const char* kind) {
    return record("outputSearchMessage", kind ? kind : "", [this, kind] { return KivoHandler::outputSearchMessage(kind); });
}
int RecordingKivoHandler::writeJSFunctions() {
    return record("writeJSFunctions", "", [this] { return KivoHandler::writeJSFunctions(); });
}
int RecordingKivoHandler::writeDummyTreeFrame() {
    return record("writeDummyTreeFrame", "", [this] { return KivoHandler::writeDummyTreeFrame(); });
}
int RecordingKivoHandler::writeInstantResultsPage() {
    return record("writeInstantResultsPage", "", [this] { return KivoHandler::writeInstantResultsPage(); });
}
int RecordingKivoHandler::topicContent() {
    return record("topicContent", "", [this] { return KivoHandler::topicContent(); });
}
int RecordingKivoHandler::runSearchOperation(SearchActions& sa, SearchOperation operation) {
    static constexpr const char* kNames[] = {"kAdvanced", "kDocument", "kSearch"};
    const int externSearch = sa.sd ? static_cast<int>(sa.sd->isExternSearch) : -1;
    return record("runSearchOperation", kNames[static_cast<int>(operation)],
                  [this, &sa, operation] { return KivoHandler::runSearchOperation(sa, operation); },
                  externSearch);
}

int checkPageScripts(const std::string& page) {
    if (std::system("command -v node >/dev/null 2>&1") != 0) {
        ADD_FAILURE() << "node is needed: scripts/setup installs nodejs";
        return 0;
    }
    TempDir dir;
    int n = 0;
    for (size_t at = findCaseBlind(page, 0, "<script"); at != std::string::npos;
         at = findCaseBlind(page, at + 1, "<script")) {
        const size_t body = page.find('>', at);
        const size_t close = body == std::string::npos ? body : findCaseBlind(page, body, "</script");
        if (close == std::string::npos) {
            ADD_FAILURE() << "unclosed script at " << at;
            break;
        }
        const std::string script = page.substr(body + 1, close - body - 1);
        const std::string file = dir.file("s" + std::to_string(n++) + ".js");
        writeFile(file, script);
        int status = -1;
        const std::string complaint = capture("node --check " + file + " 2>&1", &status);
        EXPECT_EQ(status, 0) << complaint << script;
        at = close;
    }
    return n;
}

std::string scriptValue(const std::string& page, const std::string& name) {
    const std::string key = "var " + name + " = ";
    const size_t at = page.find(key);
    if (at == std::string::npos) return "<" + name + " missing>";
    const size_t end = page.find(";\n", at);
    return page.substr(at + key.size(), end - at - key.size());
}

}  // namespace ruva::test
