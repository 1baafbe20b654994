// PRINT, PRINTA4, PRINTUS: the document through the configured print
// command, its PostScript written with its own header.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/print_command.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/fd_io.h"

namespace ruva {
namespace {

constexpr char kDefaultPrintCommand[] = "ruvafilter -p%s -o - %s";
constexpr char kPostScriptHeader[] = "Content-type: application/postscript\n\n";
constexpr char kPrintDirTemplate[] = "kivoXXXXXX";
constexpr char kPrintFileName[] = "page.html";

// The print file's path goes into the filter's shell line unquoted.
bool shellSafePath(std::string_view path) {
    for (unsigned char c : path) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && c != '/' && c != '.' && c != '_' && c != '+' && c != '-') return false;
    }
    return true;
}

// What the request named the document by, for the message when nothing came.
std::string requestedDocument(const CgiHandler& cg) {
    for (const char* name : {"FN", "CW", "TI"}) {
        const Value* v = cg.valueList->findValue(name);
        if (v && !v->value.empty()) return v->value;
    }
    return "";
}

// The page in a private directory under TempPath, mode 0600 in 0700, so no
// other user reads it and no planted link redirects the write. File and
// directory go when this goes, on every way out of the action.
class PrintFile {
public:
    PrintFile() = default;
    PrintFile(const PrintFile&) = delete;
    PrintFile& operator=(const PrintFile&) = delete;
    ~PrintFile() {
        if (!file_.empty()) unlink(file_.c_str());
        if (!dir_.empty()) rmdir(dir_.c_str());
    }

    // 0 with message 26 (no directory), 28 (no file) or 29 (a write or the
    // close failed) in kh's error text.
    int write(KivoHandler& kh, const std::string& tempPath, std::string_view page) {
        std::string dir = tempPath + kPrintDirTemplate;
        if (!shellSafePath(dir) || !mkdtemp(dir.data())) {
            kh.setError(msgFormat(26, "kivohandler/15"));
            return 0;
        }
        dir_ = dir;
        const std::string file = dir + "/" + kPrintFileName;
        Fd fd(open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            kh.setError(msgFormat(28, "kivohandler/17"), errorArgument(file));
            return 0;
        }
        file_ = file;
        if (!writeAll(fd.get(), page.data(), page.size()) || !fd.close()) {
            kh.setError(msgFormat(29, "kivohandler/18"), std::strerror(errno), errorArgument(file));
            return 0;
        }
        return 1;
    }
    const std::string& path() const { return file_; }

private:
    std::string dir_;
    std::string file_;
};

// The header and the PostScript; a failed write (the client left) only
// ends the copying: the answer has begun.
void writePostScript(CgiHandler& cg, const std::string& postScript) {
    if (std::fputs(kPostScriptHeader, cg.cgifile) >= 0)
        std::fwrite(postScript.data(), 1, postScript.size(), cg.cgifile);
    std::fflush(cg.cgifile);
}

// The print command over file, its output written as the answer.
int printFile(KivoHandler& kh, const std::string& file, const volatile std::sig_atomic_t* stop) {
    CgiHandler& cg = *kh.cg;
    // The environment's command replaces the configured one; empty, it
    // leaves the default.
    const char* fromEnv = std::getenv("KIVO_PRINTCOMMAND");
    std::string command = fromEnv ? fromEnv : cg.printCommand;
    if (command.empty()) command = kDefaultPrintCommand;
    std::string line;
    std::string reason;
    if (!formatPrintCommand(command, cg.paperSize, file, line, reason)) {
        kh.setError(msgFormat(30, "kivohandler/19"), errorArgument(command), reason);
        return 0;
    }
    PrintFilterRun run;
    if (!runPrintFilter(line, run, stop)) {
        // A filter that failed may have written part of a document: none of
        // it is sent.
        if (run.end == PrintFilterEnd::kNoStart)
            kh.setError(msgFormat(30, "kivohandler/19"), errorArgument(line), std::strerror(run.startError));
        else
            kh.setError(msgFormat(31, "kivohandler/20"), errorArgument(line));
        return 0;
    }
    writePostScript(cg, run.output);
    cg.flags |= kCgiResponseDone;
    return 1;
}

}  // namespace

int KivoHandler::printAction() {
    if (!cg) return 0;
    PrintSignalGuard signals;
    // LINK would refuse this request without the logon: so does PRINT.
    if (!cg->establishDefaultSession()) return 0;
    std::unique_ptr<SearchActions> sa = newSearchActions(cg);
    if (!sa) {
        setError(msgFormat(0, "kivohandler/80"), "SearchActions");
        return 0;
    }
    // A chapter only scrolls the browser; with it the lookup would answer
    // by a redirection instead of fetching the document.
    if (Value* ch = cg->valueList->findValue("CH")) cg->valueList->removeValue(ch);
    if (sa->getKivoDocument(*this) != 1) {
        errmsg = sa->getError();
        return 0;
    }
    sa.reset();
    // The lookup wrote its own answer (an error page): nothing may follow.
    if (cg->flags & kCgiResponseDone) return 1;
    if (!cg->docBuf || cg->docSize == 0) {
        setError(msgFormat(11, "kivohandler/80.1"), errorArgument(requestedDocument(*cg)));
        return 0;
    }
    cg->options |= kOptNoByteMapping;
    if (!cg->postProcessFile()) {
        setError(msgFormat(27, "kivohandler/16"), cg->getError());
        return 0;
    }
    const std::string_view page = cg->dstBuf ? std::string_view(cg->dstBuf, cg->dstOffs)
                                             : std::string_view(cg->docBuf, cg->docSize);
    PrintFile file;
    if (!file.write(*this, cg->TempPath, page)) return 0;
    return printFile(*this, file.path(), signals.stop());
}

int KivoHandler::locationPrint(PrintPaperSize size) {
    if (!cg) return 0;
    if (cg->paperSize.empty()) cg->paperSize = size == PSIZE_US ? "US" : "A4";
    if (entry("PRINT") != 1) return 0;
    cg->flags |= kCgiResponseDone;
    return 1;
}

}  // namespace ruva
