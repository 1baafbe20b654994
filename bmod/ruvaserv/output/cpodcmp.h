// Block comparison of COD (class 19082) and POD (class 19083) documents:
// the old and new HTML renderings are cut into blocks at their class
// markers, the blocks are compared pairwise in order with tags and white
// space ignored, and the differing blocks of each side, sanitised for
// display, are kept under the report key of that side's row.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace ruva {

class CgiHandler;

enum CPodDocType { DOC_TYPE_COD = 0, DOC_TYPE_POD = 1 };

// compareDocs' results, values as the report tests them.
enum class CompareDocsResult : int {
    kError = -1,   // getError says why
    kEqual = 0,    // every block pair equal: nothing stored, row not shown
    kDiffers = 1,  // a block differed or a document was missing
};

// getDocData's results.
enum class DocDataResult : int {
    kDone = 0,        // copied, or not fetched (then the copy is empty)
    kCopyFailed = 1,  // message 183
};

inline constexpr char kCodDocId[] = "19082";
inline constexpr char kPodDocId[] = "19083";
inline constexpr std::size_t kCPodErrorMax = 80;

class CPodCmp {
public:
    ~CPodCmp();
    CPodCmp(const CPodCmp&) = delete;
    CPodCmp& operator=(const CPodCmp&) = delete;

    // 1 when docno is a valid number whose file name's class is exactly
    // "19082" (COD) or "19083" (POD); else 0.
    int isCodDocument(const std::string& docno) const;
    int isPodDocument(const std::string& docno) const;

    // Fetches oldDocno from oldLib and newDocno from newLib, compares their
    // blocks and stores each side's differing blocks under oldKey and
    // newKey. A document that cannot be fetched stores "Document missing!"
    // on its side. The request's docCTime, mimeType, mimeFilename and folder
    // are as before the call on every return.
    CompareDocsResult compareDocs(const std::string& oldLib, const std::string& newLib,
                                  const std::string& oldDocno, const std::string& newDocno,
                                  const std::string& oldKey, const std::string& newKey);

    // Characters ever stored, for sizing the report's page.
    std::size_t getResultsSize() const;
    // The error text of the last failure, at most kCPodErrorMax characters.
    const std::string& getError() const;
    // The block text stored under key, null when none; valid while this
    // object lives and no compareDocs stores under the same key.
    const std::string* findResult(const std::string& key) const;

    // The document docno ("article revision", split at the last blank) of
    // library as "<file name of article and revision>.html", fetched through
    // the request into result; result empty when it was not fetched (the
    // request's error text then cleared).
    DocDataResult getDocData(const std::string& library, const std::string& docno, std::string& result);

    // Text operations on one block, in place unless said otherwise.

    // 0x80 '|'; 0x81, 0x86, 0x88 '+'; 0x82, 0x83 '\'; 0x84, 0x85, 0x87 '-';
    // 0x89, 0x8a '/'; other bytes stay.
    static void convertToLineGraphChars(std::string& block);
    // Removes white space but a line feed not followed by another line feed
    // and not at the start of the result.
    static void stripSpaces(std::string& block);
    // Removes each '<' through the next '>' (to the end when none).
    static void stripHtmlTags(std::string& block);
    // Removes each "<" + tag (any case) through the next '>'.
    static void stripCertainHtmlTags(std::string& block, std::string_view tag);
    // 0 when both are missing (null) or equal up to their ends or up to
    // delimiter ('\0': none); 1 otherwise, also when one is missing.
    static int byteCmp(const std::string* a, const std::string* b, char delimiter);
    // Where the tag of the first string of strings (table order before
    // position) found from `from` (any case) opens: its '<', searched back
    // no further than the document start (so it may lie before from); a
    // '>' met first rejects that find and the string's next find is tried.
    // npos when no string yields a tag.
    static std::size_t findNextStartStr(std::string_view document, std::size_t from,
                                        std::span<const char* const> strings);
    // Where a block starting at from ends: the next "<h" + digit, else the
    // next "</body>" (both any case), else document.size().
    static std::size_t findNextEndStr(std::string_view document, std::size_t from);
    // A copy safe to place in the report: only the attributes class,
    // colspan, rowspan, align, valign, width, height, border, cellpadding,
    // cellspacing, bgcolor, nowrap, size and color are kept; script, style,
    // iframe, frame, frameset, object, embed, applet, form, meta, link, base
    // and svg tags go (script and style with their content).
    static std::string sanitizeDisplayCopy(std::string_view html);

private:
    friend std::unique_ptr<CPodCmp> NewCPodCmp(CgiHandler& cg);
    explicit CPodCmp(CgiHandler& cg) : cg_(cg) {}

    int checkDocType(const std::string& docno, CPodDocType type) const;
    // Message index of the table with its tag as errMsg_, cut to
    // kCPodErrorMax characters without splitting the tag's span.
    void fail(int index, const char* tag);
    // heading (when not empty) and data onto buffer, counted in
    // totalResultDataSize_.
    void appendToResultBuffer(std::string& buffer, std::string_view data, std::string_view heading);
    // text under key; nothing for no text.
    void addBlockToResultBt(const std::string& key, std::string text);
    // Compares the blocks of two fetched documents, collecting the
    // differing ones into oldResult and newResult.
    CompareDocsResult compareBlocks(std::string_view oldDoc, std::string_view newDoc, CPodDocType kind,
                                    std::string& oldResult, std::string& newResult);

    CgiHandler& cg_;
    std::string errMsg_;
    std::size_t totalResultDataSize_ = 0;
    std::map<std::string, std::string> results_;  // report key -> differing blocks
};

// The block comparer fetching through cg (not owned; must outlive it); null
// when memory is short.
std::unique_ptr<CPodCmp> NewCPodCmp(CgiHandler& cg);

}  // namespace ruva
