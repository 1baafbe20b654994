#include "tests/bmod/ruvaserv/cgi/request_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/test_support.h"

namespace ruva::test {

namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

CapturedRequest::CapturedRequest() : cg_(newCgiHandler(kKivoservFlags, environ)), file_(std::tmpfile()) {
    if (cg_) cg_->cgifile = file_;
}

CapturedRequest::~CapturedRequest() {
    cg_.reset();
    if (file_) std::fclose(file_);
}

std::string CapturedRequest::written() const {
    std::string bytes;
    if (!file_) return bytes;
    std::fflush(file_);
    std::rewind(file_);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) bytes.append(buf, n);
    std::fseek(file_, 0, SEEK_END);
    return bytes;
}

ProgramRun runKivoserv(const Env& env, const std::string& args, const std::string& stdinText) {
    ProgramRun run;
    TempDir dir;
    if (!dir.ok()) {
        ADD_FAILURE() << "no temporary directory";
        return run;
    }
    writeFile(dir.file("stdin"), stdinText);
    std::string cmd = "cd " + shellQuote(dir.path()) + " && env -i";
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(keep)) cmd += " " + shellQuote(std::string(keep) + "=" + value);
    }
    for (const auto& [name, value] : env) cmd += " " + shellQuote(name + "=" + value);
    cmd += " " + shellQuote(RUVA_KIVOSERV) + " " + args + " <stdin 2>stderr";
    run.out = capture(cmd, &run.status);
    run.err = readFile(dir.file("stderr"));
    return run;
}

std::pair<std::string, std::string> splitResponse(const std::string& response) {
    size_t end = response.find("\n\n");
    if (end == std::string::npos) return {response, ""};
    return {response.substr(0, end + 2), response.substr(end + 2)};
}

std::string errorMessageOf(const std::string& page) {
    const std::string open = "<!--@error-->\n";
    size_t from = page.find(open);
    size_t to = page.find("<!--@/error-->");
    if (from == std::string::npos || to == std::string::npos || to < from + open.size()) return "";
    return page.substr(from + open.size(), to - from - open.size());
}

void setHeapPage(CgiHandler& cg, std::string_view text) {
    cg.freeDocBuf();
    cg.docBuf = static_cast<char*>(std::malloc(text.size()));
    ASSERT_NE(cg.docBuf, nullptr);
    std::memcpy(cg.docBuf, text.data(), text.size());
    cg.docSize = text.size();
    cg.docbufSize = text.size();
}

}  // namespace ruva::test
