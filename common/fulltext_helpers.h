// Text helpers of the daemon's full-text commands.
#pragma once

#include <optional>
#include <string>

namespace ruva {

// --- Document numbers of full-text hits -------------------------------------

// The document number a full-text hit reports for a member name
// "<stem>.<rev>.<type>": the stem and the revision with '_' written '/',
// joined by a blank, then "|" and the type unless it is absent or one of
// html, pdf, fdp (any case). No value when the name does not split
// (splitDocnoFilename).
std::optional<std::string> filenameToDocnoFS(const char* name);

}  // namespace ruva
