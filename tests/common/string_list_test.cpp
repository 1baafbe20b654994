#include "common/string_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace ruva {
namespace {

std::vector<std::string> values(const StringList& list) {
    std::vector<std::string> out;
    for (const String* e = list.first; e != nullptr; e = e->next) out.push_back(e->value);
    return out;
}

// first, last and countEntries agree with the expected values.
void expectList(const StringList& list, const std::vector<std::string>& expected) {
    EXPECT_EQ(values(list), expected);
    EXPECT_EQ(list.countEntries(), static_cast<int>(expected.size()));
    if (expected.empty()) {
        EXPECT_EQ(list.first, nullptr);
        EXPECT_EQ(list.last, nullptr);
    } else {
        ASSERT_NE(list.last, nullptr);
        EXPECT_EQ(list.last->next, nullptr);
        EXPECT_EQ(list.last->value, expected.back());
    }
}

TEST(StringListValues, AnyBytesOfAnyLengthReadBackIdentically) {
    auto patterned = [](size_t n) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
        return s;
    };
    std::string marker256 = patterned(256);
    marker256.replace(0, 4, "\xFF\xFE\xFF\xFE");
    struct {
        const char* name;
        std::string value;
    } const cases[] = {
        {"0 bytes", ""},
        {"255 bytes", patterned(255)},
        {"256 bytes", patterned(256)},
        {"257 bytes", patterned(257)},
        {"300 bytes", patterned(300)},
        {"marker alone", "\xFF\xFE\xFF\xFE"},
        {"marker starting 256 bytes", marker256},
        {"inner NUL", std::string("a\0b", 3)},
    };
    auto list = newStringList();
    ASSERT_NE(list, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        String* e = list->addBuffer(c.value.data(), c.value.size());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->value, c.value);
        const char* text = StringList::getValue(e);
        EXPECT_EQ(std::memcmp(text, c.value.data(), c.value.size()), 0);
        EXPECT_EQ(text[c.value.size()], '\0');

        // setValue over a value of the same size class and back.
        ASSERT_EQ(StringList::setValue(e, "short"), 1);
        EXPECT_STREQ(StringList::getValue(e), "short");
        ASSERT_EQ(StringList::setValue(e, c.value.c_str()), 1);
        EXPECT_STREQ(StringList::getValue(e), c.value.c_str());
    }
    EXPECT_EQ(list->countEntries(), static_cast<int>(std::size(cases)));
}

TEST(StringListValues, NullArgumentsAreRefused) {
    StringList list;
    EXPECT_EQ(list.add(nullptr), nullptr);
    EXPECT_EQ(list.addBuffer(nullptr, 3), nullptr);
    expectList(list, {});
    EXPECT_EQ(StringList::getValue(nullptr), nullptr);
    EXPECT_EQ(StringList::setValue(nullptr, "x"), 0);

    String* e = list.add("text");
    ASSERT_EQ(StringList::setValue(e, nullptr), 1);
    EXPECT_STREQ(StringList::getValue(e), "");
}

TEST(StringListEntries, UnqueueAndQfreeTakeFromTheFront) {
    StringList list;
    list.add("a");
    list.add("b");
    String* a = list.unqueue();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->value, "a");
    EXPECT_EQ(a->next, nullptr);
    expectList(list, {"b"});
    list.qfree(a);

    String* b = list.unqueue();
    expectList(list, {});
    list.qfree(b);
    EXPECT_EQ(list.unqueue(), nullptr);
    list.qfree(nullptr);

    // The emptied list appends normally again.
    list.add("c");
    expectList(list, {"c"});
}

TEST(StringListEntries, FreeStringFixesFirstAndLast) {
    StringList list;
    String* a = list.add("a");
    String* b = list.add("b");
    String* c = list.add("c");
    String* d = list.add("d");

    list.freeString(b);  // middle
    expectList(list, {"a", "c", "d"});
    list.freeString(d);  // last
    expectList(list, {"a", "c"});
    EXPECT_EQ(list.last, c);
    list.freeString(a);  // first
    expectList(list, {"c"});
    EXPECT_EQ(list.first, c);
    list.freeString(nullptr);
    list.freeString(c);  // the only one
    expectList(list, {});
    list.add("e");
    expectList(list, {"e"});
}

TEST(StringListEntries, FreeStringLeavesAnEntryOfAnotherListAlone) {
    StringList list, other;
    list.add("mine");
    String* foreign = other.add("theirs");
    list.freeString(foreign);
    expectList(list, {"mine"});
    expectList(other, {"theirs"});
}

TEST(StringListEntries, ConcatMovesAllEntriesOfTheSource) {
    StringList dst, src;
    dst.add("a");
    src.add("b");
    src.add("c");
    EXPECT_EQ(dst.concatStringList(&src), 1);
    expectList(dst, {"a", "b", "c"});
    expectList(src, {});

    EXPECT_EQ(dst.concatStringList(nullptr), 1);
    expectList(dst, {"a", "b", "c"});
    EXPECT_EQ(dst.concatStringList(&src), 1);  // empty source
    expectList(dst, {"a", "b", "c"});
    EXPECT_EQ(dst.concatStringList(&dst), 1);  // itself: no cycle
    expectList(dst, {"a", "b", "c"});

    StringList empty;
    EXPECT_EQ(empty.concatStringList(&dst), 1);
    expectList(empty, {"a", "b", "c"});
    expectList(dst, {});
    empty.add("d");
    expectList(empty, {"a", "b", "c", "d"});
}

// A directory of its own under /tmp, removed with everything in it.
class StringListFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/stringlist_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const char* name) const { return dir_ + "/" + name; }

    static void writeBytes(const std::string& name, const std::string& bytes) {
        std::ofstream out(name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }
    static std::string readBytes(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Runs fn in a child whose files may not grow past limit bytes (writes
    // beyond fail with EFBIG instead of a signal); returns fn's result.
    static int withFileSizeLimit(rlim_t limit, const std::function<int()>& fn) {
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(100);
            _exit(fn() & 0x7f);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    // A list larger than the limits used below.
    static void fillLarge(StringList& list) {
        std::string line(99, 'x');
        for (int i = 0; i < 200; ++i) list.add(line.c_str());
    }

    std::string dir_;
};

TEST_F(StringListFiles, InputFromFileSplitsAtLineFeedAndNul) {
    using V = std::vector<std::string>;
    struct {
        const char* name;
        std::string bytes;
        int result;
        V entries;
    } const cases[] = {
        {"unterminated last line dropped", "a\nb", 1, V{"a"}},
        {"terminated lines", "a\nb\n", 1, V{"a", "b"}},
        {"carriage return kept", "a\r\n", 1, V{"a\r"}},
        {"NUL ends a line", std::string("a\0b\n", 4), 1, V{"a", "b"}},
        {"empty lines", "\n\n", 1, V{"", ""}},
        {"only an unterminated line", "abc", 1, V{}},
        {"empty file", "", 0, V{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = path("input");
        writeBytes(name, c.bytes);
        StringList list;
        EXPECT_EQ(list.inputFromFile(name.c_str()), c.result);
        expectList(list, c.entries);
    }
    StringList list;
    EXPECT_EQ(list.inputFromFile(path("missing").c_str()), 0);
    expectList(list, {});
}

TEST_F(StringListFiles, HundredThousandLinesLoadAndClearWithoutRecursion) {
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += "line" + std::to_string(i) + "\n";
    writeBytes(path("big"), bytes);

    auto list = newStringList();
    ASSERT_NE(list, nullptr);
    list->add("before");
    ASSERT_EQ(list->inputFromFile(path("big").c_str()), 1);
    EXPECT_EQ(list->countEntries(), 100001);
    EXPECT_EQ(list->first->next->value, "line0");
    EXPECT_EQ(list->last->value, "line99999");
    list->clear();
    expectList(*list, {});

    // The destructor of a full list takes the same loop.
    ASSERT_EQ(list->inputFromFile(path("big").c_str()), 1);
    list.reset();
}

TEST_F(StringListFiles, OutputWritesEachTextAndALineFeed) {
    StringList list;
    list.add("a");
    list.add("");
    list.addBuffer("b\0hidden", 8);  // the text ends at its NUL
    EXPECT_EQ(list.outputToFile(path("out").c_str()), 1);
    EXPECT_EQ(readBytes(path("out")), "a\n\nb\n");

    // outputToFile replaces, appendToFile adds.
    EXPECT_EQ(list.outputToFile(path("out").c_str()), 1);
    EXPECT_EQ(list.appendToFile(path("out").c_str()), 1);
    EXPECT_EQ(readBytes(path("out")), "a\n\nb\na\n\nb\n");
    EXPECT_EQ(list.appendToFile(path("new").c_str()), 1);
    EXPECT_EQ(readBytes(path("new")), "a\n\nb\n");

    StringList empty;
    EXPECT_EQ(empty.outputToFile(path("empty").c_str()), 1);
    EXPECT_EQ(readBytes(path("empty")), "");

    EXPECT_EQ(list.outputToFile(path("no/such/dir").c_str()), 0);
    EXPECT_EQ(list.appendToFile(path("no/such/dir").c_str()), 0);
    EXPECT_EQ(list.outputToFile(nullptr), 0);
    EXPECT_EQ(list.appendToFile(nullptr), 0);
    EXPECT_EQ(list.outputToFP(nullptr), 0);
}

// A stream whose writes fail once `room` bytes have gone through.
struct FailingSink {
    size_t room;
    static ssize_t write(void* cookie, const char* /*buf*/, size_t size) {
        auto* sink = static_cast<FailingSink*>(cookie);
        if (size > sink->room) return -1;
        sink->room -= size;
        return static_cast<ssize_t>(size);
    }
};

TEST(StringListOutput, FailureSeenOnlyAtFlushIsAFailedWrite) {
    StringList list;
    list.add("fits in the stdio buffer");
    FailingSink sink{0};
    FILE* fp = fopencookie(&sink, "w", {nullptr, &FailingSink::write, nullptr, nullptr});
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(list.outputToFP(fp), 0);
    fclose(fp);

    FailingSink roomy{1 << 20};
    fp = fopencookie(&roomy, "w", {nullptr, &FailingSink::write, nullptr, nullptr});
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(list.outputToFP(fp), 1);
    EXPECT_EQ(fclose(fp), 0);
}

TEST_F(StringListFiles, AppendFailureKeepsTheEarlierContent) {
    const std::string earlier = "earlier line\n";
    std::string name = path("log");
    writeBytes(name, earlier);
    StringList list;
    fillLarge(list);
    EXPECT_EQ(withFileSizeLimit(4096, [&] { return list.appendToFile(name.c_str()); }), 0);
    EXPECT_EQ(readBytes(name), earlier);
}

TEST_F(StringListFiles, OutputFailureRemovesTheRegularFileItWrote) {
    std::string name = path("out");
    StringList list;
    fillLarge(list);
    EXPECT_EQ(withFileSizeLimit(4096, [&] { return list.outputToFile(name.c_str()); }), 0);
    struct stat st;
    int rc = lstat(name.c_str(), &st);
    int err = errno;
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(err, ENOENT);
}

TEST_F(StringListFiles, OutputFailureLeavesASymlinkInPlace) {
    std::string target = path("target");
    std::string link = path("link");
    writeBytes(target, "old\n");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    StringList list;
    fillLarge(list);
    EXPECT_EQ(withFileSizeLimit(4096, [&] { return list.outputToFile(link.c_str()); }), 0);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace ruva
