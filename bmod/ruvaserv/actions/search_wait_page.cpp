// The waiting page of a search, which reloads itself as the search.
#include <strings.h>

#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {

namespace {

constexpr size_t kWaitBufSize = 5000;

constexpr std::string_view kWaitStyle =
    "<style type=\"text/css\">\n"
    "<!--\n"
    "body{background-color:#ffffff;color:#000000;font-family:helvetica,arial,sans-serif;margin:0px}\n"
    "#search_head{background-color:#ffffff;position:fixed;top:0px;left:0px;right:0px;padding:0px}\n"
    ".c5{background-color:#e5e5e5;color:#666666;font-size:10pt;height:40px;text-align:left;padding-left:6px}"
    "\n"
    ".sh2{background-color:#e5e5e5;color:#666666;font-size:80%;font-weight:normal;padding-left:4px;"
    "padding-right:4px;white-space:nowrap;vertical-align:middle;height:30px}\n"
    ".c50{opacity:0;color:#666666;font-size:80%;padding-top:60px;padding-left:8px}\n"
    ".c51{opacity:0;color:#666666;font-size:80%;padding-top:8px;padding-left:8px}\n"
    "-->\n"
    "</style>\n";

// The document search shows its hits in the frame's own header table.
constexpr std::string_view kDocSearchBody =
    "<body onload=\"intermediatepage();\">\n"
    "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\">"
    "<tr><td class=\"sh2\"><b>Search Results</b></td></tr></table>\n"
    "<div id=\"horizon\" class=\"c51\">Searching, please wait...</div>\n";

constexpr std::string_view kSearchBody =
    "<body onload=\"intermediatepage();\">\n"
    "<div id=\"search_head\"><table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\">"
    "<tr><td class=\"c5\"><b>Search Results</b></td></tr></table></div>\n"
    "<div id=\"horizon\" class=\"c50\">Searching, please wait...</div>\n";

std::string waitHead() {
    const std::string_view scripts = searchWaitScriptFile();
    return std::string(kXhtmlDoctype) + kXhtmlStartTag +
           "\n<head>\n<title>Search Libraries: Message</title>\n" + std::string(kWaitStyle) +
           "<script type=\"text/javascript\">\n<!--\n" + std::string(scriptSection(scripts, "go_to_search")) +
           std::string(scriptSection(scripts, "fadein")) +
           std::string(scriptSection(scripts, "intermediatepage")) + "//-->\n</script>\n</head>\n";
}

}  // namespace

int KivoHandler::outputSearchMessage(const char*) {
    if (!cg || !cg->valueList) return 0;
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kWaitBufSize)) {
        setError(msgFormat(81, "kivohandler/66"), static_cast<unsigned long>(kWaitBufSize));
        return 0;
    }
    cg->docSize = 0;
    cg->flags &= ~kCgiBodyHandlers;
    // The page is ours: the search words it carries are not looked for in it.
    cg->flags |= kCgiNoSearchWords;
    const bool docSearch = strcasecmp(valueOf(*cg->valueList, "ST").c_str(), "DOCSEARCH") == 0;
    if (!cg->docWriteBuf(waitHead()) || !cg->docWriteBuf(docSearch ? kDocSearchBody : kSearchBody)) {
        setError(msgFormat(81, "kivohandler/66"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    return cg->outputTail();
}

}  // namespace ruva
