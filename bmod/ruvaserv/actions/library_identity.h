// The library identity look-ups of the action handler: a library named by
// its file name (DB), hash id (ID) or library identity (LI) turned into
// another of these forms by asking the document server through the
// request's default session. The look-ups are KivoHandler operations,
// declared with it; this unit defines them and the texts they share.
#pragma once

#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/kivohandler.h"

namespace ruva {

class CgiHandler;

// The message telling that a library is not available, untagged, with
// first and second in its two "%s" as given (callers escape outside text):
// under UseAUTH 220 when servicename is "Tessaport" in any case, else 221;
// without it 222 when UseExtranet begins "Yes" in any case, else 224.
std::string notAvailableText(const CgiHandler& cg, std::string_view first, std::string_view second);

// A library identity as people read it: white space and controls dropped,
// upper case; a leading digit's language prefix through its '/'; the
// letters, a blank; the number up to the first 'P' or 'R', split after its
// third character when longer; a blank and the revision.
// "en/abc1234567r1a" gives "EN/ABC 123 4567 R1A".
std::string libraryRefDisplayForm(std::string_view reference);

// The text without white space and controls, at most max characters.
std::string withoutBlanks(const std::string& text, size_t max);

}  // namespace ruva
