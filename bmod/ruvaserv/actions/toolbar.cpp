#include "bmod/ruvaserv/actions/toolbar.h"

#include <new>

namespace ruva {

std::unique_ptr<Toolbar> newToolbar() {
    std::unique_ptr<Toolbar> tb(new (std::nothrow) Toolbar);
    if (!tb) return nullptr;
    for (int i = 0; i < kToolbarIconCount; ++i) tb->icons[i] = &kToolbarIcons[i];
    return tb;
}

int Toolbar::createToolbar() {
    // A failed selection must not leave an earlier image to be served.
    toolbar = nullptr;
    toolbarLen = 0;
    for (int n = 1; n <= kToolbarIconCount; ++n) {
        if (n != activeIcon && n != inactiveIcon) continue;
        const ToolbarIcon* icon = icons[n - 1];
        if (!icon) continue;
        if (icon->width == 0 || icon->height <= 0) return 0;
        toolbar = icon->bits;
        toolbarLen = icon->bcount;
        return 1;
    }
    return 0;
}

int Toolbar::displayToolbar(FILE* stream) {
    if (!toolbar || !stream) return 0;
    if (fprintf(stream, "Content-length: %lu\n\n", static_cast<unsigned long>(toolbarLen)) < 0) return 0;
    size_t written = fwrite(toolbar, 1, toolbarLen, stream);
    // A full disk or a closed pipe may show only at the flush.
    if (fflush(stream) != 0) return 0;
    return written == toolbarLen ? 1 : 0;
}

}  // namespace ruva
