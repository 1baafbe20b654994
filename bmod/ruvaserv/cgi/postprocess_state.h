// What page post-processing keeps while it copies one page, and the
// switches that outlive the phases of the pass (the body and script
// inserters read them).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <unordered_set>

#include "bmod/ruvaserv/cgi/annotation_inserter.h"
#include "bmod/ruvaserv/cgi/search_word_matcher.h"

namespace ruva {

// Reset by CgiHandler::clear, so one process can post-process many pages.
struct PageSwitches {
    bool Flag_MenuDocFrame = false;  // shown in the document frame, with its context menu
    bool disableContxtMenu = false;  // the context menu is shown disabled
    bool contextMenuExist = false;   // the page gets the context-menu script
    bool flc = false;                // an embedded Flash document
};

// One pass; reset at every postProcessFile.
struct PassState {
    bool inTag = false;
    bool doneBody = false;
    bool inA = false;
    bool inH = false;
    bool inScript = false;
    bool metaDataStart = false;  // the page holds "<!--@BODY-->"
    bool metaDataDone = false;   // and it was passed
    bool endOfTitle = false;
    bool disableBodySearch = false;
    bool bAnnotated = false;
    bool bChapMatch = false;
    bool bFilterToolbar = false;
    bool bKivoMain = false;
    bool bKivoTree = false;
    bool bKivoDoc = false;
    bool tocKivoMain = false;
    bool tocKivoTree = false;
    bool bKivoMOM = false;
    bool isMOM = false;
    bool docLoaded = false;
    bool hInserted = false;
    int C_count = 0;
    int DC_count = 0;
    bool flag_del = false;
    int del_count = 0;
    bool isAfterTitle = false;
    bool tocScriptInserted = false;
    bool pppPending = false;
    bool metaHeaderPending = false;  // the body tag's '>' calls writeMetaHeader
    std::string sDTOCJavaScript;
    // TOC nodes the document-TOC script has declared so far ("dfT" first).
    std::unordered_set<std::string> declaredNodes;
    std::string searchReturn;  // set-up step 7: the query back to the search
    std::array<std::string, 4> patok;
    int patokCount = 0;
    bool complexExpression = false;
    bool isPhraseSearch = false;
    std::unique_ptr<KvoSrvAnnot> annot;
    std::string AN;
    bool hasAN = false;
    SearchWordMatcher matcher;
};

}  // namespace ruva
