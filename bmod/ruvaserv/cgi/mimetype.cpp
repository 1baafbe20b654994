#include "bmod/ruvaserv/cgi/mimetype.h"

#include <strings.h>

#include "common/patterns.h"

namespace ruva {

namespace {

struct MimeRow {
    const char* pattern;
    const char* type;
};

// Searched in order, the first match wins; the last row catches everything.
// clang-format off
constexpr MimeRow kMimeRows[] = {
    {"htm*", "text/html"},
    {"gif", "image/gif"},
    {"pdf", "application/pdf"},
    {"jp*", "image/jpeg"},
    {"js", "application/javascript"},
    {"png", "image/png"},
    {"xl[acmstw]", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xlsm", "application/vnd.ms-excel.sheet.macroEnabled.12"},
    {"xltm", "application/vnd.ms-excel.template.macroEnabled.12"},
    {"xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template"},
    {"swf", "application/x-shockwave-flash"},
    {"txt", "text/plain"},
    {"text", "text/plain"},
    {"conf", "text/plain"},
    {"def", "text/plain"},
    {"list", "text/plain"},
    {"login", "text/plain"},
    {"ansi", "text/plain"},
    {"mpeg", "video/mpeg"},
    {"mp[eg]", "video/mpeg"},
    {"m[12]v", "video/mpeg"},
    {"qt", "video/quicktime"},
    {"mov", "video/quicktime"},
    {"avi", "video/x-msvideo"},
    {"x[ms]l", "application/xml"},
    {"wmv", "video/x-ms-wmv"},
    {"ai", "application/postscript"},
    {"eps", "application/postscript"},
    {"ps", "application/postscript"},
    {"aif*", "audio/x-aiff"},
    {"au", "audio/basic"},
    {"bmp", "image/bmp"},
    {"cgm", "image/cgm"},
    {"chn", "application/x-pemrusk-channel"},
    {"cs[sv]", "text/css"},
    {"d[cix]r", "application/x-director"},
    {"fgd", "application/x-director"},
    {"do[ct]", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"docm", "application/vnd.ms-word.document.macroEnabled.12"},
    {"dotm", "application/vnd.ms-word.template.macroEnabled.12"},
    {"dotx", "application/vnd.openxmlformats-officedocument.wordprocessingml.template"},
    {"dtd", "application/xml-dtd"},
    {"edml", "application/x-edml"},
    {"flv", "video/x-flv"},
    {"fm", "application/vnd.framemaker"},
    {"gtar", "application/x-gtar"},
    {"ico", "image/x-icon"},
    {"mid*", "audio/midi"},
    {"mif", "application/vnd.mif"},
    {"movie", "video/x-sgi-movie"},
    {"mp4*", "video/mp4"},
    {"mpg4", "video/mp4"},
    {"f4[pv]", "video/mp4"},
    {"f4[ab]", "audio/mp4"},
    {"mp4a", "audio/mp4"},
    {"mpga", "audio/mpeg"},
    {"mp2*", "audio/mpeg"},
    {"mp3", "audio/mpeg"},
    {"m[23]a", "audio/mpeg"},
    {"mp[pt]", "application/vnd.ms-project"},
    {"pfr", "application/font-tdpfr"},
    {"pp[ts]", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow"},
    {"potm", "application/vnd.ms-powerpoint.template.macroEnabled.12"},
    {"potx", "application/vnd.openxmlformats-officedocument.presentationml.template"},
    {"ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.12"},
    {"pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.12"},
    {"pot", "application/vnd.ms-powerpoint"},
    {"ram", "audio/x-pn-realaudio"},
    {"ra", "audio/x-pn-realaudio"},
    {"rar", "application/x-rar-compressed"},
    {"rtf", "application/rtf"},
    {"sdlflow", "application/x-sdlflow"},
    {"sgm*", "application/sgml"},
    {"sdif", "application/sgml"},
    {"spl", "application/x-futuresplash"},
    {"svg*", "image/svg+xml"},
    {"tar", "application/x-tar"},
    {"tif*", "image/tiff"},
    {"wav", "audio/x-wav"},
    {"wmf", "application/x-msmetafile"},
    {"wml", "text/vnd.wap.wml"},
    {"wmls", "text/vnd.wap.wmlscript"},
    {"vs[dstw]", "application/vnd.visio"},
    {"xht*", "application/xhtml+xml"},
    {"xslt", "application/xslt+xml"},
    {"zip", "application/zip"},
    {"la", "audio/nspaudio"},
    {"lma", "audio/nspaudio"},
    {"*", "application/octet-stream"},
};
// clang-format on

struct ImageRow {
    const char* name;
    int icon;
};

constexpr ImageRow kImageRows[] = {
    {"BL.gif", 104},  {"CF.gif", 105},  {"CL.gif", 106}, {"CLM.gif", 107}, {"CLP.gif", 108}, {"CT.gif", 109},
    {"CTM.gif", 110}, {"CTP.gif", 111}, {"DL.gif", 112}, {"FIL_153x19.gif", 113}, {"HD.gif", 10},
    {"LI.gif", 114},  {"MD.gif", 115},  {"OF.gif", 116}, {"PD.gif", 12},    {"PREL.gif", 117}, {"XD.gif", 118},
};

}  // namespace

const char* getMimeTypeByExtension(const char* extension) {
    if (!extension) return nullptr;
    for (const MimeRow& row : kMimeRows) {
        bool match = isSearchPattern(row.pattern) ? matchPattern(row.pattern, extension, 1)
                                                  : strcasecmp(row.pattern, extension) == 0;
        if (match) return row.type;
    }
    return nullptr;
}

int imageMapping(const char* name) {
    if (!name) return 0;
    for (const ImageRow& row : kImageRows) {
        if (strcasecmp(row.name, name) == 0) return row.icon;
    }
    return 0;
}

}  // namespace ruva
