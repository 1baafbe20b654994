// Compares two SDI files into a request's document buffer and writes the
// page to a file, for the python checks of the report.
//
//   sdi_compare_run OLD.sgml NEW.sgml OUT.html [NAME=value ...]
//
// Each NAME=value becomes a field of the request. DDC gives the class
// filter, CP=codpod the COD/POD selection; DC and DB name the old and new
// library in the rows' links ("old.kvo" and "new.kvo" when not given), and
// title the report. Exit 0 with the page written, 1 with the error on
// stderr, 2 for a bad command line.

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/compare.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "bmod/ruvaserv/output/kvosrvcompare.h"

namespace {

int usage() {
    std::fputs("usage: sdi_compare_run OLD.sgml NEW.sgml OUT.html [NAME=value ...]\n", stderr);
    return 2;
}

int fail(const std::string& text) {
    std::fprintf(stderr, "sdi_compare_run: %s\n", text.c_str());
    return 1;
}

std::string fieldOr(const ruva::CgiHandler& cg, const char* name, const char* fallback) {
    const ruva::Value* v = cg.valueList->findValue(name);
    return v != nullptr && !v->value.empty() ? v->value : fallback;
}

int writeFile(const char* path, const char* data, std::size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        std::perror(path);
        return 1;
    }
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    std::unique_ptr<ruva::CgiHandler> cg = ruva::newCgiHandler(ruva::kKivoservFlags, environ);
    if (!cg) return fail("no request object");
    for (int i = 4; i < argc; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        if (eq == nullptr || eq == argv[i]) return usage();
        std::string name(argv[i], static_cast<std::size_t>(eq - argv[i]));
        cg->valueList->addValue(name.c_str(), eq + 1);
    }
    const std::string oldLib = fieldOr(*cg, "DC", "old.kvo");
    const std::string newLib = fieldOr(*cg, "DB", "new.kvo");
    const ruva::Value* cp = cg->valueList->findValue("CP");
    const bool codPod = cp != nullptr && strcasecmp(cp->value.c_str(), "codpod") == 0;
    const ruva::Value* ddc = cg->valueList->findValue("DDC");

    ruva::KvoOutput ao(0);
    ao.kvoSetOutput(cg.get(), ruva::KVO_OUT_INTERNAL);
    std::unique_ptr<ruva::KvoFormat> fmt = ruva::newKvoHtmlFormat(&ao);
    if (!fmt) return fail("no writer");
    std::unique_ptr<ruva::SdiCompare> sc = ruva::newSdiCompare(*fmt);
    if (!sc) return fail("no comparison object");
    sc->documentType = ruva::classFilterOf(ddc != nullptr ? &ddc->value : nullptr);
    const std::string logo = "qzl:/kivo?FN=kivologo.gif&DB=" + newLib;
    ruva::SdiCompareCode code = sc->compareSdi(argv[1], argv[2], oldLib, newLib, oldLib, newLib, logo, codPod);
    if (code != ruva::SdiCompareCode::kOk) {
        return fail("code " + std::to_string(static_cast<int>(code)) + ": " + sc->getError());
    }
    if (cg->docBuf == nullptr) return fail("no page");
    return writeFile(argv[3], cg->docBuf, cg->docSize);
}
