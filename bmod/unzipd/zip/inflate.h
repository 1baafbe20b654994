// Internal to the ZIP layer.
// Inflate (deflate streams) over the shared decoder state; the entry point
// int inflate(UnzipGlobals&) is declared with the other decoders in
// decoder_state.h.
#pragma once

#include "bmod/unzipd/zip/decoder_state.h"

namespace ruva {

// Releases the fixed tables and the window inflate keeps per Unzip (built at
// its first member); null is ignored.
void deleteInflateTables(InflateTables* tables);

}  // namespace ruva
