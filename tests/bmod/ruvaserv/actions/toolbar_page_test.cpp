// The toolbar frame's page over a scripted server, and the library
// drop-down's options.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

constexpr char kInfoReply[] =
    "300-Server Information:\n300 Number of databases: 3\n300 Total number of files: 12\n200-INFO "
    "executed.\n";

size_t count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

std::string button(const char* id) {
    return "id=\"" + std::string(id) + "\"";
}

TEST(ToolbarPage, ButtonsFollowTheConfigurationAndTb) {
    struct {
        const char* name;
        size_t flags;
        test::Fields fields;
        std::vector<const char*> shown;
        std::vector<const char*> hidden;
    } const cases[] = {
        {"annotations with TB", kCgiUseAnnotation, {{"TB", "0"}}, {"annot"}, {"b5", "b7"}},
        {"annotations without TB", kCgiUseAnnotation, {}, {}, {"annot"}},
        {"annotations with an empty TB", kCgiUseAnnotation, {{"TB", ""}}, {}, {"annot"}},
        {"TB without annotations", 0, {{"TB", "0"}}, {}, {"annot"}},
        {"printing", kCgiUsePrint, {}, {"b5"}, {"annot", "b7"}},
        {"help", kCgiUseHelp, {}, {"b7"}, {"annot", "b5"}},
        {"kivoserv's own", kKivoservFlags, {{"TB", "0"}}, {"annot", "b5", "b7"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = {test::verLine(), kInfoReply}, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        cg->flags = c.flags;
        ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
        const std::string page = cg.page();
        for (const char* id : {"search_inp", "search_but", "search_hit", "b1", "b2", "b3", "b4"})
            EXPECT_EQ(count(page, button(id)), 1u) << id;
        for (const char* id : c.shown) EXPECT_EQ(count(page, button(id)), 1u) << id;
        for (const char* id : c.hidden) EXPECT_EQ(count(page, button(id)), 0u) << id;
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), "VER\nINFO\n");
    }
}

TEST(ToolbarPage, LanguageListComesFromTheDaemon) {
    const std::string head =
        "<select name=\"LANGLIST\" onchange=\"top.switchDocLang();\">\n"
        "<option value=\"\" selected=\"selected\">Language:</option>\n";
    struct {
        const char* name;
        bool configured;
        std::string reply;
        std::string list;  // "" for none
        std::string sent;
    } const cases[] = {
        {"two codes", true, "200 en sv  \n",
         head + "<option value=\"en\">English</option>\n<option value=\"sv\">Svenska</option>\n</select>",
         "VER\nINFO\nLANGLIST\n"},
        {"a code without a configured name shows the code", true, "200 en de  \n",
         head + "<option value=\"en\">English</option>\n<option value=\"de\">de</option>\n</select>",
         "VER\nINFO\nLANGLIST\n"},
        {"the daemon's EN alone", true, "200 EN\n", "", "VER\nINFO\nLANGLIST\n"},
        {"en alone, lower case", true, "200 en  \n", "", "VER\nINFO\nLANGLIST\n"},
        {"a refusal", true, "500 Unknown command\n", "", "VER\nINFO\nLANGLIST\n"},
        {"no code at all", true, "200 \n", "", "VER\nINFO\nLANGLIST\n"},
        {"no codes configured", false, "200 en sv  \n", "", "VER\nINFO\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = {test::verLine(), kInfoReply, c.reply}});
        ASSERT_TRUE(cg.ok());
        if (c.configured) {
            cg->flags |= kCgiLanguageCodes;
            cg->langList->addValue("EN", "English");
            cg->langList->addValue("SV", "Svenska");
        }
        ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
        const std::string page = cg.page();
        if (c.list.empty())
            EXPECT_EQ(page.find("LANGLIST"), std::string::npos);
        else
            EXPECT_NE(page.find(c.list), std::string::npos) << page;
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

TEST(ToolbarPage, ServiceNameCellOrPlainLogo) {
    struct {
        const char* name;
        std::string servicename;
        std::string cell;
    } const cases[] = {
        {"with a service name", "Ours <b>",
         "<span class=\"vandNew\">Ours &lt;b&gt;</span></td>\n<td><img "
         "src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;"
         "IM=26\" width=\"12\" height=\"22\" /></td>\n<td><img "
         "src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=25\" "
         "width=\"1\" height=\"1\" /><img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=8\" width=\"90\" "
         "height=\"22\" name=\"vandrove_logo\" alt=\"\" /></td>\n"},
        {"without", "",
         "<td align=\"right\" width=\"100%\"><img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=25\" "
         "width=\"12\" "
         "height=\"1\" /><img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=8\" width=\"94\" height=\"22\" "
         "name=\"vandrove_logo\" alt=\"\" /></td>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = {test::verLine(), kInfoReply}});
        ASSERT_TRUE(cg.ok());
        cg->servicename = c.servicename;
        ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
        const std::string page = cg.page();
        EXPECT_NE(page.find(c.cell), std::string::npos) << page;
        EXPECT_EQ(count(page, "vandNew\""), c.servicename.empty() ? 0u : 1u);
    }
}

// The values the page's script reads, each an escaped assignment.
TEST(ToolbarPage, ScriptValuesAndForms) {
    test::ActionRequest cg({.replies = {test::verLine(), kInfoReply},
                            .fields = {{"ID", "12\"x"}},
                            .cookies = "showAllTitles=0; showContext=\"><svg>"});
    ASSERT_TRUE(cg.ok());
    cg->urlProto = "http:/";
    cg->kivoServName = "/KivoServ.example:8080/cgi-bin/KIVOSERV";
    cg->httpdHost = "/host'x";
    cg->privacyURL = "http://privacy/'";
    cg->privacyStatus = "http://privacy/status";
    cg->charEnc = 1;
    cg->charEncoding = "x\"><b";
    ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
    const std::string page = cg.page();
    for (const std::string line : {
             "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<html xmlns=",
             "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=x&quot;&gt;&lt;b\" />\n"
             "<title>KIVO toolbar</title>\n",
             "var kvCookieVersion = 19;\nvar kvWhatsNewCookie = 'KIVO_19_WHATSNEW';\n",
             "var kvCookieDomain = 'host\\u0027x';\n",
             "var kvHintAddress = 'http://kivohint.example:8080/cgi-bin/kivohint';\nvar kvHintCount = 10;\n",
             "var kvPrivacyMode = 'Extranet';\nvar kvPrivacyAddress = 'http://privacy/\\u0027';\n"
             "var kvPrivacyStatus = 'http://privacy/status';\n",
             "title=\"See what's new in Kivo Browser version 19\"",
             "<body onkeydown=\"return handleKeyMovement(event);\">\n<!--@@noprnt--><form method='get' "
             "name=\"lib\" "
             "action=\"qzl:/kivo\" target=\"kivodoc\" onSubmit='javascript:return top.checkSearch();' "
             "autocomplete='off'>\n<input type=\"hidden\" name=\"li\" value=\"\" />\n",
             "<img src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=132\" width=\"12\" height=\"14\" "
             "id=\"search_but\"",
             "IM=134\" width=\"23\" height=\"22\" id=\"search_hit\" class=\"tbBut\" title=\"Next search "
             "hit\"",
             "<input type=\"hidden\" name=\"ID\" value=\"12&#34;x\" />\n",
             "<input type=\"hidden\" name=\"MT\" value=\"0\" />\n<input type=\"hidden\" name=\"SP\" "
             "value=\"1\" />\n"
             "</form>\n",
             "<form method='get' name=\"newlib\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
             "<input type=\"hidden\" name=\"FN\" value=\"kivo.html\" />\n",
             "<form method='get' name=\"ssoldlib\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
             "<input type=\"hidden\" name=\"AC\" value=\"DOCNOTREE\" />\n",
             "<input type=\"hidden\" name=\"BC\" value=\"EXTFUNC\" />\n<input type=\"hidden\" name=\"XF\" "
             "value=\"\" />",
             "<form method='get' name=\"butpressed\" action=\"qzl:/kivo\" target=\"kivodoc\">\n"
             "<input type=\"hidden\" name=\"AC\" value=\"HELP\" />\n</form>\n",
             "<input type=\"hidden\" name=\"LIBSWITCH\" value=\"no\" />\n",
             "<!--@@/noprnt--></body>\n<script type=\"text/javascript\">\n",
         }) {
        EXPECT_NE(page.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(count(page, "<!--@@uzaddr-->"), 0u);
    EXPECT_TRUE(page.ends_with("</html>\n"));
    EXPECT_NE(page.find(toolbarScriptFile()), std::string::npos);
    EXPECT_NE(page.find(toolbarStyleFile()), std::string::npos);
}

TEST(ToolbarPage, DefaultsWithoutIdCookiesOrPrivacy) {
    test::ActionRequest cg({.replies = {test::verLine(), kInfoReply}, .cookies = "showAllTitles=x"});
    ASSERT_TRUE(cg.ok());
    cg->flags |= kCgiAllowUzOnUrl;
    cg->privacyURL = "http://privacy/";
    ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
    const std::string page = cg.page();
    EXPECT_NE(page.find("<input type=\"hidden\" name=\"ID\" value=\"0\" />"), std::string::npos);
    EXPECT_NE(page.find("name=\"MT\" value=\"1\" />\n<input type=\"hidden\" name=\"SP\" value=\"1\""),
              std::string::npos);
    EXPECT_NE(page.find("var kvPrivacyMode = 'NO_NEED_OF_AJAX_CALL';"), std::string::npos);
    EXPECT_NE(page.find("var kvPrivacyStatus = 'NO_NEED_OF_AJAX_CALL';"), std::string::npos);
    EXPECT_EQ(page.find("<meta"), std::string::npos);
    // The search form and the first four hidden forms carry the address.
    EXPECT_EQ(count(page, "<input type=\"hidden\" name=\"UZ\" value=\"<!--@@uzaddr-->\" />"), 5u);
}

// The hint request's fixed parts live in the script.
TEST(ToolbarPage, SuggestionRequestAddress) {
    const std::string script(toolbarScriptFile());
    for (const char* part : {"'?id='", "'&AC=GETSS&PA='", "'&CT='", "'&FN=fulltext.qxx&t='", "Math.random()",
                             "indexOf('<title>')"}) {
        EXPECT_NE(script.find(part), std::string::npos) << part;
    }
}

TEST(ToolbarPage, RefusedInfoIsMessage40) {
    struct {
        const char* name;
        std::vector<std::string> replies;
    } const cases[] = {
        {"a refusal", {test::verLine(), "510 Command not allowed\n"}},
        {"no reply", {test::verLine()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.handler();
        EXPECT_EQ(kh.toolbarAction(), 0);
        const std::string address = "127.0.0.1:" + std::to_string(cg.peer().port());
        EXPECT_EQ(cg->getError(), formatChecked(msgFormat(40, "kivohandler/29"), address,
                                                cg->sess ? cg->sess->getError() : ""));
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.page(), "");
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(ToolbarPage, ScriptsParseAfterPostProcessing) {
    test::ActionRequest cg({.replies = {test::verLine(), kInfoReply, "200 en sv  \n"},
                            .fields = {{"ID", "12"}, {"TB", "0"}},
                            .cookies = "showAllTitles=\"><svg onload=alert(1)>"});
    ASSERT_TRUE(cg.ok());
    cg->flags |= kCgiLanguageCodes | kCgiAllowUzOnUrl;
    cg->urlProto = "http:/";
    cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    cg->httpdHost = "/a'b\\c</script>";
    cg->servicename = "</script><b>";
    ASSERT_EQ(cg.handler().toolbarAction(), 1) << cg->getError();
    const std::string page = cg.postProcessed();
    EXPECT_EQ(test::checkPageScripts(page), 2);
    EXPECT_EQ(page.find("<svg"), std::string::npos);
    EXPECT_EQ(count(page, "</script>"), 2u);
}

// ---- library drop-down

// line (dbLine's or folderLine's) with its level field set.
std::string atLevel(std::string line, int level) {
    const size_t type = line.find_first_not_of(' ', 3);
    const size_t digits = line.find_first_not_of(' ', line.find(' ', type));
    const size_t end = line.find(' ', digits);
    return line.replace(digits, end - digits, std::to_string(level));
}

std::string library(int level, const std::string& name, unsigned hash, const std::string& comment) {
    return atLevel(test::dbLine(name, hash, comment), level);
}

std::string option(const std::string& value, const std::string& text, bool selected = false) {
    return "    <option value=\"" + value + "\"" + (selected ? " selected=\"selected\">" : ">") + text +
           "</option>\n";
}

constexpr char kLastOption[] = "    <option value=\"S|9999|-|\"> </option>\n";

TEST(LibraryDropDown, OptionsShowLevelNodeAndRevision) {
    const std::string first = library(0, "guide.kvo", 12, "Guide [EN/DOCLIB1 R1A]");
    const std::string firstOption = option("00|12|guide.kvo|", "-&nbsp; Guide [R1A]", true);
    const std::string deep = option("00|13|deep.kvo|", "- - -&nbsp; Deep [R2B]");
    struct {
        const char* name;
        std::string lines;
        std::string options;
    } const cases[] = {
        {"a folder and a library two levels down",
         first + atLevel(test::folderLine(5), 1) + library(2, "deep.kvo", 13, "Deep [EN/X R2B]"),
         firstOption + option("S|5|-|", "- &lt; Folder &gt;") + deep},
        // The daemon writes a sub-folder's entries at their levels in the
        // whole tree.
        {"levels count from the first entry",
         atLevel(first, 3) + library(5, "deep.kvo", 13, "Deep [EN/X R2B]"), firstOption + deep},
        {"a P revision", first + library(0, "p.kvo", 14, "Prel [EN/X P1A]"),
         firstOption + option("00|14|p.kvo|", "-&nbsp; Prel [P1A]")},
        {"no revision word", first + library(0, "n.kvo", 15, "Plain [EN/X A1] tail"),
         firstOption + option("00|15|n.kvo|", "-&nbsp; Plain")},
        {"a lower-case r is no revision", first + library(0, "l.kvo", 16, "Low [EN/X r1a]"),
         firstOption + option("00|16|l.kvo|", "-&nbsp; Low")},
        {"no brackets", first + library(0, "b.kvo", 17, "Bare title"),
         firstOption + option("00|17|b.kvo|", "-&nbsp; Bare title")},
        {"an unclosed bracket", first + library(0, "u.kvo", 18, "Open [EN/X R9"),
         firstOption + option("00|18|u.kvo|", "-&nbsp; Open [R9]")},
        {"the label is escaped", first + library(0, "h.kvo", 19, "<img src=x onerror='a'> [a'b R1]"),
         firstOption + option("00|19|h.kvo|", "-&nbsp; &lt;img src=x onerror=&#39;a&#39;&gt; [R1]")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg(
            {.replies = {test::verLine(), test::mlReply(c.lines)}, .fields = {{"ID", "12"}}});
        ASSERT_TRUE(cg.ok());
        ASSERT_EQ(cg.handler().PrintDropDownMenu(), 1) << cg->getError();
        EXPECT_EQ(cg.page(), c.options + kLastOption);
        EXPECT_EQ(cg.sent(), "VER\nMLLIST 12\n");
    }
}

TEST(LibraryDropDown, TitlesAreCutByLevel) {
    const std::string title66(66, 'a');
    const std::string title74(74, 'b');
    const std::string word = "R" + std::string(90, '1');
    struct {
        const char* name;
        int level;
        std::string comment;
        std::string label;
    } const cases[] = {
        {"66 characters stay", 0, title66 + " [X R1]", title66 + " [R1]"},
        {"67 are cut to 66", 0, title66 + "c [X R1]", title66 + "... [R1]"},
        {"two levels down 62", 2, title66 + " [X R1]", title66.substr(0, 62) + "... [R1]"},
        {"without brackets 74 stay", 0, title74, title74},
        {"without brackets 75 are cut", 0, title74 + "c", title74 + "..."},
        {"without brackets at level 3", 3, title74, title74.substr(0, 68) + "..."},
        {"the whole label is cut at 80", 0, "T [X " + word + "]", ("T [" + word + "]").substr(0, 80)},
        {"and at 80 - 2 * level", 5, "T [X " + word + "]", ("T [" + word + "]").substr(0, 70)},
        {"cut before escaping", 0, std::string(80, '<'),
         [] {
             std::string out;
             for (int i = 0; i < 74; ++i) out += "&lt;";
             return out + "...";
         }()},
        {"level 60 leaves no label", 60, title66 + " [X R1]", ""},
        {"a wild level is indented 64 deep", 2000000000, title66 + " [X R1]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string lines = library(0, "top.kvo", 1, "Top") + library(c.level, "x.kvo", 2, c.comment);
        test::ActionRequest cg({.replies = {test::verLine(), test::mlReply(lines)}});
        ASSERT_TRUE(cg.ok());
        ASSERT_EQ(cg.handler().PrintDropDownMenu(), 1) << cg->getError();
        std::string dashes;
        for (int i = 0; i < std::min(c.level, 64); ++i) dashes += "- ";
        EXPECT_EQ(cg.page(), option("00|1|top.kvo|", "-&nbsp; Top", true) +
                                 option("00|2|x.kvo|", dashes + "-&nbsp; " + c.label) + kLastOption);
        EXPECT_EQ(cg.sent(), "VER\nMLLIST\n");
    }
}

// Thousands of entries grow the buffer many times; the text before them
// stays.
TEST(LibraryDropDown, ManyEntriesAppendToThePage) {
    std::string lines;
    std::string options;
    for (unsigned i = 0; i < 3000; ++i) {
        const std::string name = "lib" + std::to_string(i) + ".kvo";
        lines += library(0, name, 100 + i, "Library " + std::to_string(i) + " [EN/X R1A]");
        options += option("00|" + std::to_string(100 + i) + "|" + name + "|",
                          "-&nbsp; Library " + std::to_string(i) + " [R1A]", i == 0);
    }
    test::ActionRequest cg({.replies = {test::verLine(), test::mlReply(lines)}, .fields = {{"ID", "7"}}});
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg->allocDocBuf(16), 1);
    cg->docSize = 0;
    ASSERT_EQ(cg->docWriteBuf("<select>\n"), 1);
    ASSERT_EQ(cg.handler().PrintDropDownMenu(), 1) << cg->getError();
    EXPECT_EQ(cg.page(), "<select>\n" + options + kLastOption);
}

TEST(LibraryDropDown, FailedListIsMessage48) {
    const std::string tag = "[kivohandler/35]</span>";
    struct {
        const char* name;
        std::vector<std::string> replies;
        std::string reason;  // "" when the client's own text explains
    } const cases[] = {
        {"a refusal", {test::verLine(), "511 Invalid ID <77>\n"}, "Invalid ID &#60;77&#62;"},
        {"no reply", {test::verLine()}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies, .fields = {{"ID", "77"}}});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.handler();
        EXPECT_EQ(kh.PrintDropDownMenu(), 0);
        const std::string address = "127.0.0.1:" + std::to_string(cg.peer().port());
        const std::string& error = cg->getError();
        if (c.reason.empty()) {
            EXPECT_TRUE(error.starts_with("Failed to list multilevel libraries on " + address + ", "))
                << error;
            EXPECT_TRUE(error.ends_with(tag)) << error;
        } else {
            EXPECT_EQ(error, formatChecked(msgFormat(48, "kivohandler/35"), address, c.reason));
        }
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.page(), "");
        EXPECT_EQ(cg.written(), "");
    }
}

}  // namespace
}  // namespace ruva
