#include "bmod/ruvaserv/actions/embedded_image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

// A 1x1 GIF89a: header, screen descriptor, 2-colour table, image, trailer.
const unsigned char kGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61,                          // "GIF89a"
    0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00,                    // 1x1, global table of 2
    0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,                          // black, white
    0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // image descriptor
    0x02, 0x02, 0x44, 0x01, 0x00,                                // LZW minimum 2, one data block
    0x3B,                                                        // trailer
};
// A JFIF start: SOI, APP0 and its "JFIF" tag.
const unsigned char kJpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00};
// Seven bytes tell the detector nothing.
const unsigned char kShort[] = {'G', 'I', 'F', '8', '9', 'a', 0};

// The entries as "filename:type" in walk order.
std::string walk(const EmbeddedImage& ei) {
    std::string out;
    for (const ImageEntry* e = ei.getFirstImageEntry(); e; e = ei.getNextImageEntry(e)) {
        if (!out.empty()) out += ' ';
        out += std::string(e->filename) + ":" + std::to_string(e->doct);
    }
    return out;
}

TEST(EmbeddedImage, InitRegistersRowsInTableOrderNamedByContentType) {
    std::vector<ImageEntryData> rows = {
        {kGif, sizeof kGif, "trade"},
        {kJpeg, sizeof kJpeg, "GE"},
        {kShort, sizeof kShort, "tiny"},
        {kGif, sizeof kGif, "Copy"},
        {nullptr, 0, ""},
        {kGif, sizeof kGif, "after_end"},
    };
    // A name that fills its 16 bytes has no NUL and is read as 16 characters.
    ImageEntryData full = {kGif, sizeof kGif, ""};
    memcpy(full.name, "abcdefghijklmnop", kImageNameSize);
    rows.insert(rows.begin() + 3, full);

    auto ei = newEmbeddedImage(7);
    ASSERT_TRUE(ei);
    EXPECT_EQ(ei->flags, 0);
    ASSERT_EQ(ei->init(rows.data()), 1);
    EXPECT_EQ(walk(*ei), "trade.gif:23 GE.jpg:28 tiny.:-1 abcdefghijklmnop.gif:23 Copy.gif:23");
    EXPECT_EQ(ei->getFirstImageEntry()->ied, &rows[0]);
    EXPECT_EQ(ei->lastImage->ied, &rows[4]);
    EXPECT_EQ(ei->getNextImageEntry(nullptr), nullptr);
    EXPECT_EQ(ei->getError(), "");
}

TEST(EmbeddedImage, InitWithAnEmptyFirstRowOrNoTableLeavesItEmpty) {
    const ImageEntryData rows[] = {{kGif, sizeof kGif, "trade"}, {nullptr, 0, ""}};
    auto ei = newEmbeddedImage(0);
    ASSERT_TRUE(ei);
    ASSERT_EQ(ei->init(rows), 1);
    ei->setError("old %d", 1);
    // A new table replaces the old entries and drops the old error.
    EXPECT_EQ(ei->init(rows + 1), 1);
    EXPECT_EQ(ei->getFirstImageEntry(), nullptr);
    EXPECT_EQ(ei->lastImage, nullptr);
    EXPECT_EQ(ei->getError(), "");
    EXPECT_EQ(ei->init(nullptr), 1);
    EXPECT_EQ(ei->getFirstImageEntry(), nullptr);
}

TEST(EmbeddedImage, FindImageEntryIgnoresCaseAndTakesTheFirst) {
    ImageEntryData rows[] = {{kGif, sizeof kGif, "Trade"},
                             {kJpeg, sizeof kJpeg, "TRADE"},
                             {kGif, sizeof kGif, ""},
                             {nullptr, 0, ""}};
    memcpy(rows[2].name, "abcdefghijklmnop", kImageNameSize);
    auto ei = newEmbeddedImage(0);
    ASSERT_TRUE(ei);
    ASSERT_EQ(ei->init(rows), 1);
    struct Case {
        const char* name;
        const ImageEntryData* found;
    } cases[] = {
        {"trade", &rows[0]},
        {"TRADE", &rows[0]},
        {"trad", nullptr},
        {"trades", nullptr},
        {"", nullptr},
        {"ABCDEFGHIJKLMNOP", &rows[2]},
        {"abcdefghijklmnopq", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageEntry* e = ei->findImageEntry(c.name);
        EXPECT_EQ(e ? e->ied : nullptr, c.found);
    }
    EXPECT_EQ(ei->findImageEntry(nullptr), nullptr);
}

TEST(EmbeddedImage, OutputImageEntryWritesTheBytesAndFlushes) {
    const ImageEntryData rows[] = {{kGif, sizeof kGif, "trade"}, {nullptr, 0, "none"}, {nullptr, 0, ""}};
    auto ei = newEmbeddedImage(0);
    ASSERT_TRUE(ei);
    ASSERT_EQ(ei->init(rows), 1);
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    FILE* file = fopen(dir.file("out.gif").c_str(), "w");
    ASSERT_NE(file, nullptr);
    const ImageEntry* gif = ei->getFirstImageEntry();
    EXPECT_EQ(ei->outputImageEntry(gif, file), 1);
    // Read back before fclose: the flush alone must have put it there.
    EXPECT_EQ(test::readFile(dir.file("out.gif")),
              std::string(reinterpret_cast<const char*>(kGif), sizeof kGif));
    EXPECT_EQ(ei->outputImageEntry(ei->getNextImageEntry(gif), file), 1);
    fclose(file);
    EXPECT_EQ(test::readFile(dir.file("out.gif")).size(), sizeof kGif);
    EXPECT_EQ(ei->getError(), "");
}

// A small image fits the stream's buffer, so /dev/full refuses it only at
// the flush; a large one already in the write.
TEST(EmbeddedImage, OutputImageEntryToAFullDeviceFailsWithTheSystemText) {
    std::vector<unsigned char> large(1 << 20, 0x55);
    memcpy(large.data(), kGif, sizeof kGif);
    const ImageEntryData rows[] = {
        {kGif, sizeof kGif, "small"}, {large.data(), large.size(), "large"}, {nullptr, 0, ""}};
    auto ei = newEmbeddedImage(0);
    ASSERT_TRUE(ei);
    ASSERT_EQ(ei->init(rows), 1);
    for (const char* name : {"small", "large"}) {
        SCOPED_TRACE(name);
        FILE* full = fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        ei->setError(nullptr);
        EXPECT_EQ(ei->outputImageEntry(ei->findImageEntry(name), full), 0);
        EXPECT_EQ(ei->getError(), std::string("Failed to write image, ") + strerror(ENOSPC));
        fclose(full);
    }
    EXPECT_EQ(ei->outputImageEntry(nullptr, stdout), 0);
    EXPECT_EQ(ei->getError(), std::string("Failed to write image, ") + strerror(EINVAL));
}

TEST(EmbeddedImage, SetErrorFormatsAndNullOrClearDropsIt) {
    auto ei = newEmbeddedImage(0);
    ASSERT_TRUE(ei);
    ei->setError("%s %d", "bad", 3);
    EXPECT_EQ(ei->getError(), "bad 3");
    ei->setError(nullptr);
    EXPECT_EQ(ei->getError(), "");
    ei->setError("again");
    ei->clear();
    EXPECT_EQ(ei->getError(), "");
}

}  // namespace
}  // namespace ruva
