// Internal to the ZIP layer.
// Method 6, imploding: LZ77 over a 4 or 8 KiB window whose literals,
// lengths and distances are coded by Shannon-Fano trees stored at the start
// of the member.
//
//   int explode(UnzipGlobals& G);   (declared in decoder_state.h)
//
// General flag 0x02 selects the 8 KiB window (7 low distance bits read raw
// instead of 6); 0x04 adds the literal tree (else literals are 8 raw bits)
// and raises the minimum match from 2 to 3. Stops after G.ucsize bytes.
// Returns 0; 1 for an invalid code or input that ends too soon (or an
// output failure); 2 for an over-subscribed tree; 4 for a tree whose lengths
// do not cover its 256 or 64 codes; 5 when compressed bytes are left over
// after the last one.
#pragma once

#include "bmod/unzipd/zip/decoder_state.h"
