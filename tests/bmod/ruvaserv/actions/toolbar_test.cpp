#include "bmod/ruvaserv/actions/toolbar.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ruva {
namespace {

// A decoded one-frame GIF.
struct Gif {
    int screenWidth = 0;
    int screenHeight = 0;
    std::vector<std::array<uint8_t, 3>> palette;
    int transparent = -1;  // from a Graphic Control Extension
    int imageWidth = 0;
    int imageHeight = 0;
    std::vector<uint8_t> pixels;  // palette indices
};

class ByteReader {
public:
    ByteReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    bool byte(uint8_t& b) {
        if (pos_ >= size_) return false;
        b = data_[pos_++];
        return true;
    }
    bool word(int& w) {
        uint8_t lo, hi;
        if (!byte(lo) || !byte(hi)) return false;
        w = lo | hi << 8;
        return true;
    }
    bool bytes(size_t n, const unsigned char** p) {
        if (size_ - pos_ < n) return false;
        *p = data_ + pos_;
        pos_ += n;
        return true;
    }
    // Data sub-blocks up to their empty block.
    bool subBlocks(std::vector<uint8_t>* out) {
        for (;;) {
            uint8_t n;
            const unsigned char* p;
            if (!byte(n)) return false;
            if (n == 0) return true;
            if (!bytes(n, &p)) return false;
            if (out) out->insert(out->end(), p, p + n);
        }
    }
    bool atEnd() const { return pos_ == size_; }

private:
    const unsigned char* data_;
    size_t size_;
    size_t pos_ = 0;
};

// GIF's LZW: codes packed least significant bit first, the width growing
// when the table reaches a power of two, a clear code starting over.
bool decodeLzw(const std::vector<uint8_t>& data, int minCodeSize, Gif& gif, std::string* why) {
    if (minCodeSize < 2 || minCodeSize > 8) return *why = "bad code size", false;
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<int> prefix(4096), suffix(4096);
    for (int i = 0; i < clear; ++i) suffix[i] = i;
    int width = minCodeSize + 1, next = end + 1, previous = -1;
    size_t bit = 0;
    std::vector<uint8_t> run;
    auto expand = [&](int code) {
        run.clear();
        for (; code >= clear; code = prefix[code]) run.push_back(static_cast<uint8_t>(suffix[code]));
        run.push_back(static_cast<uint8_t>(code));
        return run[run.size() - 1];
    };
    for (;;) {
        if (bit + width > data.size() * 8) return *why = "data ends without an end code", false;
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit) code |= (data[bit / 8] >> (bit % 8) & 1) << i;
        if (code == clear) {
            width = minCodeSize + 1, next = end + 1, previous = -1;
            continue;
        }
        if (code == end) break;
        if (previous < 0) {
            if (code >= clear) return *why = "first code is not a pixel", false;
            gif.pixels.push_back(static_cast<uint8_t>(code));
            previous = code;
            continue;
        }
        if (code > next || (code == next && next == 4096)) return *why = "code beyond the table", false;
        uint8_t first = code == next ? expand(previous) : expand(code);
        gif.pixels.insert(gif.pixels.end(), run.rbegin(), run.rend());
        if (code == next) gif.pixels.push_back(first);
        if (next < 4096) {
            prefix[next] = previous;
            suffix[next] = first;
            if (++next == 1 << width && width < 12) ++width;
        }
        previous = code;
    }
    if ((bit + 7) / 8 != data.size()) return *why = "bytes after the end code", false;
    return true;
}

std::optional<Gif> decodeGif(const unsigned char* bits, size_t size, std::string* why) {
    ByteReader in(bits, size);
    Gif gif;
    const unsigned char* p;
    uint8_t flags, b;
    if (!in.bytes(6, &p) || std::string(reinterpret_cast<const char*>(p), 6) != "GIF89a")
        return *why = "no GIF89a", std::nullopt;
    if (!in.word(gif.screenWidth) || !in.word(gif.screenHeight) || !in.byte(flags) || !in.bytes(2, &p))
        return *why = "short screen descriptor", std::nullopt;
    if (!(flags & 0x80)) return *why = "no colour table", std::nullopt;
    gif.palette.resize(size_t{2} << (flags & 7));
    for (auto& entry : gif.palette) {
        if (!in.bytes(3, &p)) return *why = "short colour table", std::nullopt;
        entry = {p[0], p[1], p[2]};
    }
    for (;;) {
        if (!in.byte(b)) return *why = "no image", std::nullopt;
        if (b == 0x2C) break;
        uint8_t label;
        if (b != 0x21 || !in.byte(label)) return *why = "unknown block", std::nullopt;
        if (label == 0xF9) {
            uint8_t len, packed;
            if (!in.byte(len) || len != 4 || !in.byte(packed) || !in.bytes(3, &p))
                return *why = "bad GCE", std::nullopt;
            if (packed & 1) gif.transparent = p[2];
        }
        if (!in.subBlocks(nullptr)) return *why = "short extension", std::nullopt;
    }
    int left, top;
    uint8_t minCodeSize;
    if (!in.word(left) || !in.word(top) || !in.word(gif.imageWidth) || !in.word(gif.imageHeight) ||
        !in.byte(flags) || !in.byte(minCodeSize))
        return *why = "short image descriptor", std::nullopt;
    if (flags & 0x80) return *why = "unexpected local colour table", std::nullopt;
    std::vector<uint8_t> data;
    if (!in.subBlocks(&data)) return *why = "short image data", std::nullopt;
    if (!decodeLzw(data, minCodeSize, gif, why)) return std::nullopt;
    if (!in.byte(b) || b != 0x3B || !in.atEnd()) return *why = "no trailer at the end", std::nullopt;
    return gif;
}

struct TableRow {
    int number;
    std::string name;
    int width;
    int height;
};

std::vector<TableRow> readTable() {
    std::ifstream in(RUVA_TOOLBAR_TABLE);
    std::vector<TableRow> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        TableRow row;
        fields >> row.number >> row.name >> row.width >> row.height;
        rows.push_back(row);
    }
    return rows;
}

std::optional<Gif> decodeIcon(const ToolbarIcon& icon) {
    std::string why;
    auto gif = decodeGif(icon.bits, icon.bcount, &why);
    if (!gif) ADD_FAILURE() << icon.name << ": " << why;
    return gif;
}

TEST(Toolbar, CreateToolbarSelectsTheLowestMatchingImage) {
    struct Case {
        const char* name;
        long active;
        long inactive;
        int image;  // 0: refused
    } cases[] = {
        {"first image", 1, 0, 1},
        {"last image", 153, 0, 153},
        {"slot 154 stays empty", 154, 0, 0},
        {"zero", 0, 0, 0},
        {"lower of active and inactive", 15, 14, 14},
        {"plain number", 5, 0, 5},
        {"negative", -1, -1, 0},
        {"inactive when active is out of range", 154, 5, 5},
    };
    // One toolbar for every row: a refused row after a served one must not
    // keep the earlier image.
    auto tb = newToolbar();
    ASSERT_TRUE(tb);
    EXPECT_EQ(tb->icons[kToolbarSlots - 1], nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tb->setActiveIcons(c.active);
        tb->setInactiveIcons(c.inactive);
        EXPECT_EQ(tb->createToolbar(), c.image ? 1 : 0);
        if (c.image) {
            EXPECT_EQ(tb->toolbar, kToolbarIcons[c.image - 1].bits);
            EXPECT_EQ(tb->toolbarLen, kToolbarIcons[c.image - 1].bcount);
        } else {
            EXPECT_EQ(tb->toolbar, nullptr);
            EXPECT_EQ(tb->toolbarLen, 0u);
        }
    }
}

TEST(Toolbar, EveryImageIsAGifOfItsTableSize) {
    auto rows = readTable();
    ASSERT_EQ(rows.size(), size_t{kToolbarIconCount}) << RUVA_TOOLBAR_TABLE;
    auto tb = newToolbar();
    ASSERT_TRUE(tb);
    for (const TableRow& row : rows) {
        SCOPED_TRACE(row.name);
        const ToolbarIcon* icon = tb->icons[row.number - 1];
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->name, row.name);
        EXPECT_EQ(std::string(icon->action), row.name);
        EXPECT_EQ(icon->width, row.width);
        EXPECT_EQ(icon->height, row.height);
        auto gif = decodeIcon(*icon);
        if (!gif) continue;
        EXPECT_EQ(gif->screenWidth, row.width);
        EXPECT_EQ(gif->screenHeight, row.height);
        EXPECT_EQ(gif->imageWidth, row.width);
        EXPECT_EQ(gif->imageHeight, row.height);
        EXPECT_EQ(gif->pixels.size(), size_t(row.width) * size_t(row.height));
        EXPECT_EQ(gif->palette.size(), size_t(icon->numcolors));
    }
}

TEST(Toolbar, SpacersAreOneTransparentPixel) {
    for (int number : {25, 124}) {
        const ToolbarIcon& icon = kToolbarIcons[number - 1];
        SCOPED_TRACE(icon.name);
        auto gif = decodeIcon(icon);
        ASSERT_TRUE(gif);
        ASSERT_EQ(gif->pixels.size(), 1u);
        EXPECT_GE(gif->transparent, 0);
        EXPECT_EQ(gif->pixels[0], gif->transparent);
    }
}

// The looks of one button (toc, toc_enabled, toc_pressed, toc_disable) are
// told apart only by their colours.
TEST(Toolbar, StateVariantsOfAButtonLookDifferent) {
    std::map<std::string, std::vector<const ToolbarIcon*>> buttons;
    for (const ToolbarIcon& icon : kToolbarIcons) {
        std::string name = icon.name;
        for (const char* state : {"_enabled", "_pressed", "_disable", "_disabled"}) {
            std::string suffix = state;
            if (name.size() > suffix.size() && name.ends_with(suffix)) {
                name.resize(name.size() - suffix.size());
                break;
            }
        }
        buttons[name].push_back(&icon);
    }
    int compared = 0;
    for (const auto& [button, looks] : buttons) {
        std::vector<std::vector<std::array<uint8_t, 3>>> colours;
        for (const ToolbarIcon* icon : looks) {
            auto gif = decodeIcon(*icon);
            if (!gif) return;
            colours.emplace_back();
            for (uint8_t index : gif->pixels) colours.back().push_back(gif->palette[index]);
        }
        for (size_t i = 0; i < looks.size(); ++i)
            for (size_t j = i + 1; j < looks.size(); ++j, ++compared)
                EXPECT_NE(colours[i], colours[j]) << looks[i]->name << " and " << looks[j]->name;
    }
    EXPECT_GT(compared, 50);
}

std::string fileContents(FILE* fp) {
    std::string got;
    rewind(fp);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, fp)) > 0;) got.append(buf, n);
    return got;
}

TEST(Toolbar, DisplayWritesTheLengthHeaderAndTheWholeGif) {
    auto tb = newToolbar();
    ASSERT_TRUE(tb);
    FILE* out = tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(tb->displayToolbar(out), 0) << "nothing selected";
    EXPECT_EQ(fileContents(out), "");

    tb->setActiveIcons(5);
    ASSERT_EQ(tb->createToolbar(), 1);
    EXPECT_EQ(tb->displayToolbar(out), 1);
    std::string got = fileContents(out);
    fclose(out);
    const ToolbarIcon& icon = kToolbarIcons[4];
    std::string gif(reinterpret_cast<const char*>(icon.bits), icon.bcount);
    EXPECT_EQ(got, "Content-length: " + std::to_string(icon.bcount) + "\n\n" + gif);
    // The decoder ends at the trailer, so the length is the GIF's own size.
    EXPECT_TRUE(decodeIcon(icon));
}

TEST(Toolbar, DisplayReportsAFailedWrite) {
    FILE* full = fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    auto tb = newToolbar();
    ASSERT_TRUE(tb);
    // Image 5 fits the stream's buffer: the fault shows only at the flush.
    tb->setActiveIcons(5);
    ASSERT_EQ(tb->createToolbar(), 1);
    EXPECT_EQ(tb->displayToolbar(full), 0);
    fclose(full);
}

}  // namespace
}  // namespace ruva
