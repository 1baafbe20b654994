#include "bmod/unzipd/server/generated_pages.h"

#include <string>

#include "bmod/unzipd/zip/zip_reader.h"
#include "common/html_escape.h"
#include "common/url_code.h"

namespace ruva {
namespace {

constexpr unsigned kSubMainPageNumber = 9999;
constexpr size_t kLinkNameMax = 1024;

const char kSubMainPage[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\n"
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
    "<html><head><title>Kivo Browser</title>\n"
    "<style type=\"text/css\">\n"
    "a { color: #004499; text-decoration: none; }\n"
    ".did { font-size: 75%; color: #303030; }\n"
    "BODY, TD, TH { font-family: helvetica, arial, sans-serif; }\n"
    "</style></head>\n"
    "<body bgcolor=\"#FFFFFF\">\n"
    "<strong>KIVO R5 or later must be used with this Ruvadaemon version</strong>\n"
    "</body>\n"
    "</html>\n";
static_assert(sizeof kSubMainPage - 1 <= kSubMainPageMax);

std::string waitPage(const CentralHeader* pdf, const WaitPageText& t) {
    std::string name = pdf->fname;
    size_t at = name.find(".pdf");
    if (at != std::string::npos) name.replace(at, 4, ".fdp");
    std::string link = urlEncode(URLMODE_ENCODE_SCRIPT, name.c_str(), kLinkNameMax);
    std::string title = htmlEscaped(t.title.empty() ? "KIVO Wait" : t.title);
    std::string folder = std::to_string(pdf->folder);
    std::string page;
    page += "<html><head><title>" + title + "</title>\n";
    page += "<meta name=\"SUBTITLE\" content=\"" + htmlEscaped(t.subtitle) + "\">\n";
    page += "<meta name=\"DOCNO\" content=\"" + htmlEscaped(t.docno) + " " + htmlEscaped(t.rev) + "\">\n";
    page += "<script type=\"text/javascript\">\n"
            "if (top.kivotbar && top.isIE10) top.objPDFforIE10 = top.kivomain.kivodoc.location;\n"
            "</script></head>\n";
    page += "<script type=\"text/javascript\">\n"
            "var inDoc = (self.name == \"kivodoc\");\n"
            "if (inDoc) top.kivomain.handlePDFback(" + folder + ");\n"
            "var target = (location.href.toLowerCase().indexOf(\"&st=start\") >= 0) ?\n"
            "  \"qzl:/kivo?ST=START&FN=" + link + "\" : \"qzl:/kivo?FN=" + link + "\";\n"
            "var tbar = (inDoc && top.kivotbar) ? \" top.dynamicToolBar();\" : \"\";\n"
            "document.write('<body onLoad=\"location.href=\\'' + target + '\\';' + tbar + '\">');\n"
            "</script>\n";
    page += "<center><h3>Please, wait <blink>.</blink></h3>\n"
            "<font size=\"-1\" color=\"#808080\">Loading PDF</font></center>\n"
            "</body></html>\n";
    return page;
}

}  // namespace

int PrintDefaultSubMain(NetworkServer* ns) {
    size_t size = sizeof kSubMainPage - 1;
    bool ok = ns->reply->line(kReplyData, kReplyHeader, "Length %lu \"%u\" kvo_ml_sub_main_page",
                              static_cast<unsigned long>(size), kSubMainPageNumber) &&
              ns->reply->raw(kSubMainPage, size) && ns->reply->line(kReplyData, kReplyHeader, "CRC 0x00000000") &&
              ns->reply->line(kReplyOk, kReplyHeader, "RETR executed.");
    if (ok) return 1;
    return ns->reply->failed() ? 0 : 1;
}

bool sendPDFWrapper(NetworkServer* ns, const CentralHeader* pdf, const char* libraryName, const WaitPageText& text) {
    std::string page = waitPage(pdf, text);
    return ns->reply->line(kReplyData, kReplyHeader, "Length %lu \"%s\" \"%s\" \"%d\"",
                           static_cast<unsigned long>(page.size()), libraryName, "wait.html", pdf->folder) &&
           ns->reply->raw(page.data(), page.size());
}

}  // namespace ruva
