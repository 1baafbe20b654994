// A stand-in annotation inserter: records each call post-processing makes
// and writes a visible mark for each insert, so tests see where the pass
// asks for annotation marks and what they receive.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/annotation_inserter.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva::test {

struct AnnotationScript {
    int status = 0;           // given to each inserter made
    bool refuse = false;      // the factory gives null
    std::string matchChapter; // checkNameAttr matches a tag holding this ("" none)
    std::vector<std::string> calls;  // "name(argument)" per call; the docname first
};

// The script the factory below reads and records into; tests reset it.
inline AnnotationScript& annotationScript() {
    static AnnotationScript script;
    return script;
}

class RecordingAnnotation : public KvoSrvAnnot {
public:
    explicit RecordingAnnotation(CgiHandler& cg) : cg_(cg) { status = annotationScript().status; }

    int checkNameAttr(std::string_view tag) override {
        const std::string_view head = tag.substr(0, tag.find('>'));
        record("checkNameAttr", head);
        const std::string& want = annotationScript().matchChapter;
        return !want.empty() && head.find(want) != std::string_view::npos;
    }
    int insertAnnotGif(std::string_view an) override { return mark("insertAnnotGif", an); }
    int insertAnnotationIfRequested(std::string_view fn, std::string_view an) override {
        return mark("insertAnnotationIfRequested", std::string(fn) + "," + std::string(an));
    }
    int insertJavaScript() override { return mark("insertJavaScript", ""); }
    int insertButVariables() override { return mark("insertButVariables", ""); }
    int insertButton() override { return mark("insertButton", ""); }

private:
    void record(std::string_view name, std::string_view argument) {
        annotationScript().calls.push_back(std::string(name) + "(" + std::string(argument) + ")");
    }
    int mark(std::string_view name, std::string_view argument) {
        record(name, argument);
        return cg_.dstWriteBuf("[" + std::string(name) + "]");
    }
    CgiHandler& cg_;
};

inline std::unique_ptr<KvoSrvAnnot> newRecordingAnnotation(std::string_view docname, CgiHandler& cg) {
    AnnotationScript& script = annotationScript();
    script.calls.push_back("new(" + std::string(docname) + ")");
    if (script.refuse) return nullptr;
    return std::make_unique<RecordingAnnotation>(cg);
}

}  // namespace ruva::test
