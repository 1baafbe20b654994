#include "tests/bmod/ruvaserv/actions/action_pages_daemon.h"

#include <dirent.h>

#include <fstream>

#include "common/docmodel/comment_tokens.h"

namespace ruva::test {

DaemonPageRequest::DaemonPageRequest(const std::string& conf, const Fields& fields) {
    if (!request_.get()) return;
    EXPECT_EQ(request_->readConfigFile(conf.c_str()), 1) << conf;
    for (const auto& [name, value] : fields) field(name.c_str(), value.c_str());
    handler_ = newKivoHandler(request_.get());
}

DaemonPageRequest::~DaemonPageRequest() { handler_.reset(); }

std::string DaemonPageRequest::output() const {
    return cg() && cg()->dstBuf ? std::string(cg()->dstBuf, cg()->dstOffs) : "";
}

std::string DaemonPageRequest::server() const {
    return cg() && cg()->sess ? makeAddrString(cg()->sess->iaddr, cg()->sess->port) : "";
}

std::string DaemonPageRequest::reason() const { return cg() && cg()->sess ? cg()->sess->getError() : ""; }

void ActionPagesDaemon::SetUp() {
    const std::optional<std::string> text = envValue("RUVA_PORT");
    ASSERT_TRUE(text) << "needs a daemon: daemon_harness.py run --lib <folder> -- " << "this program";
    port = std::stoi(*text);
    ASSERT_TRUE(dir.ok());
    env.set("RUVA_ADDR", std::nullopt);
    env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
    previous = setResolver(&noNames);
    DaemonPageRequest r(config(), {});
    ASSERT_EQ(r->establishDefaultSession(), 1) << r->getError();
    std::unique_ptr<UzResponse> reply = r->sess->mllist("");
    for (const UzMlListEntry* e = reply ? reply->mllist() : nullptr; e && e->filled(); e = e->next.get()) {
        if (e->type == ML_NODE_TYPE_SUB || !e->database) continue;
        std::string entry = e->ID;  // hashID cuts its argument
        ids[*e->database] = hashID(entry.data());
    }
    ASSERT_FALSE(ids.empty()) << "the daemon lists no library";
}

void ActionPagesDaemon::TearDown() {
    if (previous) setResolver(previous);
}

std::string ActionPagesDaemon::configText(const std::string& text) {
    const std::string path = dir.file("kivo" + std::to_string(++configs_) + ".conf");
    std::ofstream(path) << text;
    return path;
}

std::string ActionPagesDaemon::config(const std::string& extra) {
    return configText("RuvaDaemon " + address() + "\n" + extra);
}

std::unique_ptr<DaemonPageRequest> ActionPagesDaemon::request(const Fields& fields, const std::string& extra) {
    return std::make_unique<DaemonPageRequest>(config(extra), fields);
}

std::string ActionPagesDaemon::id(const std::string& library) {
    const auto found = ids.find(library);
    if (found != ids.end()) return found->second;
    ADD_FAILURE() << "the daemon does not list " << library;
    return "";
}

size_t openDescriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return 0;
    size_t n = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n - 1;  // the listing's own descriptor
}

}  // namespace ruva::test
