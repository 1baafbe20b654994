#include "bmod/ruvaserv/cgi/search_word_matcher.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

int SearchWordMatcher::setUp(CgiHandler&, PassState&) { return 1; }

void SearchWordMatcher::endOfTitle(PassState&) {}

int SearchWordMatcher::atCopy(CgiHandler&, PassState&, size_t&) { return 0; }

int SearchWordMatcher::beforeRule(CgiHandler&, PassState&, size_t&) { return 1; }

int SearchWordMatcher::atEnd(CgiHandler&, PassState&, size_t&) { return 1; }

}  // namespace ruva
