// The copy pass of page post-processing, shared by the units that hold its
// rules (cgihandler_postprocess.cpp and the page-kind rules beside it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"

namespace ruva {

// One call of postProcessFile: the set-up, then a single forward pass over
// docBuf. Positions are offsets into docBuf (so_) and dstBuf (dstOffs), so
// a growing output buffer never leaves a stale pointer behind.
class PostProcessPass {
public:
    explicit PostProcessPass(CgiHandler& cg)
        : cg_(cg), ps_(cg.pass_), scan_(cg.docBuf, cg.docSize), page_(scan_.page()), size_(page_.size()) {}

    int run();

private:
    std::string field(const char* name) const {
        const Value* v = cg_.valueList ? cg_.valueList->findValue(name) : nullptr;
        return v ? v->value : std::string();
    }
    bool has(const char* name) const { return cg_.valueList && cg_.valueList->findValue(name); }
    bool matching() const { return ps_.matcher.active(); }

    int setUp();
    void setPageKind();
    int createAnnotation();
    void setMenuSwitches();
    void askMinutes();
    void buildByteKinds();

    int copyPage();
    void copyRun(size_t stop = std::string_view::npos);
    bool ruleMayTakeTag(size_t at) const;
    size_t linkBefore(size_t from, size_t colon) const;
    size_t linkAcross(size_t from, size_t limit) const;
    int copyByte();
    int write(std::string_view text) { return cg_.dstWriteBuf(text); }
    // One byte; every step starts with kPassMinFree bytes of room.
    void put(char c) {
        cg_.dstBuf[cg_.dstOffs++] = c;
        cg_.dstBuf[cg_.dstOffs] = '\0';
    }
    int copyThroughGt();
    void passTitleEnd(size_t at);
    int flushAnchor();
    int handOver();
    int finish();

    int atLt();
    int atGt();
    int atLink(bool qzl);
    int tagRules();
    int closingTagRules();
    bool framePageOfTree() const;
    int exportSheetFrameset();
    int bodyTag();
    int titleDiv();
    int deletedText();
    int titleEnd();
    int writeLibraryMeta();
    int docTitle();
    int marker();
    int scriptTags();
    int anchorTag();
    void addChapterNode(std::string_view anchor);
    int headingStart();
    int headingEnd();
    int documentEnd();
    size_t headingBound(size_t from) const;

    // The main and tree pages of a library's viewer (cgihandler_main_page.cpp).
    // A change the main page gets at a fixed place of its own script: at
    // `at`, text is written and `skip` page bytes are dropped. The search
    // link's text is chosen when it is written (its separators follow the
    // script state).
    struct MainPageEdit {
        size_t at;
        size_t skip;
        std::string text;
        bool searchLink = false;
    };
    void buildSearchReturn();
    int rewriteRenderNode();
    void planMainPage();
    void planTogB();
    void planInitializeTree();
    void planRenderTree();
    void planSearchLinks();
    int mainPageEdit();
    int mainFrameset();
    int treeBodyTag();

    CgiHandler& cg_;
    PassState& ps_;
    PageScan scan_;
    std::string_view page_;
    size_t size_;
    size_t so_ = 0;
    std::array<uint8_t, 256> kind_{};     // what the byte at a step's start is
    std::array<uint8_t, 256> runKind_{};  // what a byte within a run is
    std::string ID_, FN_, AC_;
    bool hasID_ = false, hasFN_ = false, hasAC_ = false;
    bool afterTitleAnchor_ = false;  // "_H" was written and no heading ended since
    bool ltInMarkup_ = false;        // the '<' at hand lies in a tag, comment or script
    size_t anchorAt_ = std::string_view::npos;        // where the pending chapter anchor goes
    std::string anchor_;
    std::vector<MainPageEdit> mainEdits_;  // sorted by place
    size_t nextMainEdit_ = 0;
    size_t mainAt_ = std::string_view::npos;  // the next edit's place
    bool treeFramePending_ = false;           // the main frame set was rewritten, its tree frame not yet
};

}  // namespace ruva
