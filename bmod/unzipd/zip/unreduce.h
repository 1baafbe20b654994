// Internal to the ZIP layer.
// Methods 2-5, reducing with factors 1-4: runs of repeated bytes coded
// behind the escape byte 144, the bytes then coded against a follower set
// of likely successors of the previous byte.
//
//   int unreduce(UnzipGlobals& G, int factor);   (declared in decoder_state.h)
//
// Stops after exactly G.ucsize bytes. Returns the result of the final flush
// (0), or 1 when the input ends too soon, a follower index lies outside its
// set, the factor is not 1-4 or the output fails.
#pragma once

#include "bmod/unzipd/zip/decoder_state.h"
