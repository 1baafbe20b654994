// The one object of a CGI request: its configuration, its decoded fields,
// its two page buffers, its error text and the writers of the response.
// main makes one per process and deletes it before exit; every other unit
// of the front end reaches the request through it.
//
// Texts are std::string; where a value is cut, the cut is a named constant
// below (characters, without the NUL). Operations give 1 for success and 0
// for failure with the error text set, unless their comment says otherwise.
// Formats are string literals or table entries (checked_format.h), never
// outside text.
//
// Units: cgihandler.cpp (life cycle, errors, generic actions),
// cgihandler_config.cpp, cgihandler_input.cpp, cgihandler_output.cpp
// (buffers, headers, dates), cgihandler_pages.cpp (error page, page frame,
// toolbar, menu script), cgihandler_session.cpp (the document-server
// session), cgihandler_retrieval.cpp (member files from the server),
// cgihandler_postprocess.cpp (the copy pass; its fixed texts in
// cgihandler_postprocess_texts.cpp), cgihandler_markers.cpp (template
// markers), cgihandler_links.cpp (program links), cgihandler_body_scripts.cpp
// (body attributes and generated scripts), cgihandler_locations.cpp
// (redirections, previous page, meta header), cgihandler_highlight.cpp
// (search-term marks), cgihandler_phrase_highlight.cpp (phrase marks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/toolbar.h"
#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/postprocess_state.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/client/uzclient.h"

namespace ruva {

class CgiHandler;

// Bits of CgiHandler::flags.
inline constexpr size_t kCgiImageMapClick = 0x1;      // a field was an image-map click; PATH_INFO holds '/'-separated fields
inline constexpr size_t kCgiDocBufMapped = 0x2;       // docBuf is mapped memory (allocDocBuf)
inline constexpr size_t kCgiDocBufFile = 0x4;         // docBuf is a mapped file (file retrieval)
inline constexpr size_t kCgiResponseDone = 0x8;       // the response is written: every writer of cgifile checks it
inline constexpr size_t kCgiNoSearchWords = 0x10;     // generated page: post-processing marks no search hits
inline constexpr size_t kCgiWholePage = 0x20;         // page mark of the actions; cleared when the body has its own onload
inline constexpr size_t kCgiHitHandedOver = 0x40;     // post-processing handed over a first hit: no more order check
inline constexpr size_t kCgiNoExpires = 0x80;         // no Expires header
inline constexpr size_t kCgiHeadRequest = 0x100;      // HEAD: headers only
inline constexpr size_t kCgiBodyHandlers = 0x200;     // a body without its own onload gets the document frame's handlers
inline constexpr size_t kCgiUseAnnotation = 0x400;    // UseAnnotation
inline constexpr size_t kCgiUseLdap = 0x800;          // UseLDAP: log the user on with USER
inline constexpr size_t kCgiUseInfo = 0x1000;         // UseInfo
inline constexpr size_t kCgiUsePrint = 0x2000;        // UsePrint
inline constexpr size_t kCgiLanguageCodes = 0x4000;   // LanguageCodes given
inline constexpr size_t kCgiTestMode = 0x8000;        // TestMode: AC=ENV answers
inline constexpr size_t kCgiUseHelp = 0x10000;        // UseHelp
inline constexpr size_t kCgiUseAuth = 0x20000;        // UseAUTH
inline constexpr size_t kCgiAllowUzOnUrl = 0x40000;   // AllowUZonURL: the daemon address may come in and travel in URLs
inline constexpr size_t kCgiNotes = 0x80000;          // library notes in use; nothing sets it

// The document type declaration of the front end's XHTML pages (each of its
// two lines ends in CR LF) and their html start tag.
inline constexpr const char* kXhtmlDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\r\n"
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n";
inline constexpr const char* kXhtmlStartTag =
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">";


// The flags kivoserv's main starts with.
inline constexpr size_t kKivoservFlags = kCgiUseHelp | kCgiUsePrint | kCgiUseAnnotation | kCgiBodyHandlers;

// Bits of CgiHandler::options, the request's OP field (hexadecimal), carried
// on the program's own links while not 0.
inline constexpr uint32_t kOptBody = 0x1;             // set by AC=BODY
inline constexpr uint32_t kOptNoFrames = 0x20;        // Frames off
inline constexpr uint32_t kOptBit8 = 0x8;             // carried only; UP clears it
inline constexpr uint32_t kOptBit40 = 0x40;           // carried only; TBIMG and the page actions clear it
inline constexpr uint32_t kOptNoByteMapping = 0x80;   // post-processing keeps bytes 128-138 (print)
inline constexpr uint32_t kOptPlainFileLinks = 0x100; // export: links as bare FN names, body tag unchanged
inline constexpr uint32_t kOptExternSearch = 0x200;   // a search from an external entry page

// Cuts of the text members, in characters.
inline constexpr size_t kKivoProgNameMax = 32;
inline constexpr size_t kUseExtranetMax = 4;
inline constexpr size_t kPrintCommandMax = 255;
inline constexpr size_t kPaperSizeMax = 7;
inline constexpr size_t kUrlProtoMax = 15;
inline constexpr size_t kHttpdHostMax = 63;  // with its leading '/'
inline constexpr size_t kHttpdPortMax = 15;  // with its leading ':'
inline constexpr size_t kDocServAddrMax = 63;
inline constexpr size_t kConfigNameMax = 255;
inline constexpr size_t kTempPathMax = 4095;
inline constexpr size_t kServFieldMax = 64;  // servProg, servArticle, servRev
inline constexpr size_t kServIdMax = 3070;
inline constexpr size_t kBodyAttrsMax = 95;
inline constexpr size_t kBrowserNameMax = 31;
inline constexpr size_t kBrowserVersionMax = 15;
inline constexpr size_t kSearchMarkMax = 95;  // searchHighLight, searchNormal
inline constexpr size_t kServicenameMax = 31;
inline constexpr size_t kNotesCategoryMax = 4;
inline constexpr size_t kIsUserDocMax = 4;
inline constexpr size_t kGatewayInterfaceMax = 15;
inline constexpr size_t kMimeTypeMax = 256;
inline constexpr size_t kMimeFilenameMax = 256;
inline constexpr size_t kCurDbMax = 256;
inline constexpr size_t kCurChMax = 15;
inline constexpr size_t kCharEncodingMax = 15;
inline constexpr size_t kLibStateMax = 9;
inline constexpr size_t kShowMissingLibsMax = 4;
inline constexpr size_t kSuperUserNameMax = 14;
inline constexpr size_t kHelpIdMax = 256;
inline constexpr size_t kEnvNameMax = 255;  // authEnv, userEnv, profileEnv, userName, profileName
inline constexpr size_t kExtranetSupportUrlMax = 3071;

// Cuts of the operations, in characters.
inline constexpr size_t kErrorTextMax = 639;      // setError
inline constexpr size_t kErrorMessageMax = 1023;  // the message of outputError
inline constexpr size_t kHeadTitleMax = 3071;     // the title of outputHead
inline constexpr size_t kUrlStringMax = 3071;     // buildURLstring
inline constexpr size_t kLocationQueryMax = 3071; // a redirection's query, fragment included
inline constexpr size_t kFieldDecodeLimit = 3071; // a decoded field, name and '=' included (kivoserv)
inline constexpr size_t kConfigLineMax = 131143;  // a configuration line; the rest of a longer one is dropped

// The document buffer keeps this much room past docSize, so that
// post-processing can insert text without remapping; callers size the
// output buffer from dstbufSize and this slack.
inline constexpr size_t kDocBufSlack = 20480;
// dstPrintf writes nothing while fewer bytes than this are free (outside
// the post-processing pass).
inline constexpr size_t kDstPrintfMinFree = 80;
// POST bodies above this are refused (message 217).
inline constexpr size_t kPostBodyMax = 16 * 1024 * 1024;

// Expires periods, seconds.
inline constexpr time_t kDefaultExpirePeriod = 129600;
inline constexpr time_t kLongExpirePeriod = 94608000;  // three years: toolbar images, help pages

enum BrowserType : int {
    BROWSER_UNKNOWN = 0,
    BROWSER_NETSCAPE_1 = 1,
    BROWSER_NETSCAPE_2 = 2,
    BROWSER_NETSCAPE_3 = 3,
    BROWSER_NETSCAPE_4 = 4,
    BROWSER_NETSCAPE_6 = 6,
    BROWSER_NETSCAPE_7 = 7,
    BROWSER_IE_3 = 13,
    BROWSER_IE_4 = 14,
    BROWSER_IE_5 = 15,
    BROWSER_IE_6 = 16,
    BROWSER_FIREFOX_1 = 25,
};

enum BrowserPlatform : int {
    BPLF_UNKNOWN = 0,
    BPLF_WINDOWS = 1,
    BPLF_SUNOS = 2,
};

// Kinds of buildURLstring.
enum UrlStringKind : int {
    kUrlScriptQuery = 0,   // "&amp;" name "=" value coded for a script string
    kUrlPathFields = 1,    // "/" name "=" value coded for a query
    kUrlHiddenInputs = 2,  // <input type="hidden" .../> per field
};

// The marker handler of post-processing: gets the text after "<!--@@" of
// each template marker. 1 when it knew the marker.
using SpecCallback = int (*)(void* clientData, std::string_view marker);

// One key of the configuration file. A line's first token matches when it
// begins with name, compared without regard to case over matchLength
// characters (0: the name's own length). apply gets the value token (null
// when the line has none) and the rest of the line after the key token.
struct ConfigKey {
    const char* name;
    size_t matchLength;
    void (*apply)(CgiHandler& cg, const char* value, const char* rest);
};
using ConfigKeys = std::span<const ConfigKey>;

// kivoserv's keys, in the order they are tried.
ConfigKeys kivoConfigKeys();

// The configuration file for readConfigFile: the one KIVOSERVCONF names,
// else "kivo.conf" in the working directory or "/usr/local/etc/kivo.conf",
// whichever is readable first; "" for none (the defaults hold).
std::string findConfigFile();

class CgiHandler {
public:
    // del: clear, then the client and the lists.
    ~CgiHandler();
    CgiHandler(const CgiHandler&) = delete;
    CgiHandler& operator=(const CgiHandler&) = delete;

    // ---- life cycle and errors (cgihandler.cpp)

    // Drops the request state: the client's sessions (sess forgotten),
    // fields and languages, toolbar, both buffers, POST data, own
    // addresses, path info, error text, the texts the request set; flags 0.
    void clear();

    // The error text, "" when none.
    const std::string& getError() const { return errmsg; }
    // Formats and keeps the text as the error text (cut to kErrorTextMax).
    template <class... Args>
    void setError(FormatLiteral format, const Args&... args) {
        keepError(formatChecked(format, args...));
    }
    template <class... Args>
    void setError(const TableFormat& format, const Args&... args) {
        keepError(formatChecked(format, args...));
    }
    // Drops the error text.
    void setError(std::nullptr_t) { errmsg.clear(); }

    // Message index of this program's table with its tag, as a format.
    TableFormat msg(int index, const char* tag) const { return msgFormat(messages_, index, tag); }

    // Stores the marker handler and its client data; null, null unregister.
    void setSpecCallback(SpecCallback callback, void* clientData) {
        specCallback = callback;
        specClientData = clientData;
    }

    // Answers EMPTY, ENV (TestMode), NORESP and TBIMG, and turns LINKEXT
    // without FN into the default action; sets curDb, curId, curCh first.
    // 1 when the request is answered (flag 0x8) or its page is ready in
    // docBuf (ENV); 0 when a request action must run.
    int handleGenericActions();
    // The toolbar image answer: Expires, Content-type and, unless HEAD, the
    // image; by HEAD the block ends with its Content-length. 0 with message
    // 208 (or initToolbar's) when there is no image. Flag 0x8 is set as the
    // header lines go out; a failed write then gives 0 with the system's
    // error text.
    int tbimgAction();
    // A page of every environment entry (HTML-escaped) in docBuf; 0 with
    // message 243 when the buffer cannot be had.
    int printEnv();

    // ---- configuration (cgihandler_config.cpp)

    // Own host and port from the environment, then the file at path (null
    // or unreadable: defaults, configName empty), then the temporary
    // directory. Always 1; message 239 stays in the error text when no
    // temporary directory could be made.
    int readConfigFile(const char* path);

    // ---- CGI input (cgihandler_input.cpp)

    // Reads the request (method, fields, PATH_INFO, own address, options,
    // browser). 0 with messages 215-219 for a bad method or POST.
    int cgiEntry();
    // Stores the fields of text (length bytes, split at separator) in
    // valueList. 1 when the input ended (an empty name ends it), 0 when a
    // field could not be stored.
    int parseCgiInput(const char* text, size_t length, char separator);
    // The characters at *cursor up to separator, the end of the text or
    // *remaining; the cursor moves past the separator and *remaining counts
    // down. Null after outputError with message 241 for a null cursor or
    // text or a negative *remaining.
    std::optional<std::string> extractCgiField(const char** cursor, char separator, std::ptrdiff_t* remaining);
    // '+' to blank, "%XY" to its byte (only before two hex digits), "%00"
    // ends; at most decodeLimit() characters.
    std::string unescapeUrl(const char* field) const;

    // ---- page buffers and response (cgihandler_output.cpp)

    // Releases the old buffer, maps n + kDocBufSlack bytes; docSize n,
    // docbufSize as mapped, flag 0x2. 0 with message 234.
    int allocDocBuf(size_t n);
    // A mapped buffer of n bytes (docbufSize as mapped) holding the old
    // used bytes, or the old text up to its first NUL when that is longer,
    // as far as they fit with a NUL; flag 0x2 set, 0x4 cleared. The old one
    // is kept on failure (message 232).
    int reallocDocBuf(size_t n);
    // Unmaps or frees (a heap buffer is malloc's) the document buffer; sizes
    // 0, flags 0x2 and 0x4 cleared.
    void freeDocBuf();
    // Releases the old output buffer and maps n bytes (dstbufSize as
    // mapped), dstOffs 0. 0 with message 230.
    int allocDstBuf(size_t n);
    // As reallocDocBuf for the output buffer (message 231).
    int reallocDstBuf(size_t n);
    void freeDstBuf();

    // Appends the formatted text to docBuf, growing it. 0 without a buffer
    // or when it cannot grow.
    template <class... Args>
    int docPrintf(FormatLiteral format, const Args&... args) {
        return docWriteBuf(formatChecked(format, args...));
    }
    template <class... Args>
    int docPrintf(const TableFormat& format, const Args&... args) {
        return docWriteBuf(formatChecked(format, args...));
    }
    // Appends the formatted text at dstOffs. Outside the pass never grows:
    // 0 without a buffer, with fewer than kDstPrintfMinFree bytes free, or
    // when the text does not fit; a refused text leaves the NUL after the
    // used bytes. In the pass it writes as dstWriteBuf does.
    template <class... Args>
    int dstPrintf(FormatLiteral format, const Args&... args) {
        return dstPrintFormatted(formatChecked(format, args...));
    }
    template <class... Args>
    int dstPrintf(const TableFormat& format, const Args&... args) {
        return dstPrintFormatted(formatChecked(format, args...));
    }
    // Appends text to docBuf, growing it as docPrintf does: a grown buffer
    // keeps kDocBufSlack bytes free past the text; a mapped file (0x4) is
    // copied into memory first.
    int docWriteBuf(std::string_view text);
    // Appends text to dstBuf when it fits below dstbufSize, else 0. In the
    // pass a text that does not fit grows the buffer first.
    int dstWriteBuf(std::string_view text);
    // The pass mode of the output writers, on while post-processing copies
    // the page: dstPrintf, dstWriteBuf and dstWriteKvoURL then grow the
    // output buffer (at least doubling it) so that every write lands, since
    // text inserted into the page must not be lost. A growth that fails
    // gives 0 with message 211 and sets dstPassFailed() until the next
    // beginDstPass.
    void beginDstPass() {
        dstPass_ = true;
        dstPassFailed_ = false;
    }
    void endDstPass() { dstPass_ = false; }
    bool dstPassFailed() const { return dstPassFailed_; }
    // Appends urlProto + kivoServName + "?" and the request state (UZ with a
    // session and AllowUZonURL, OP, ID or DB), each parameter followed by
    // "&amp;". 0 when a piece does not fit.
    int dstWriteKvoURL();

    // outputFile: the header lines and the output buffer (else the document
    // buffer) to cgifile. 1 when all of it was written (for HEAD: the
    // header lines). Sets flag 0x8; 0 without writing once it is set.
    // Without a buffer it writes the error page (message 209), sets flag
    // 0x8 and gives 0.
    int output();
    // "Status: 204 No response" and flag 0x8; 0 with message 242 when
    // gatewayInterface is empty or holds "1.0". 0 once flag 0x8 is set.
    int outputNoResponse();
    // value as a header line may carry it: without CR, LF and NUL, which
    // would end the line and start one the request chose.
    static std::string headerValue(std::string_view value);
    // "Expires: " + the HTTP date of now + seconds (may be negative); none
    // when the date fails.
    std::optional<std::string> createExpireHeader(time_t seconds) const;
    // "Last-modified: " + the HTTP date of docCTime; none when docCTime is 0.
    std::optional<std::string> createLastModifiedHeader() const;
    // The RFC 1123 date of t in UTC ("Thu, 01 Jan 1970 00:00:00 GMT"); none
    // when t cannot be broken down.
    static std::optional<std::string> createHttpTime(time_t t);

    // ---- error page and page frame (cgihandler_pages.cpp)

    // Writes a whole error page with the formatted message (at most
    // kErrorMessageMax characters) between "<!--@error-->" and
    // "<!--@/error-->" to cgifile and sets flag 0x8. Writes nothing without
    // cgifile or once flag 0x8 is set; for HEAD only the header block.
    template <class... Args>
    void outputError(FormatLiteral format, const Args&... args) {
        writeErrorPage(formatChecked(format, args...));
    }
    template <class... Args>
    void outputError(const TableFormat& format, const Args&... args) {
        writeErrorPage(formatChecked(format, args...));
    }
    // An html head and H1 with the formatted title (at most kHeadTitleMax
    // characters) into docBuf. 0 with message 235 without a buffer.
    template <class... Args>
    int outputHead(FormatLiteral format, const Args&... args) {
        return writeHead(formatChecked(format, args...));
    }
    template <class... Args>
    int outputHead(const TableFormat& format, const Args&... args) {
        return writeHead(formatChecked(format, args...));
    }
    // "</body></html>\n" into docBuf. 0 with message 236 without a buffer.
    int outputTail();
    // The request fields but the excluded names (any case) as kind says,
    // ending with the last whole field within kUrlStringMax characters; ""
    // for another kind or when nothing is left.
    std::string buildURLstring(int kind, std::initializer_list<std::string_view> excluded) const;
    // Reads IM as "active[,inactive]", makes the toolbar on first use and
    // sets both icon numbers. 0 with message 237 or 238.
    int initToolbar();
    // The context-menu script into a new docBuf. 0 when the buffer cannot
    // be made.
    int generateJSBGMenuFunctions();

    // ---- session and post-processing (cgihandler_session.cpp)

    // The daemon address from UZ (with AllowUZonURL), RUVA_ADDR or the
    // configuration into docServAddr; 1 when it names a server, else 0.
    int determineDocumentServer();
    // 1 when the default session exists or could be made (sess set, servId
    // emptied); 0 with the error text set (202, 203), or without one when
    // no server is known.
    int createDefaultSession();
    // 1 when the default session answered VER acceptably (once per
    // request: servId set) and, with UseLDAP, USER passed; 0 with the error
    // text set (204, 205, the access notices). A refused server or user
    // leaves servId empty, so the next call asks again.
    int establishDefaultSession();
    // MLLIST of "[LI]" on the default session: the library's hash id, 0
    // when not found; its text into *hashID and the library's title into
    // *libTitle, each when given.
    int getHashIDfromLI(std::string_view LI, std::string* hashID, std::string* libTitle);
    // userName (after the first '\' of userEnv's variable) and profileName
    // (profileEnv's variable); 0 with message 246 when either is missing.
    int getUserDetails();

    // ---- file retrieval (cgihandler_retrieval.cpp)

    // Member file of library (an internal number of digits: MLLIST; else a
    // library file name: LIST) into docBuf, docSize its bytes as the server
    // sent them; sets folder, docCTime (0 unless exactly one library
    // matched), mimeType and mimeFilename. file may be a pattern; a ".fdp"
    // in it is turned into ".pdf" in place, and a ".pdf" without AC=IMAGE
    // fetches the frame page beside it. 0 with the error text set; docBuf
    // is kept until the member is asked for, gone after a failed RETR.
    // *missing, when given, is true only when the library is not listed or
    // holds no such member, false for every other outcome.
    int retrieveFile(const std::string& library, std::string& file, bool* missing = nullptr);

    // ---- page post-processing (cgihandler_postprocess.cpp)

    // Copies the page in docBuf (docSize bytes; docBuf is only read) into
    // the output buffer, rewriting program links, template markers,
    // anchors and scripts on the way. 1 when the output buffer holds the
    // page, or when the page is no text (no output buffer: output sends
    // docBuf unchanged); 0 with the error text set.
    int postProcessFile();
    // The state of the last pass, for the callees and for tests.
    const PassState& passState() const { return pass_; }

    // ---- body post-processing and generated scripts (cgihandler_body_scripts.cpp)

    // Attributes of the document's body tag, right after "<body" was
    // copied; so is the first byte after it and stays. Appends a blank and
    // the default look when the tag has no attributes of its own (bodyAttrs
    // set); unless options 0x100, a blank, the context-menu attribute, the
    // document frame's handlers (flag 0x200, no onload of the page's own;
    // an own onload clears flag 0x20) and the search page's. 0 when a write
    // failed.
    int bodyPostProcess(size_t& so);
    // The collection tree script (a collection page, before its first
    // "</script"): the root, then one node per library reference (subLibrary,
    // libCount) the server names by MLLIST, with the server's title; one it
    // does not name only with ShowMissingLibs Yes, linkless. subLibrary is
    // emptied. Nothing without references.
    int insertCTOCGenerateScript(size_t& so);
    // The library tree scripts and the tree-synchronising functions (main
    // page, before its first "</script"); nothing without kivoServName.
    int insertTOCGenerateScript();
    int insertAutoSyncScript();
    // Does nothing: the sync functions need no update; 1.
    int updateAutoSyncScript();
    // Appends text to the output buffer, growing it as needed; nothing for
    // an empty text. 0 when it could not grow (nothing written).
    int writeDocTOCJavaScript(std::string_view text, size_t& so);

    // ---- redirections, previous page and meta header (cgihandler_locations.cpp)

    // The redirections write "Location: " and the target, then an empty
    // line, to cgifile (nothing once flag 0x8 is set), set flag 0x8 and give
    // 1. Their queries join non-empty parts with one '&'; field values are
    // URL-coded for a script (mode 1), the texts taken as they are (uz,
    // opts, SL, the chapter) have bytes below 0x21 and 0x7F percent-coded; a
    // part that would take the query past kLocationQueryMax is left out
    // whole. An empty argument counts as none.

    // UP: back to the library's top page, AC=link with UZ, DT, ID or DB
    // (only beside a non-empty FN, TI or CW), MP and OP; option 0x8 is
    // cleared for good.
    int locationDbTop();
    // A file of a library by AC=LINK: UZ (uz, else the field), VR, DT, the
    // library (dbID as DB when it holds a '.', else as ID; without it the
    // ID or DB field), FN, IX, SL, OP when options are set, then opts; the
    // CH field, cut to kCurChMax, becomes the fragment and leaves the
    // fields.
    int locationDbFile(std::string_view uz, std::string_view dbID, std::string_view fn, std::string_view opts);
    // The start page kivoName, with "?UZ=" (uz, else the field) when
    // AllowUZonURL is on.
    int locationKivo(std::string_view uz);
    // PREVIOUS: a page in a new docBuf whose body, on load, enables the
    // toolbar's button b3 and goes two steps back in the history; sets flag
    // 0x20. 0 with message 214 when the buffer cannot be had.
    int outputPrevious();
    // The identity block at the top of a document, at its body tag's '>':
    // only for pages whose GENERATOR META holds "KIVOprod"; a "TOP" anchor
    // at so is written once and so moves past it. DOCNAME, DOCNO and REV
    // keep their entities. 0 when a write into the output buffer failed.
    int writeMetaHeader(size_t& so);

    // ---- search-term highlighting (cgihandler_highlight.cpp)

    // Marks the hit region of the output that runs from doffs - (paState -
    // 1) to dstOffs; patterns[0] is the hit, the others only take part in
    // the order check (skipped once flag 0x40 is set): a pattern missing
    // or found before the one ahead of it leaves the region as it is. Each
    // pattern's first occurrence outside a tag is wrapped in
    // searchHighLight and searchNormal unless ST is INSTANT; the hit gets
    // "<a name=\"SearchMatchN\" class=\"csm\">" and "</a>", or, inside a
    // link (inA), the empty anchor before the last "<a " of the output's
    // last 400 bytes. paMatchCount is raised before each anchor. paState
    // becomes 0 unless the hit was marked. A region that is not there
    // (paState < 1, or past dstOffs) is left alone. 0 only when a write
    // into the output buffer failed.
    int patternPostProcess(int& paState, unsigned& paMatchCount, bool inA, size_t& doffs,
                           std::span<const std::string_view> patterns);
    // The page htmlCode with every occurrence of the phrase pattern (as
    // typed, quotes included) in its body marked: an anchor
    // "<a name=\"<searchMatch>N\" class=\"csm\"></a>" (N from 1; none when
    // searchMatch is empty) and the match between highlightStart and
    // highlightEnd, split around the tags it holds. The body runs from
    // "<!--@BODY-->" (else the start) to the context menu (else
    // "</html>"); a page without either end, or a pattern without a word,
    // comes back unchanged. result gets the new or unchanged text: 1; 0
    // only when memory ran out (reAlloc's message 211 in the error text,
    // result untouched).
    int patternHighlight(std::string_view htmlCode, std::string_view pattern, std::string_view highlightStart,
                         std::string_view highlightEnd, std::string_view searchMatch, std::string& result);

    // ---- template markers (cgihandler_markers.cpp)

    // The marker whose text starts at so in docBuf, just after the
    // "<!--@@" that the pass has already copied: takes those 6 bytes back
    // out of the output, hands specCallback the text up to the marker's '>'
    // (the rest of the page when there is none) and, when it refuses the
    // marker, writes the marker back byte for byte; without a handler the
    // marker vanishes. so moves past the '>' (to docSize without one).
    // Reads nothing at or past docSize. 0 when a write into the output
    // buffer failed (in the pass: message 211), else 1.
    int specPostProcess(size_t& so);

    // ---- program links (cgihandler_links.cpp)

    // The program link whose scheme ("http:/" as written, or urlProto for
    // "qzl:/", any case) the pass has already written; so is just after it
    // in docBuf. A link whose host is "kivo" gets the script address and,
    // after '?', the request's context the link does not name itself (UZ,
    // OP, ID, DB, SL), each followed by "&" inside a script, else "&amp;";
    // an "ac=image" link becomes the toolbar image link. In plain-file mode
    // (options 0x100) the link becomes its bare FN value. Fields count only
    // at a field start, up to the link's end (its closing quote, else a
    // blank or '>'). so moves past what was consumed; the pass copies the
    // rest. Reads nothing at or past docSize. 0 when a write failed (in the
    // pass: message 211), else 1.
    int httpPostProcess(size_t& so, bool inScript);

    // ---- program parameters

    TextTable messages() const { return messages_; }
    ConfigKeys configKeys() const { return configKeys_; }
    size_t decodeLimit() const { return decodeLimit_; }

    // ---- data (texts carry their own length: size())

    size_t flags = 0;
    uint32_t options = 0;
    std::string buffer;  // POST data
    size_t buflen = 0;   // bytes of it read
    std::unique_ptr<UzClient> uzc;  // the document-server client
    UzSession* sess = nullptr;  // the default session, owned by uzc; null until made
    std::unique_ptr<Toolbar> toolbar;  // made by initToolbar
    std::unique_ptr<ValueList> valueList;  // the CGI fields, names case-blind
    SpecCallback specCallback = nullptr;
    // newKvoSrvAnnot of the request actions; null: pages get no
    // annotation marks.
    KvoSrvAnnotFactory annotFactory = nullptr;
    // Switches of post-processing that the body and script inserters read.
    PageSwitches pageSwitches;
    void* specClientData = nullptr;  // not owned
    std::string pathInfo;  // PATH_INFO when not parsed as fields; "" for none
    std::string pathphp;
    std::string privacyURL;
    std::string privacyStyle = "none";  // "inline" with a PrivacyURL
    std::string privacyStatus;
    int catCookieExpire = 30;  // days
    std::string phpBinary;
    std::string ProfileId;
    std::string uploaderScriptPath;
    std::string useExtranet;  // kUseExtranetMax
    std::string thankyounote;
    std::string UserDocUrlDita;
    std::string UserDocUrlXTAVR;
    std::string isZopaUrl;
    std::string disclaimer;  // notes disclaimer HTML
    // httpdHost + httpdPort + SCRIPT_NAME ("/host:8080/cgi-bin/kivoserv").
    std::string kivoServName;
    std::string kivoProgName = "kivo";  // kKivoProgNameMax
    // urlProto + httpdHost + script directory + kivoProgName.
    std::string kivoName;
    std::string scriptName;  // the script directory, with its '/'
    int imagemapX = 0;
    int imagemapY = 0;
    int imBits = 0;
    int imPassiveBits = 0;
    BrowserType browserType = BROWSER_UNKNOWN;
    BrowserPlatform browserPlatform = BPLF_UNKNOWN;
    time_t expirePeriod = kDefaultExpirePeriod;
    time_t docCTime = 0;  // modification time of docBuf's document; 0 none
    FILE* cgifile = stdout;
    // Document buffer: the page as fetched or built. docSize used bytes,
    // docbufSize capacity; the text is NUL-ended.
    size_t docbufSize = 0;
    size_t docSize = 0;
    char* docBuf = nullptr;
    // Output buffer: the page as rewritten. Grows only in the pass mode.
    size_t dstbufSize = 0;
    size_t dstOffs = 0;
    char* dstBuf = nullptr;
    std::string errmsg;
    std::string printCommand;  // kPrintCommandMax, '~' expanded
    std::string paperSize;     // kPaperSizeMax
    std::string urlProto = "http:/";  // kUrlProtoMax
    std::string httpdHost;        // "/" + host, kHttpdHostMax
    std::string httpdPort;        // ":" + port, "" for 80, kHttpdPortMax
    std::string docServAddr = "localhost:9229";  // "host:port", kDocServAddrMax
    std::string configName;       // the file read, "" for none
    std::string TempPath;         // with its '/', kTempPathMax
    std::string servProg;         // kServFieldMax each
    std::string servArticle;
    std::string servRev;
    std::string servId;  // "" until the session greeted the server
    std::string bodyAttrs;        // kBodyAttrsMax
    std::string browserName;      // kBrowserNameMax
    std::string browserVersion;   // kBrowserVersionMax
    std::string searchHighLight;  // kSearchMarkMax
    std::string servicename;      // kServicenameMax
    std::string notes_category;   // kNotesCategoryMax
    std::string isUserDoc = "Yes";  // kIsUserDocMax
    std::string searchNormal;     // kSearchMarkMax
    std::string gatewayInterface; // kGatewayInterfaceMax
    std::string mimeType;         // "" is text/html; kMimeTypeMax
    std::string mimeFilename;     // for Content-Disposition; kMimeFilenameMax
    std::string curDb;            // DB without blanks; kCurDbMax
    int curId = 0;
    int isBrowserIE11 = 0;
    int isBrowserIE10 = 0;
    int folder = 0;
    std::string curCh;  // kCurChMax
    char** envp = nullptr;  // as main got it; not owned
    std::vector<std::string> subLibrary;
    std::string libraryTitle;
    std::string libraryId;
    int libCount = 0;  // entries of subLibrary
    std::unique_ptr<ValueList> langList;  // language code -> name
    int charEnc = 0;  // 1 once CharEncoding was read
    std::string charEncoding;  // kCharEncodingMax
    int FileTransferTimeLimit = 10;  // minutes
    int bHardLimit = 0;
    time_t commandTimeout = 0;  // seconds; 0 the client's default
    // Libstate; also the library state the request actions read.
    std::string strLibState;  // kLibStateMax
    std::string superUserName;  // Superusername, read by the request actions; kSuperUserNameMax
    int isCollection = 0;
    int collectionHashId = 0;
    std::string showMissingLibs;  // kShowMissingLibsMax
    int helpCount = 0;
    std::string helpID;  // kHelpIdMax
    int highlightFlag = 0;
    std::string authEnv = "REMOTE_USER";  // kEnvNameMax
    int notesEnabled = 0;
    int bNotes = 0;
    std::string userEnv = "REMOTE_USER";
    std::string profileEnv = "REMOTE_USER";
    std::string userName;
    std::string profileName;
    time_t expiryPrelDoc = 600;
    time_t expiryPrelDocNotes = 180;
    time_t expiryRRelDoc = 1800;
    time_t expiryMyDoc = 518400;
    time_t expiryMyDocLatestRel = 21600;
    std::string extranetSupportURL;  // kExtranetSupportUrlMax

private:
    // The copy pass works on the pass state and the output writers.
    friend class PostProcessPass;
    // Tests reach the inserts of the pass and its state through it.
    friend struct PostProcessMenusProbe;
    friend std::unique_ptr<CgiHandler> newCgiHandler(size_t flags, char** envp, TextTable messages,
                                                     ConfigKeys keys, size_t decodeLimit);
    CgiHandler(TextTable messages, ConfigKeys keys, size_t decodeLimit)
        : messages_(messages), configKeys_(keys), decodeLimit_(decodeLimit) {}

    // The library references behind LI links, asked for at most once per
    // request.
    struct LinkState {
        bool fileFetched = false;
        std::vector<std::string> libRefs;  // "prodno|rstate|title"
        std::string libTitle;              // the current library's, blanks removed
    };

    void keepError(std::string text);
    // Steps of retrieveFile.
    int checkLibrary(const std::string& library, bool* missing);
    int listMember(const std::string& library, const std::string& file, std::string& database, std::string& member,
                   bool* missing);
    int retrieveMember(const std::string& database, const std::string& member);
    int writeContextFields(std::string_view query, std::string_view sep);
    // Inserts of the pass before "</head>" and "</body>" are copied
    // (cgihandler_postprocess_menus.cpp); 0 when a write failed.
    int insertHeadEnd();
    int insertBodyEnd();
    // The toolbar page's rule at the '<' at so: 1 when it acted (so moved
    // past what it copied), 0 when it does not apply, -1 when a write
    // failed.
    int toolbarPageRule(size_t& so);
    // Copies the script at so up to end, completing its program links; 0
    // when a write failed.
    int copyScriptUpTo(size_t& so, size_t end);
    const LinkState& libraryReferences();
    // patternPostProcess inside a link: the empty hit anchor before the
    // last "<a " of the output's last 400 bytes (none there: nothing).
    int insertAnchorBeforeLink(unsigned& paMatchCount);
    int dstPrintFormatted(std::string_view text);
    int dstAppend(std::string_view text);
    int growDstFor(size_t length);
    void writeErrorPage(std::string_view message);
    int writeHead(std::string_view title);

    TextTable messages_;
    ConfigKeys configKeys_;
    size_t decodeLimit_;
    LinkState linkState_;
    PassState pass_;
    bool dstPass_ = false;
    bool dstPassFailed_ = false;
};

// The request object with its field and language lists, flags as given
// (main passes kKivoservFlags) and envp kept. The message table, the
// configuration keys and the decode limit are the program's: kivoserv's by
// default. Null when it cannot be made.
std::unique_ptr<CgiHandler> newCgiHandler(size_t flags, char** envp, TextTable messages = kivoMessages(),
                                          ConfigKeys keys = kivoConfigKeys(),
                                          size_t decodeLimit = kFieldDecodeLimit);

// The address of the current page (urlProto + kivoServName + "?" +
// QUERY_STRING) with its FN value replaced by fileName, whatever followed
// the old name's ".html" kept; an old name without that extension leaves
// the address ending "FN=". "" keeps the address. '\'', '"', '\\', '<', '>',
// '`' and control bytes percent-coded, for a page or a script string; at
// most kGetUrlMax characters.
inline constexpr size_t kGetUrlMax = 3071;
std::string getURL(const CgiHandler& cg, std::string_view fileName);

// ---- search-term highlighting (cgihandler_highlight.cpp)

// 0 when src begins with srcwild, else 1. Without '?' in srcwild the
// comparison is case-blind; with one, each character of srcwild must equal
// the upper-case form of the text's (srcwild is given in upper case) or be
// '?', which takes any one character. Only ASCII letters change case: bytes
// from 128 up compare as they stand. A src shorter than srcwild gives 1.
int strncasewildcmp(std::string_view srcwild, std::string_view src);
// The first position of lookfor in searchee, ASCII case-blind, where '?'
// takes one character that is neither punctuation nor white space, and a
// '?' that ends lookfor also the end of the text ("a?" is found in a text
// ending "a"). npos for none; an empty lookfor is found at 0, and nothing
// but it in an empty searchee.
size_t strncasewildstr(std::string_view searchee, std::string_view lookfor);
// The search expression without each '!' and the word after it: from the
// '!' on, characters are dropped up to the next word separator, which
// stays ("a !b c" gives "a  c").
std::string filterNotWords(std::string_view pattern);
// Gives buffer room for newSize bytes in a new allocation holding its
// first min(oldSize, newSize) bytes; equal sizes change nothing. 1; 0 with
// message 211 [cgihandler/15.5] when the memory cannot be had (buffer as it
// was).
int reAlloc(CgiHandler& cg, std::string& buffer, size_t newSize, size_t oldSize);

// The clock of the response dates; null restores time(). Tests set a fixed
// one.
void setResponseClock(time_t (*clock)());

// The transfer time-out: an alarm of FileTransferTimeLimit minutes whose
// handler reports the overrun and, with bHardLimit, exits 0. Never installed
// in a request; 1.
int activateTimeout(CgiHandler& cg);
void deactivateTimeout();

}  // namespace ruva
