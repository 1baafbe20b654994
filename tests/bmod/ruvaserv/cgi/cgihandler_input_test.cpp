#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace ruva {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Env = std::vector<std::pair<const char*, std::optional<std::string>>>;

// Every variable cgiEntry reads; a case names those it sets, the rest are
// unset.
constexpr const char* kCgiVariables[] = {
    "REQUEST_METHOD", "QUERY_STRING", "PATH_INFO",       "CONTENT_TYPE",
    "CONTENT_LENGTH", "SCRIPT_NAME",  "HTTP_USER_AGENT", "GATEWAY_INTERFACE",
};

class CgiEnv {
public:
    explicit CgiEnv(const Env& set) {
        for (const char* name : kCgiVariables) guard_.set(name, std::nullopt);
        for (const auto& [name, value] : set) guard_.set(name, value);
    }

private:
    test::EnvGuard guard_;
};

// Standard input from bytes for as long as it lives.
class StdinFrom {
public:
    explicit StdinFrom(const std::string& bytes) : saved_(dup(STDIN_FILENO)) {
        FILE* file = std::tmpfile();
        if (!file) return;
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fflush(file);
        std::rewind(file);
        dup2(fileno(file), STDIN_FILENO);
        std::fclose(file);
    }
    // For a pipe's read end; the caller keeps writing to the other end.
    explicit StdinFrom(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    ~StdinFrom() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    StdinFrom(const StdinFrom&) = delete;
    StdinFrom& operator=(const StdinFrom&) = delete;

private:
    int saved_;
};

std::unique_ptr<CgiHandler> handler(size_t extraFlags = 0) {
    auto cg = newCgiHandler(kKivoservFlags | extraFlags, environ);
    if (cg) {
        // What readConfigFile takes from the environment.
        cg->httpdHost = "/127.0.0.1";
        cg->httpdPort = ":8080";
    }
    return cg;
}

Pairs pairsOf(const CgiHandler& cg) {
    Pairs out;
    for (const Value* v = cg.valueList->firstValue(); v; v = cg.valueList->nextValue(v))
        out.emplace_back(v->name, v->value);
    return out;
}

TEST(CgiInput, QueryFieldsAreStoredAsTheRequestGaveThem) {
    const std::string longValue(5000, 'a');
    struct {
        const char* name;
        std::string query;
        size_t extraFlags;
        Pairs want;
    } const cases[] = {
        {"AC is cut at '#'", "AC=link%23top", 0, {{"AC", "link"}}},
        {"a later value under the first name", "x=1&X=2", 0, {{"x", "2"}}},
        {"a DB wildcard keeps its original", "DB=abc*", 0, {{"DB_Original", "abc*"}, {"DB", "abc*"}}},
        {"an LI wildcard loses its blanks, keeps its '/'",
         "LI=//EN/+A*",
         0,
         {{"LI_Original", "//EN/A*"}, {"LI", "//EN/A*"}}},
        {"an LI without wildcard keeps its blanks", "LI=//EN/+A", 0, {{"LI", "//EN/ A"}}},
        {"UZ needs AllowUZonURL", "UZ=host:1&a=1", 0, {{"a", "1"}}},
        {"UZ by its decoded name", "%55Z=x&uz=y", 0, {}},
        {"UZ with AllowUZonURL", "UZ=host:1", kCgiAllowUzOnUrl, {{"UZ", "host:1"}}},
        {"%55Z with AllowUZonURL", "%55Z=x", kCgiAllowUzOnUrl, {{"UZ", "x"}}},
        {"percent and plus decode", "%41%2b+", 0, {{"A+ ", ""}}},
        {"an empty field ends the input", "a=1&&b=2", 0, {{"a", "1"}}},
        {"an empty name ends the input", "=x&a=1", 0, {}},
        {"a '%' without two hex digits stays", "x=%&y=%4&z=%zz", 0, {{"x", "%"}, {"y", "%4"}, {"z", "%zz"}}},
        {"%00 ends the field", "v=a%00b&w=1", 0, {{"v", "a"}, {"w", "1"}}},
        {"the decode cut counts name and '='", "v=" + longValue, 0, {{"v", std::string(3069, 'a')}}},
        {"the program's own originals are dropped",
         "DB_Original=x&LI_Original=y&li_hidden=z&a=1",
         0,
         {{"a", "1"}}},
        {"NS raw, TI made harmless", "NS=%3Cb%3E&TI=%22a%22", 0, {{"NS", "<b>"}, {"TI", "&#34;a&#34;"}}},
        {"names stored as they come", "%3Cb%3Ex=1", 0, {{"<b>x", "1"}}},
        {"split at the first decoded '='", "a%3Db=c", 0, {{"a", "b=c"}}},
        {"not a click: a value", "12,34=5", 0, {{"12,34", "5"}}},
        {"not a click: no comma", "12", 0, {{"12", ""}}},
        {"not a click: no leading digit", "x12,34", 0, {{"x12,34", ""}}},
        {"a trailing separator adds nothing", "a=1&", 0, {{"a", "1"}}},
        // The generic actions upper-case AC and read DB themselves.
        {"AC as it came", "AC=empty", 0, {{"AC", "empty"}}},
        {"AC ENV", "AC=ENV", 0, {{"AC", "ENV"}}},
        {"AC LINKEXT without FN", "AC=LINKEXT", 0, {{"AC", "LINKEXT"}}},
        {"DB beginning '-'", "DB=-abc", 0, {{"DB", "-abc"}}},
        {"DB with a blank", "DB=a+b", 0, {{"DB", "a b"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env({{"QUERY_STRING", c.query}});
        auto cg = handler(c.extraFlags);
        ASSERT_EQ(cg->cgiEntry(), 1);
        EXPECT_EQ(pairsOf(*cg), c.want);
        EXPECT_EQ(cg->flags & kCgiImageMapClick, 0u);
        EXPECT_EQ(cg->getError(), "");
    }
}

TEST(CgiInput, UnescapeUrlDecodesOnlyWholeEscapes) {
    const std::string longField(5000, 'b');
    struct {
        std::string field;
        std::string want;
    } const cases[] = {
        {"%41%2b+", "A+ "},
        {"%", "%"},
        {"%4", "%4"},
        {"%zz", "%zz"},
        {"a%00b", "a"},
        {"%e9%C3", "\xe9\xc3"},
        {longField, std::string(3071, 'b')},
    };
    auto cg = handler();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field.substr(0, 20));
        // No slack after the NUL: a look past "%4" is an AddressSanitizer report.
        auto field = test::exactCopy(c.field);
        EXPECT_EQ(cg->unescapeUrl(field.get()), c.want);
    }
    EXPECT_EQ(cg->unescapeUrl(nullptr), "");
}

TEST(CgiInput, ImageMapClickSendsTheFieldsThroughPathInfo) {
    struct {
        const char* name;
        const char* query;
        const char* pathInfo;
        int x, y;
        Pairs want;
        std::string keptPathInfo;
    } const cases[] = {
        {"click, fields in PATH_INFO", "12,34", "/AC=TBIMG/IM=5", 12, 34, {{"AC", "TBIMG"}, {"IM", "5"}}, ""},
        {"leading slashes skipped", "1,2", "///AC=EMPTY", 1, 2, {{"AC", "EMPTY"}}, ""},
        {"click with an empty value", "7,8=", "/a=1", 7, 8, {{"a", "1"}}, ""},
        {"coordinates clamped", "99999999999,-99999999999", "", INT_MAX, INT_MIN, {}, ""},
        {"no click: PATH_INFO kept", "AC=LINK", "/AC=TBIMG/IM=5", 0, 0, {{"AC", "LINK"}}, "/AC=TBIMG/IM=5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env({{"QUERY_STRING", c.query}, {"PATH_INFO", c.pathInfo}});
        auto cg = handler();
        ASSERT_EQ(cg->cgiEntry(), 1);
        EXPECT_EQ(pairsOf(*cg), c.want);
        EXPECT_EQ(cg->imagemapX, c.x);
        EXPECT_EQ(cg->imagemapY, c.y);
        EXPECT_EQ((cg->flags & kCgiImageMapClick) != 0, c.x != 0);
        EXPECT_EQ(cg->pathInfo, c.keptPathInfo);
    }
}

constexpr char kForm[] = "application/x-www-form-urlencoded";
constexpr char kNotSet[] = "CONTENT_TYPE or CONTENT_LENGTH not set with POST method.<br><br>";

Env post(std::optional<std::string> type, std::optional<std::string> length) {
    return {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", length}};
}

TEST(CgiInput, FieldsComeFromTheQueryOrThePostBody) {
    Env postWithQuery = post(kForm, "18");
    postWithQuery.emplace_back("QUERY_STRING", "q=1");
    struct {
        const char* name;
        Env env;
        std::string body;
        Pairs want;
    } const cases[] = {
        {"no method is GET", {{"QUERY_STRING", "a=1"}}, "b=2", {{"a", "1"}}},
        {"an empty method is GET", {{"REQUEST_METHOD", ""}, {"QUERY_STRING", "a=1"}}, "", {{"a", "1"}}},
        {"POST reads the body, not the query",
         postWithQuery,
         "AC=blank&BG=00ff00",
         {{"AC", "blank"}, {"BG", "00ff00"}}},
        {"POST reads CONTENT_LENGTH bytes", post(kForm, "5"), "AC=blank&BG=00ff00", {{"AC", "bl"}}},
        {"an empty body", post(kForm, "0"), "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env(c.env);
        StdinFrom in(c.body);
        auto cg = handler();
        EXPECT_EQ(cg->cgiEntry(), 1) << cg->getError();
        EXPECT_EQ(pairsOf(*cg), c.want);
        EXPECT_EQ(cg->flags & kCgiHeadRequest, 0u);
    }
}

TEST(CgiInput, BadMethodOrPostIsRefusedBeforeAnyField) {
    struct {
        const char* name;
        Env env;
        std::string body;
        std::string error;  // the start of the error text
        const char* tag;
    } const cases[] = {
        {"no CONTENT_TYPE", post(std::nullopt, "3"), "a=1", kNotSet, "cgihandler/17"},
        {"no CONTENT_LENGTH", post(kForm, std::nullopt), "a=1", kNotSet, "cgihandler/17"},
        {"CONTENT_LENGTH -1", post(kForm, "-1"), "a=1", kNotSet, "cgihandler/17"},
        {"CONTENT_LENGTH abc", post(kForm, "abc"), "a=1", kNotSet, "cgihandler/17"},
        {"CONTENT_LENGTH empty", post(kForm, ""), "a=1", kNotSet, "cgihandler/17"},
        {"CONTENT_LENGTH 3x", post(kForm, "3x"), "a=1", kNotSet, "cgihandler/17"},
        {"text/plain", post("text/plain", "3"), "a=1",
         "Unknown CONTENT_TYPE provided with POST method, text&#47;plain.<br><br>", "cgihandler/18"},
        {"a CONTENT_TYPE holding markup", post("<img src=x onerror=alert(1)>&\"'", "3"), "a=1",
         "Unknown CONTENT_TYPE provided with POST method, "
         "&#60;img src=x onerror=alert(1)&#62;&amp;&#34;&#39;.<br><br>",
         "cgihandler/18"},
        {"a huge CONTENT_LENGTH", post(kForm, "99999999999"), "a=1",
         "Out of memory allocating CGI buffer of size 4294967295.<br><br>", "cgihandler/19"},
        {"one byte above 16 MiB", post(kForm, "16777217"), "a=1",
         "Out of memory allocating CGI buffer of size 16777218.<br><br>", "cgihandler/19"},
        {"16 MiB is allowed, then read short", post(kForm, "16777216"), "a=1",
         "Could not read 16777216 bytes POST data from stdin, got 3.<br><br>", "cgihandler/20"},
        {"CONTENT_LENGTH above the body", post(kForm, "10"), "AC=ab",
         "Could not read 10 bytes POST data from stdin, got 5.<br><br>", "cgihandler/20"},
        {"PUT",
         {{"REQUEST_METHOD", "PUT"}, {"QUERY_STRING", "a=1"}},
         "",
         "Unknown request method PUT.<br><br>",
         "cgihandler/21"},
        {"a method holding markup",
         {{"REQUEST_METHOD", "<x>"}},
         "",
         "Unknown request method &#60;x&#62;.<br><br>",
         "cgihandler/21"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env(c.env);
        StdinFrom in(c.body);
        auto cg = handler();
        EXPECT_EQ(cg->cgiEntry(), 0);
        const std::string& error = cg->getError();
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_NE(error.find(std::string("[") + c.tag + "]</span>"), std::string::npos) << error;
        EXPECT_EQ(pairsOf(*cg), Pairs{});
    }
}

TEST(CgiInput, HeadIsGetWithHeadersOnly) {
    CgiEnv env({{"REQUEST_METHOD", "HEAD"}, {"QUERY_STRING", "AC=TBIMG&IM=5"}});
    auto cg = handler();
    ASSERT_EQ(cg->cgiEntry(), 1);
    EXPECT_NE(cg->flags & kCgiHeadRequest, 0u);
    EXPECT_EQ(pairsOf(*cg), (Pairs{{"AC", "TBIMG"}, {"IM", "5"}}));
}

// A long CONTENT_TYPE must not push the tag out of the error text, nor leave
// its span or an entity cut open on the page.
TEST(CgiInput, LongEnvironmentTextKeepsTheMessageWhole) {
    struct {
        const char* name;
        Env env;
        const char* tag;
    } const cases[] = {
        {"CONTENT_TYPE of quotes", post(std::string(2000, '"'), "0"), "cgihandler/18"},
        {"method of letters", {{"REQUEST_METHOD", std::string(2000, 'X')}}, "cgihandler/21"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env(c.env);
        StdinFrom in("");
        auto cg = handler();
        ASSERT_EQ(cg->cgiEntry(), 0);
        const std::string& error = cg->getError();
        EXPECT_LE(error.size(), kErrorTextMax);
        std::string end = std::string(".<br><br><span style='color:#D8D8D8'> [") + c.tag + "]</span>";
        ASSERT_GE(error.size(), end.size());
        EXPECT_EQ(error.substr(error.size() - end.size()), end);
        size_t amp = error.rfind('&');
        if (amp != std::string::npos) {
            EXPECT_NE(error.find(';', amp), std::string::npos);
        }
    }
}

TEST(CgiInput, PostBodyArrivesWholeOverShortReads) {
    std::string body;
    // More than a pipe holds, so that the writer waits for the reader.
    for (int i = 0; i < 10000; ++i) body += "f" + std::to_string(i) + "=" + std::to_string(i * 7) + "&";
    body.pop_back();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // One byte a write: the body arrives in many short reads.
    std::thread writer([&] {
        for (char c : body)
            if (write(fds[1], &c, 1) != 1) break;
        close(fds[1]);
    });
    {
        CgiEnv env(post(kForm, std::to_string(body.size())));
        StdinFrom in(fds[0]);
        auto cg = handler();
        EXPECT_EQ(cg->cgiEntry(), 1) << cg->getError();
        EXPECT_EQ(cg->buflen, body.size());
        EXPECT_EQ(cg->buffer, body);
        EXPECT_EQ(pairsOf(*cg).size(), 10000u);
        const Value* last = cg->valueList->findValue("f9999");
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->value, "69993");
    }
    writer.join();
    close(fds[0]);
}

TEST(CgiInput, OwnAddressesCarryHostPortAndScriptDirectory) {
    struct {
        const char* name;
        const char* host;
        const char* port;
        std::optional<std::string> scriptName;
        const char* progName;
        const char* servName;
        const char* scriptDir;
        const char* kivoName;
    } const cases[] = {
        {"with port", "/127.0.0.1", ":8080", "/cgi-bin/kivoserv", "kivo", "/127.0.0.1:8080/cgi-bin/kivoserv",
         "/cgi-bin/", "http://127.0.0.1:8080/cgi-bin/kivo"},
        {"port 80", "/host", "", "/cgi-bin/kivoserv", "kivo", "/host/cgi-bin/kivoserv", "/cgi-bin/",
         "http://host/cgi-bin/kivo"},
        {"no SCRIPT_NAME", "/host", "", std::nullopt, "kivo", "/host/kivoserv", "/", "http://host/kivo"},
        {"empty SCRIPT_NAME", "/host", "", "", "kivo", "/host/kivoserv", "/", "http://host/kivo"},
        {"IPv6 host", "/[::1]", ":8080", "/cgi-bin/kivoserv", "kivo", "/[::1]:8080/cgi-bin/kivoserv",
         "/cgi-bin/", "http://[::1]:8080/cgi-bin/kivo"},
        {"another program name", "/h", ":81", "/a/b/kivoserv", "start", "/h:81/a/b/kivoserv", "/a/b/",
         "http://h:81/a/b/start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CgiEnv env({{"SCRIPT_NAME", c.scriptName}});
        auto cg = handler();
        cg->httpdHost = c.host;
        cg->httpdPort = c.port;
        cg->kivoProgName = c.progName;
        ASSERT_EQ(cg->cgiEntry(), 1);
        EXPECT_EQ(cg->kivoServName, c.servName);
        EXPECT_EQ(cg->scriptName, c.scriptDir);
        EXPECT_EQ(cg->kivoName, c.kivoName);
    }
}

TEST(CgiInput, OptionsAndGatewayInterface) {
    struct {
        const char* query;
        std::optional<std::string> gateway;
        uint32_t options;
        const char* gatewayKept;
    } const cases[] = {
        {"OP=20", "CGI/1.1", 0x20, "CGI/1.1"},
        {"op=1F0", std::nullopt, 0x1f0, ""},
        {"OP=zz", "0123456789abcdefXYZ", 0, "0123456789abcde"},
        {"a=1", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CgiEnv env({{"QUERY_STRING", c.query}, {"GATEWAY_INTERFACE", c.gateway}});
        auto cg = handler();
        cg->options = 0xffff;
        ASSERT_EQ(cg->cgiEntry(), 1);
        EXPECT_EQ(cg->options, c.options);
        EXPECT_EQ(cg->gatewayInterface, c.gatewayKept);
    }
}

TEST(CgiInput, UserAgentGivesBrowserAndPlatform) {
    struct {
        std::optional<std::string> agent;
        BrowserType type;
        BrowserPlatform platform;
        const char* name;
        const char* version;
        int ie10, ie11;
    } const cases[] = {
        {std::nullopt, BROWSER_UNKNOWN, BPLF_UNKNOWN, "", "", 0, 0},
        {"", BROWSER_UNKNOWN, BPLF_UNKNOWN, "", "", 0, 0},
        {"Opera/9.80 (Windows NT 6.1)", BROWSER_UNKNOWN, BPLF_WINDOWS, "Opera", "9.80", 0, 0},
        {"Mozilla/1.1 (X11)", BROWSER_NETSCAPE_1, BPLF_UNKNOWN, "Mozilla", "1.1", 0, 0},
        {"Mozilla/2.0 (compatible; Foo)", BROWSER_IE_3, BPLF_UNKNOWN, "Mozilla", "2.0", 0, 0},
        {"Mozilla/2.02 (X11)", BROWSER_NETSCAPE_2, BPLF_UNKNOWN, "Mozilla", "2.02", 0, 0},
        {"Mozilla/3.01 (X11; I; SunOS 5.4 sun4m)", BROWSER_NETSCAPE_3, BPLF_UNKNOWN, "Mozilla", "3.01", 0, 0},
        {"MOZILLA/4.7 [en] (X11; U; Linux)", BROWSER_NETSCAPE_4, BPLF_UNKNOWN, "MOZILLA", "4.7", 0, 0},
        {"Mozilla/5.0 (Windows; U; Windows NT 5.1; rv:0.9.4) Gecko/20011128 Netscape6/6.2.1",
         BROWSER_NETSCAPE_6, BPLF_WINDOWS, "Mozilla", "5.0", 0, 0},
        {"Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)", BROWSER_IE_4, BPLF_WINDOWS, "Mozilla", "4.0", 0,
         0},
        {"Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)", BROWSER_IE_5, BPLF_WINDOWS, "Mozilla", "4.0", 0,
         0},
        {"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)", BROWSER_IE_6, BPLF_WINDOWS, "Mozilla", "4.0",
         0, 0},
        {"Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0)", BROWSER_IE_6, BPLF_WINDOWS,
         "Mozilla", "5.0", 1, 0},
        {"Mozilla/5.0 (compatible; MSIE 9.0", BROWSER_IE_6, BPLF_UNKNOWN, "Mozilla", "5.0", 0, 0},
        {"Mozilla/4.0 (compatible; MSIE)", BROWSER_IE_4, BPLF_UNKNOWN, "Mozilla", "4.0", 0, 0},
        {"Mozilla/5.0 (Windows NT 6.1; Trident/7.0; rv:11.0) like Gecko", BROWSER_IE_6, BPLF_WINDOWS,
         "Mozilla", "5.0", 0, 1},
        {"Mozilla/5.0 (Trident/7.0; rv:1)", BROWSER_UNKNOWN, BPLF_UNKNOWN, "Mozilla", "5.0", 0, 0},
        {"Mozilla/5.0 (X11; rv:1.9) Gecko Firefox/1.5", BROWSER_FIREFOX_1, BPLF_UNKNOWN, "Mozilla", "5.0", 0,
         0},
        {"Mozilla/5.0 (X11; rv:99.0) Gecko/20100101 Firefox/99.0", BROWSER_UNKNOWN, BPLF_UNKNOWN, "Mozilla",
         "5.0", 0, 0},
        {"Mozilla/4.0 Firefox", BROWSER_UNKNOWN, BPLF_UNKNOWN, "Mozilla", "4.0", 0, 0},
        {"Mozilla/5.0 (Windows; U; Windows NT 5.1; rv:1.7.5) Gecko/20050519 Netscape/7.2", BROWSER_NETSCAPE_7,
         BPLF_WINDOWS, "Mozilla", "5.0", 0, 0},
        {"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) HeadlessChrome/120.0 "
         "Safari/537.36",
         BROWSER_UNKNOWN, BPLF_UNKNOWN, "Mozilla", "5.0", 0, 0},
        {std::string(40, 'A') + "/1" + std::string(30, '2'), BROWSER_UNKNOWN, BPLF_UNKNOWN,
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "122222222222222", 0, 0},
        {std::string(130, 'x') + "/1.0", BROWSER_UNKNOWN, BPLF_UNKNOWN, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "",
         0, 0},
        {"Mozilla/", BROWSER_UNKNOWN, BPLF_UNKNOWN, "Mozilla", "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.agent.value_or("(unset)"));
        CgiEnv env({{"HTTP_USER_AGENT", c.agent}});
        auto cg = handler();
        ASSERT_EQ(cg->cgiEntry(), 1);
        EXPECT_EQ(cg->browserType, c.type);
        EXPECT_EQ(cg->browserPlatform, c.platform);
        EXPECT_EQ(cg->browserName, c.name);
        EXPECT_EQ(cg->browserVersion, c.version);
        EXPECT_EQ(cg->isBrowserIE10, c.ie10);
        EXPECT_EQ(cg->isBrowserIE11, c.ie11);
        // Parsed on a copy: the environment stays as it came.
        const char* after = std::getenv("HTTP_USER_AGENT");
        EXPECT_EQ(after ? std::optional<std::string>(after) : std::nullopt, c.agent);
    }
}

TEST(CgiInput, ExtractCgiFieldStopsAtSeparatorEndOrCount) {
    const char text[] = "ab=1&cd";
    struct {
        const char* name;
        std::ptrdiff_t remaining;
        std::string field;
        std::ptrdiff_t moved;
    } const cases[] = {
        {"up to the separator, past it", 7, "ab=1", 5},    {"up to the count", 2, "ab", 2},
        {"a count ending on the separator", 5, "ab=1", 5}, {"nothing left", 0, "", 0},
        {"the end of the text first", 100, "ab=1", 5},
    };
    auto cg = handler();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const char* cursor = text;
        std::ptrdiff_t remaining = c.remaining;
        auto field = cg->extractCgiField(&cursor, '&', &remaining);
        ASSERT_TRUE(field.has_value());
        EXPECT_EQ(*field, c.field);
        EXPECT_EQ(cursor - text, c.moved);
        EXPECT_EQ(remaining, c.remaining - c.moved);
    }
    const char* cursor = "cd";
    std::ptrdiff_t remaining = 2;
    auto last = cg->extractCgiField(&cursor, '&', &remaining);
    EXPECT_EQ(last, std::optional<std::string>("cd"));
    EXPECT_EQ(*cursor, '\0');

    // Refusals answer with an error page: keep it off the test's output.
    FILE* page = std::tmpfile();
    ASSERT_NE(page, nullptr);
    cg->cgifile = page;
    const char* none = nullptr;
    std::ptrdiff_t negative = -1;
    EXPECT_EQ(cg->extractCgiField(nullptr, '&', &remaining), std::nullopt);
    EXPECT_EQ(cg->extractCgiField(&none, '&', &remaining), std::nullopt);
    cursor = text;
    EXPECT_EQ(cg->extractCgiField(&cursor, '&', &negative), std::nullopt);
    EXPECT_EQ(cg->extractCgiField(&cursor, '&', nullptr), std::nullopt);
    EXPECT_EQ(cursor, text);
    cg->cgifile = stdout;
    std::fclose(page);
}

// Seeded random requests: pieces that decode, cut, click and hide
// themselves, in random order and length.
std::string randomInput(std::mt19937& rng) {
    static const char* const kPieces[] = {
        "%", "%4",    "%00", "%2",   "%55",    "%5", "Z",         "UZ",      "=",   "&",   "/",   "+",   ",",
        "#", "*",     "DB",  "LI",   "AC",     "OP", "_Original", "_Hidden", "%3D", "%26", "%2F", "%23", "a",
        "1", "12,34", " ",   "\xff", "%C3%A9", "\"", "'",         "<",       ">",   "NS",  "%7",  "f",   "F",
    };
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> count(0, 40);
    std::string out;
    for (int n = count(rng); n > 0; --n) out += kPieces[piece(rng)];
    if (rng() % 50 == 0) out += "v=" + std::string(3000 + rng() % 2000, 'x') + "%4";
    return out;
}

std::string randomAgent(std::mt19937& rng) {
    static const char* const kPieces[] = {
        "Mozilla/", "MSIE ", "MSIE", ";", "Trident", "rv:", "Firefox/", "Firefox", "Netscape",   "/",
        "1",        "5",     "7",    "9", "10",      " ",   "(",        "Win",     "compatible", "x",
    };
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> count(0, 12);
    std::string out;
    for (int n = count(rng); n > 0; --n) out += kPieces[piece(rng)];
    return out;
}

TEST(CgiInput, RandomQueriesAndPathInfosPassCleanly) {
    std::mt19937 rng(20240521);
    for (int i = 0; i < 10000; ++i) {
        std::string query = randomInput(rng);
        // Every other request is a click, so that its PATH_INFO is parsed.
        if (i % 2) query = "3,4&" + query;
        CgiEnv env({{"REQUEST_METHOD", i % 3 ? "GET" : "HEAD"},
                    {"QUERY_STRING", query},
                    {"PATH_INFO", randomInput(rng)},
                    {"HTTP_USER_AGENT", randomAgent(rng)}});
        auto cg = handler(i % 4 ? 0 : kCgiAllowUzOnUrl);
        ASSERT_EQ(cg->cgiEntry(), 1) << query;
        for (const Value* v = cg->valueList->firstValue(); v; v = cg->valueList->nextValue(v)) {
            ASSERT_FALSE(v->name.empty()) << query;
            ASSERT_LE(v->name.size(), kFieldDecodeLimit) << query;
            if (!(cg->flags & kCgiAllowUzOnUrl)) {
                ASSERT_NE(strcasecmp(v->name.c_str(), "UZ"), 0) << query;
            }
        }
    }
}

}  // namespace
}  // namespace ruva
