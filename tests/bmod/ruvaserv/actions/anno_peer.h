// A scripted document server's side of the annotation store's commands:
// the landed reply lines, listings and records, and the waits shortened for
// tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"

namespace ruva::annotest {

using std::chrono::seconds;
using test::PeerScript;

inline const std::string kDoc = "1551-ABC10101Uen.A.html";
inline const std::string kMember = "1551-ABC10101Uen.A.3";
inline const std::string kListed = "1551-abc10101uen.a.3";  // as FoldNames lists it
inline const std::string kUpdEnd = "200-UPDFILE END\n";
inline const std::string kUpdOk = "200-UPDFILE executed.\n";
inline const std::string kRmOk = "200-RMFILE executed.\n";
inline const std::string kQuitOk = "200-See you later.\n";
inline const std::string k577 =
    "577 Library \"annot.anx\" is being updated. Please perform this operation after some time.\n";
inline const std::string kNoArchiveList =
    "300-Database     Size    Entries CTime \"Comment\"\n200-LIST executed.\n";
inline const std::string kEmptyContv = "200-CONTV executed.\n";

inline AnnoStruct record(const std::string& text, const std::string& chapter = "3",
                         const std::string& docrev = "A") {
    return newAnnoStruct("Hdr", "Ann", text, chapter, "2026-12-11", "17:05:09", docrev, "HTMLTEXT");
}

inline std::string bytesOf(const AnnoStruct& as) {
    return encodeAnnoRecord(as, false);
}

struct Listed {
    std::string name;
    size_t size;
    uint32_t crc = 0x1234abcd;
};
inline std::string contvHeader(const std::string& database) {
    return "300-  Length       Method     Size Ratio CRC-32 " + database + "\n";
}
inline std::string contvLines(const std::vector<Listed>& members) {
    std::string lines;
    for (const Listed& m : members) {
        lines += format("300 %8lu %12s %8lu %2d%% %08x %s\n", static_cast<unsigned long>(m.size), "Stored",
                        static_cast<unsigned long>(m.size), 0, static_cast<unsigned>(m.crc), m.name.c_str());
    }
    return lines;
}
inline std::string contv(const std::vector<Listed>& members) {
    return contvHeader("annot.anx") + contvLines(members) + "200-CONTV executed.\n";
}
inline std::string retr(const std::string& member, const std::string& bytes) {
    return format("300-Length %zu \"annot.anx\" \"%s\" \"0\"\n", bytes.size(), member.c_str()) + bytes +
           "300-CRC 0x1234abcd\n200-RETR executed.\n";
}

// The daemon's side: the greeting, then per command the lines it waits for
// and its reply.
class Daemon {
public:
    Daemon() { script_.send(test::kGreeting); }
    Daemon& answer(const std::string& reply, int lines = 1) {
        for (int i = 0; i < lines; ++i) script_.awaitLine();
        script_.send(reply);
        return *this;
    }
    // UPDFILE's line, its data (no line end in the fixtures) and end line.
    Daemon& upload(const std::string& reply) { return answer(reply, 2); }
    PeerScript stall() {
        script_.awaitLine().silence();
        return script_;
    }
    PeerScript done() { return script_.close(); }

private:
    PeerScript script_;
};

// Up to the request's reading of a member: the archive is catalogued.
inline Daemon listArchive() {
    Daemon d;
    d.answer(test::verLine()).answer(test::listReply(test::listLine("annot.anx")));
    return d;
}

inline std::string updLine(const std::string& member, const std::string& bytes) {
    return "UPDFILE annot.anx " + member + " " + std::to_string(bytes.size()) + "\n" + bytes + kUpdEnd;
}

// The client's waits shortened, put back after the test.
class AnnoWaits : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = uzWaits();
        UzWaits waits = saved_;
        waits.retr = seconds(1);
        waits.settle = seconds(0);
        waits.update = seconds(2);
        waits.afterUpdate = seconds(1);
        waits.quitOnDelete = seconds(1);
        setUzWaits(waits);
    }
    void TearDown() override { setUzWaits(saved_); }

    UzWaits saved_;
};

}  // namespace ruva::annotest
