// Selects one built-in image by number and writes it as the body of an
// image response (the TBIMG request: IM=active[,inactive]).
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

#include "bmod/ruvaserv/actions/toolbar_icons.h"

namespace ruva {

// Slots of Toolbar::icons: image N in slot N-1. The last slot stays empty,
// so number 154 is never served.
inline constexpr int kToolbarSlots = 154;

class Toolbar {
public:
    ~Toolbar() = default;  // del: the images are static data
    Toolbar(const Toolbar&) = delete;
    Toolbar& operator=(const Toolbar&) = delete;

    void setActiveIcons(long number) { activeIcon = number; }
    void setInactiveIcons(long number) { inactiveIcon = number; }
    // Selects the lowest image number from 1 to 153 that equals the active
    // or the inactive number and has a slot: 1 when that image has a
    // non-zero width and height (toolbar and toolbarLen then name it), else
    // 0. No match: 0. After a 0 nothing is selected.
    int createToolbar();
    // Writes "Content-length: N\n\n" and the selected image's N bytes, then
    // flushes. 0 when nothing is selected or any write or the flush fails.
    int displayToolbar(FILE* stream);

    const unsigned char* toolbar = nullptr;  // the selected image, not owned
    std::size_t toolbarLen = 0;
    const ToolbarIcon* icons[kToolbarSlots] = {};
    long activeIcon = 0;
    long inactiveIcon = 0;

private:
    friend std::unique_ptr<Toolbar> newToolbar();
    Toolbar() = default;
};

// A toolbar with slots 1 to 153 filled and nothing selected; null when
// memory runs out.
std::unique_ptr<Toolbar> newToolbar();

}  // namespace ruva
