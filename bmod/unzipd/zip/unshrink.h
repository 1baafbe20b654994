// Internal to the ZIP layer.
// Method 1, shrinking: LZW with codes of 9 to 13 bits, widened and
// partially cleared on the encoder's command (code 256 followed by 1 or 2).
//
//   int unshrink(UnzipGlobals& G);   (declared in decoder_state.h)
//
// The end of the compressed data ends decoding. Returns 0, or 1 for invalid
// data (a first code above 255, an unknown control value, a widen past 13
// bits, an undefined code other than the next one to be assigned, a prefix
// walk that meets a free code, cycles or outgrows the string stack) and for
// an output failure, including output past G.ucsize.
#pragma once

#include "bmod/unzipd/zip/decoder_state.h"
