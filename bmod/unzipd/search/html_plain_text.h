// Plain text of a rendered HTML member and the phrase test on it: the
// full-text index search keeps a phrase hit only when its member holds the
// phrase as whole words.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/plain_text.h"

namespace ruva {

class Unzip;
class ZipStructure;
struct CentralHeader;

// 1 when the plain text of the NUL-ended html holds the phrase by
// findPhrase; else 0 (also for null arguments or an empty phrase).
int getRawHtmlWithoutHtmlTag(const char* html, const char* phrase);

// Called when a member could not be extracted, so that the caller can have
// the catalogue refreshed.
using ExtractFailureHook = std::function<void(ZipStructure* zs, const CentralHeader* ch)>;

// The phrase test of one library: every member matching `members` is
// extracted with uz and tested with getRawHtmlWithoutHtmlTag on a NUL-ended
// copy; the answer is that of the last member tested, 0 when none was. A
// library whose size or modification time differs from the catalogue's
// (or that is gone) answers 1 without being read: it is being replaced.
// Nothing is written anywhere.
int getRawHtml(Unzip& uz, ZipStructure* zs, const char* members, const char* phrase,
               const ExtractFailureHook& onExtractFailure = {});

}  // namespace ruva
