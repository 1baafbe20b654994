// What the daemon-core tests share: the log lines a test produced and a
// configuration read from a text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bmod/unzipd/daemon/config.h"
#include "bmod/unzipd/log/log_call.h"
#include "tests/support/test_support.h"

namespace ruva::test {

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        setLogLineSink([](void* c, const std::string& l) { static_cast<LogCapture*>(c)->lines.push_back(l); },
                       this);
    }
    ~LogCapture() { setLogLineSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The line's "Name: text" part without its line feed.
    static std::string tail(const std::string& line) {
        size_t at = line.find(' ', line.find(' ', line.find(' ') + 1) + 1);
        return line.substr(at + 1, line.size() - at - 2);
    }
    // 1 when some line's tail is exactly "Name: text".
    bool has(const std::string& levelAndText) const {
        for (const std::string& l : lines)
            if (tail(l) == levelAndText) return true;
        return false;
    }
    std::string all() const {
        std::string s;
        for (const std::string& l : lines) s += l;
        return s;
    }
};

// The daemon's keys, read from a file at path holding text.
inline std::unique_ptr<Config> configFromText(const std::string& path, const std::string& text) {
    writeFile(path, text);
    auto config = newConfig(path.c_str());
    EXPECT_EQ(config->registerConfigTypes(uzdConfigRegister), 34);
    return config;
}

}  // namespace ruva::test
