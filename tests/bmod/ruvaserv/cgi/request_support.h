// Test helpers for the request object and the kivoserv program: a request
// whose response goes to a temporary file, and direct runs of the built
// program with a given environment.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva::test {

// A request object with kivoserv's flags and tables whose cgifile is a
// temporary file; fields are added directly, as cgiEntry would store them.
class CapturedRequest {
public:
    CapturedRequest();
    ~CapturedRequest();
    CapturedRequest(const CapturedRequest&) = delete;
    CapturedRequest& operator=(const CapturedRequest&) = delete;

    CgiHandler& operator*() const { return *cg_; }
    CgiHandler* operator->() const { return cg_.get(); }
    CgiHandler* get() const { return cg_.get(); }
    void field(const char* name, const char* value) { cg_->valueList->addValue(name, value); }
    // Everything written to cgifile so far.
    std::string written() const;

private:
    std::unique_ptr<CgiHandler> cg_;
    FILE* file_ = nullptr;
};

using Env = std::vector<std::pair<std::string, std::string>>;

struct ProgramRun {
    std::string out;  // standard output, bytes as written
    std::string err;
    int status = -1;
};

// Runs the built kivoserv with exactly env (plus the sanitizer options of
// this process), args after the program name (shell words), stdinText on
// its standard input, in a fresh working directory.
ProgramRun runKivoserv(const Env& env, const std::string& args = "", const std::string& stdinText = "");

// The header block of a response (up to and with its blank line) and the
// rest.
std::pair<std::string, std::string> splitResponse(const std::string& response);

// The text between the error markers of an error page; "" without them.
std::string errorMessageOf(const std::string& page);

// text as cg's document in a heap block of exactly its size (freeDocBuf
// frees it): AddressSanitizer reports any read at or past docSize.
void setHeapPage(CgiHandler& cg, std::string_view text);

}  // namespace ruva::test
