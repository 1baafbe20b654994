// In-process page cases against the real daemon that daemon_harness.py's
// run mode starts at RUVA_PORT over make_action_libraries.py's flat "pages"
// folder (the markers' libraries and the language families). A request is
// a CapturedRequest over a configuration file naming that daemon; the
// fixture keeps the hash ids the daemon gave the libraries.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/test_support.h"

namespace ruva::test {

// A request made from a configuration file, with fields added as cgiEntry
// stores them, and newKivoHandler's handler. The handler goes before the
// request object.
class DaemonPageRequest {
public:
    DaemonPageRequest(const std::string& conf, const Fields& fields);
    ~DaemonPageRequest();
    DaemonPageRequest(const DaemonPageRequest&) = delete;
    DaemonPageRequest& operator=(const DaemonPageRequest&) = delete;

    CgiHandler& operator*() const { return *request_; }
    CgiHandler* operator->() const { return request_.get(); }
    CgiHandler* cg() const { return request_.get(); }
    KivoHandler& handler() { return *handler_; }

    void field(const char* name, const char* value) { request_.field(name, value); }
    std::optional<std::string> value(const char* name) const { return fieldValue(cg(), name); }
    Fields fields() const { return fieldsOf(cg()); }
    // docBuf's docSize bytes; "" without a buffer.
    std::string page() const { return pageOf(cg()); }
    // The page after post-processing (markers answered against the daemon).
    std::string postProcessed() const { return postProcessedOf(cg()); }
    // What went to the CGI output so far (headers and any error page).
    std::string written() const { return request_.written(); }
    // dstBuf's dstOffs bytes: what a marker wrote outside a pass.
    std::string output() const;
    // The session's server as messages show it, and its error text.
    std::string server() const;
    std::string reason() const;

private:
    CapturedRequest request_;
    std::unique_ptr<KivoHandler> handler_;
};

class ActionPagesDaemon : public ::testing::Test {
protected:
    // Fails without RUVA_PORT: the executable runs only through
    // daemon_harness.py (ctest action_pages_daemon_e2e).
    void SetUp() override;
    void TearDown() override;

    // A configuration file naming the daemon, then extra (whole lines, such
    // as "AllowUZonURL yes\n"); its path.
    std::string config(const std::string& extra = "");
    // A configuration file with exactly text.
    std::string configText(const std::string& text);
    // A request over config(extra) with fields.
    std::unique_ptr<DaemonPageRequest> request(const Fields& fields, const std::string& extra = "");

    // The hash id of a library by file name (a test failure and "" for an
    // unknown name).
    std::string id(const std::string& library);
    // "127.0.0.1:<port>" of the daemon.
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }

    int port = 0;
    // Hash ids by library file name, from the daemon's MLLIST.
    std::map<std::string, std::string> ids;
    EnvGuard env;
    NoNames noNames;
    Resolver* previous = nullptr;
    TempDir dir;

private:
    int configs_ = 0;
};

// The number of open descriptors of this process (a leaked session or file
// shows as a change).
size_t openDescriptors();

}  // namespace ruva::test
