// The search-word matcher that runs inside the post-processing pass: it
// takes the request's search words at set-up and marks their hits in the
// body text as the pass copies it. Until it is built it takes no words and
// never acts, so pages pass through unmarked.
#pragma once

#include <cstddef>

namespace ruva {

class CgiHandler;
struct PassState;

class SearchWordMatcher {
public:
    // Takes the search words of the request (FT, else PA) into ps; 0 on a
    // failure with the error text set.
    int setUp(CgiHandler& cg, PassState& ps);

    // The end of the first title was passed ("/h2").
    void endOfTitle(PassState& ps);

    // A byte is about to be copied by the pass's last rule: 1 when the
    // matcher wrote it (or more; so moved), 0 when the pass copies it, -1
    // when a write failed.
    int atCopy(CgiHandler& cg, PassState& ps, size_t& so);

    // Another rule is about to act at so: a pending hit is handed over
    // first. 0 when a write failed, else 1.
    int beforeRule(CgiHandler& cg, PassState& ps, size_t& so);

    // The page ended: a pending hit is handed over. 0 when a write failed.
    int atEnd(CgiHandler& cg, PassState& ps, size_t& so);
};

}  // namespace ruva
