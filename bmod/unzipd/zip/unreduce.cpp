#include "bmod/unzipd/zip/unreduce.h"

#include <bit>

namespace ruva {

namespace {

constexpr unsigned kEscape = 144;
constexpr size_t kWindow = sizeof(ReduceArea::window);  // a power of two above the 4 KiB reach

// Bits of a follower index into a set of n (1-63): enough for n - 1, at
// least one.
unsigned followerBits(unsigned n) {
    unsigned b = unsigned(std::bit_width(n - 1));
    return b ? b : 1;
}

}  // namespace

int unreduce(UnzipGlobals& G, int factor) {
    if (factor < 1 || factor > 4) return 1;
    // Nothing at all to decode: an empty member need not carry follower sets.
    if (G.ucsize == 0 && G.bytesLeft() == 0) return 0;
    // Length bits of the byte after the escape, and the shift that leaves
    // the high distance bits of that byte.
    const unsigned lengthMask = 0xFFu >> factor;
    const unsigned distShift = 8 - unsigned(factor);

    ReduceArea& ra = G.area.reduce;
    for (int x = 255; x >= 0; --x) {
        unsigned n = G.getBits(6);
        G.Slen[x] = (unsigned char)n;
        for (unsigned i = 0; i < n; ++i) ra.followers[x][i] = (unsigned char)G.getBits(8);
        if (G.zipeof) return 1;
    }

    // The escape machine: 0 plain bytes; 1 after 144 (0 stands for a
    // literal 144, else a length and high distance bits); 2 the length goes
    // on in the next byte; 3 the next byte is the low distance.
    int state = 0;
    unsigned lengthByte = 0, length = 0;
    unsigned last = 0;  // the follower state sees every decoded byte, escapes too
    unsigned char* window = ra.window;
    size_t w = 0;
    unsigned long left = G.ucsize;
    int r;
    auto put = [&](unsigned char c) {
        window[w++] = c;
        --left;
        if (w == kWindow) {
            w = 0;
            return G.flush(window, kWindow);
        }
        return 0;
    };

    while (left) {
        unsigned c;
        unsigned n = G.Slen[last];
        if (n == 0 || G.getBits(1)) {
            c = G.getBits(8);
        } else {
            unsigned i = G.getBits(followerBits(n));
            if (i >= n) return 1;
            c = ra.followers[last][i];
        }
        if (G.zipeof) return 1;
        last = c;

        switch (state) {
            case 0:
                if (c == kEscape) {
                    state = 1;
                } else if ((r = put((unsigned char)c)) != 0) {
                    return r;
                }
                break;
            case 1:
                if (c == 0) {
                    if ((r = put(kEscape)) != 0) return r;
                    state = 0;
                } else {
                    lengthByte = c;
                    length = c & lengthMask;
                    state = length == lengthMask ? 2 : 3;
                }
                break;
            case 2:
                length += c;
                state = 3;
                break;
            default: {
                // Before the member's first byte the window holds zeros.
                size_t dist = ((lengthByte >> distShift) << 8) + c + 1;
                size_t src = (w - dist) & (kWindow - 1);
                for (unsigned long k = length + 3; k && left; --k) {
                    if ((r = put(window[src])) != 0) return r;
                    src = (src + 1) & (kWindow - 1);
                }
                state = 0;
                break;
            }
        }
    }
    return G.flush(window, w);
}

}  // namespace ruva
