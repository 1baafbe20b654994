// The listdb marker's work over a parsed LIST reply of 2,000 and of 20,000
// libraries (200-character comments holding '&' and '<'): sortListDb in
// title order, then normalListDb into a real request's output buffer
// ("listdb"), beside a plain loop that writes rows of the same shape with
// snprintf into a reserved std::string through the same escaper and
// encoder, without sorting ("plain").
//
// Before timing, the handler's rows are compared byte for byte with the
// plain loop's over the same entries in title order; the run aborts on a
// difference. ctest runs that check alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_lists.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/listing_reply.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/html_escape.h"
#include "common/url_code.h"

namespace {

constexpr char kScript[] = "/bench.example/cgi-bin/kivoserv";
constexpr char kPattern[] = "*.kvo";

// The LIST lines' fields as the daemon writes them, seeded: comments share
// no long prefix, so the sort compares as on real titles.
std::vector<std::string> listFields(int count) {
    std::vector<std::string> fields;
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < count; ++i) {
        std::string comment;
        while (comment.size() < 200) {
            comment += static_cast<char>('A' + next() % 26);
            comment += "rack & cabinet <";
            comment += std::to_string(next() % 1000);
            comment += "> ";
        }
        comment.resize(200);
        char line[512];
        std::snprintf(line, sizeof line, "\"%13s\" %8u %5u %10lu \"%s\"", ("lib" + std::to_string(i) + ".kvo").c_str(),
                      1234u, 3u, 1500000000ul + next() % 100000000ul, comment.c_str());
        fields.emplace_back(line);
    }
    return fields;
}

std::unique_ptr<ruva::UzResponse> parsedReply(const std::vector<std::string>& fields) {
    auto reply = ruva::allocResponse(ruva::RT_LIST);
    if (!reply) std::abort();
    reply->resultCode = 200;
    for (const std::string& f : fields) {
        ruva::UzListEntry* entry = reply->nextEntry<ruva::UzListEntry>();
        if (!entry) std::abort();
        ruva::parseListEntry(f, *entry);
    }
    return reply;
}

// One request with its handler and a session to name in links.
struct Request {
    Request() {
        static char* noEnv[] = {nullptr};
        cg = ruva::newCgiHandler(ruva::kKivoservFlags, noEnv);
        if (!cg) std::abort();
        cg->kivoServName = kScript;
        kh = ruva::newKivoHandler(cg.get());
        if (!kh) std::abort();
        session.iaddr = 0x0100007f;  // 127.0.0.1, network order on a little-endian host
        session.port = 9229;
    }
    std::string page() const { return std::string(cg->dstBuf, cg->dstOffs); }

    std::unique_ptr<ruva::CgiHandler> cg;
    std::unique_ptr<ruva::KivoHandler> kh;
    ruva::UzSession session;
};

// The plain loop: the rows of normalListDb for the entries in the order
// given, no sort, each row one snprintf.
void appendPlainRows(std::string& page, const std::vector<const ruva::UzListEntry*>& entries, unsigned options) {
    char row[4096];
    page += "<table width=\"100%\">\n";
    for (const ruva::UzListEntry* e : entries) {
        const std::string db = ruva::encodeLinkValue(*e->database);
        const std::string text = ruva::escapeHtmlKeepEntities(ruva::listEntryText(*e), false);
        const std::string shown = ruva::escapeHtmlKeepEntities(ruva::databaseDisplayName(*e->database), false);
        struct tm tm {};
        char date[32] = "";
        if (localtime_r(&e->ctime, &tm))
            std::snprintf(date, sizeof date, "[%04d-%02d-%02d]", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        const int n = std::snprintf(
            row, sizeof row,
            "<tr>\n<td><b>\n<a href=\"%s%s?db=%s&amp;fn=index.html&amp;op=%x\">%s</a></b></td>\n"
            "<td align=\"left\">\n<a href=\"%s%s?db=%s&amp;fn=index.html&amp;op=%x\">%s</a></td>\n"
            "<td align=\"right\">\n%s</td>\n</tr>\n",
            "http:/", kScript, db.c_str(), options, text.c_str(), "http:/", kScript, db.c_str(), options, shown.c_str(),
            date);
        page.append(row, static_cast<size_t>(n));
    }
    page += "</table>\n";
}

std::vector<const ruva::UzListEntry*> entriesOf(const ruva::UzResponse& reply) {
    std::vector<const ruva::UzListEntry*> all;
    for (const ruva::UzListEntry* e = reply.list(); e; e = e->next.get()) all.push_back(e);
    return all;
}

void benchPlain(benchmark::State& state, int count) {
    const auto reply = parsedReply(listFields(count));
    const auto entries = entriesOf(*reply);
    std::string page;
    appendPlainRows(page, entries, 0);
    page.reserve(page.size() * 2);
    for (auto _ : state) {
        page.clear();
        appendPlainRows(page, entries, 0);
        benchmark::DoNotOptimize(page.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// Each run sorts a fresh copy of the reply, made outside the timing.
void benchListDb(benchmark::State& state, int count) {
    const auto fields = listFields(count);
    Request r;
    r.cg->beginDstPass();
    if (!r.cg->allocDstBuf(4096)) std::abort();
    for (auto _ : state) {
        state.PauseTiming();
        auto reply = parsedReply(fields);
        r.cg->dstOffs = 0;
        state.ResumeTiming();
        if (!r.kh->sortListDb(*reply, 1) || !r.kh->normalListDb(r.session, *reply, kPattern, "")) std::abort();
        benchmark::DoNotOptimize(r.cg->dstBuf);
        state.PauseTiming();
        reply.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * r.cg->dstOffs));
}

// The handler's page equals the plain loop's over the title order.
void check(int count) {
    const auto fields = listFields(count);
    Request r;
    r.cg->beginDstPass();
    if (!r.cg->allocDstBuf(4096)) std::abort();
    auto sorted = parsedReply(fields);
    if (!r.kh->sortListDb(*sorted, 1) || !r.kh->normalListDb(r.session, *sorted, kPattern, "")) std::abort();
    r.cg->endDstPass();

    const auto plainReply = parsedReply(fields);
    auto entries = entriesOf(*plainReply);
    std::stable_sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) {
        return ruva::listDbSortCommentCallback(*a, *b);
    });
    std::string plain;
    appendPlainRows(plain, entries, 0);
    if (r.page() != plain || plain.find("&lt;") == std::string::npos) {
        std::fprintf(stderr, "library_list_bench: %d rows differ (%zu bytes against %zu)\n", count, r.page().size(),
                     plain.size());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    tzset();
    if (!ruva::bench::initializeWithRepetitions(argc, argv)) return 2;
    for (const int count : {2000, 20000}) check(count);
    for (const int count : {2000, 20000}) {
        const std::string n = std::to_string(count);
        benchmark::RegisterBenchmark(("plain/" + n).c_str(), benchPlain, count)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("listdb/" + n).c_str(), benchListDb, count)->Unit(benchmark::kMillisecond);
    }
    ruva::bench::RatioReporter reporter("plain", {"listdb"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
