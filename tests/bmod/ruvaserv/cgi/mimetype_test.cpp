#include "bmod/ruvaserv/cgi/mimetype.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

TEST(MimeType, ByExtension) {
    struct {
        const char* extension;
        const char* want;
    } const cases[] = {
        {"HTML", "text/html"},
        {"htm", "text/html"},
        {"xsl", "application/xml"},
        {"XLS", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"JPEG", "image/jpeg"},
        {"m2v", "video/mpeg"},
        {"sgml", "application/sgml"},
        {"Conf", "text/plain"},
        {"mp3", "audio/mpeg"},
        {"ra", "audio/x-pn-realaudio"},
        {"xyz", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"jp", "image/jpeg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        const char* got = getMimeTypeByExtension(c.extension);
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got, c.want);
    }
    EXPECT_EQ(getMimeTypeByExtension(nullptr), nullptr);
}

TEST(MimeType, ToolbarImageNames) {
    struct {
        const char* name;
        int want;
    } const cases[] = {
        {"prel.GIF", 117}, {"PREL.gif", 117}, {"HD.gif", 10},  {"fil_153x19.gif", 113},
        {"PX.gif", 0},     {"PREL", 0},       {"", 0},         {nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        EXPECT_EQ(imageMapping(c.name), c.want);
    }
}

}  // namespace
}  // namespace ruva
