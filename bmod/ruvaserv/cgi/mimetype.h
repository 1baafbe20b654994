// File-name extensions to MIME types for documents sent to the browser, and
// toolbar image names to icon numbers.
#pragma once

namespace ruva {

// The type of the first table row that matches the extension (without its
// '.'): patterns with wildcards by matchPattern, others compared as words,
// both without regard to case. The last row "*" catches everything, so the
// result is never null for a text; null for a null extension.
const char* getMimeTypeByExtension(const char* extension);

// Icon number of a toolbar image name ("PREL.gif" 117), compared without
// regard to case; 0 when unknown or null.
int imageMapping(const char* name);

}  // namespace ruva
