// The images of the front end's pages (toolbar buttons in their looks, list
// and tree icons, marks, logos), compiled in as whole GIF files so that no
// image file needs installing beside the program. The table is generated at
// build time by make_toolbar_icons.py from toolbar_icons.tsv.
#pragma once

#include <cstddef>

namespace ruva {

inline constexpr int kToolbarIconCount = 153;
inline constexpr std::size_t kToolbarActionSize = 89;

// One built-in image; static data.
struct ToolbarIcon {
    const char* name;
    int width;
    int height;
    int numcolors;              // entries of the GIF's colour table
    const unsigned char* bits;  // a whole GIF89a file
    std::size_t bcount;
    char action[kToolbarActionSize];  // the name again
};

// Image N in entry N-1.
extern const ToolbarIcon kToolbarIcons[kToolbarIconCount];

}  // namespace ruva
