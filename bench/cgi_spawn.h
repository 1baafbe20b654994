// Starting a program as a web server starts a CGI program: posix_spawn with
// an empty standard input and its standard output read to the end through a
// pipe; and the files such a run reads. Shared by the benches that time kivoserv against another program
// started the same way.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace ruva::bench {

// What lighttpd gives a CGI program for a GET to /cgi-bin/kivoserv, with the
// harness's own variables: kivo.conf and tmp in workDir. SERVER_NAME spares
// kivoserv a name look-up of its own address.
class CgiEnv {
public:
    CgiEnv(const std::string& query, const std::string& workDir) {
        texts_ = {"GATEWAY_INTERFACE=CGI/1.1",
                  "SERVER_PROTOCOL=HTTP/1.1",
                  "SERVER_SOFTWARE=lighttpd",
                  "REQUEST_METHOD=GET",
                  "QUERY_STRING=" + query,
                  "REQUEST_URI=/cgi-bin/kivoserv?" + query,
                  "SCRIPT_NAME=/cgi-bin/kivoserv",
                  "SERVER_NAME=127.0.0.1",
                  "SERVER_ADDR=127.0.0.1",
                  "SERVER_PORT=8080",
                  "HTTP_HOST=127.0.0.1:8080",
                  "REMOTE_ADDR=127.0.0.1",
                  "REMOTE_PORT=40000",
                  "CONTENT_LENGTH=0",
                  "REDIRECT_STATUS=200",
                  "KIVOSERVCONF=" + workDir + "/kivo.conf",
                  "TMPDIR=" + workDir + "/tmp",
                  "PATH=/usr/bin:/bin"};
        for (std::string& t : texts_) ptrs_.push_back(t.data());
        ptrs_.push_back(nullptr);
    }
    CgiEnv(const CgiEnv&) = delete;
    CgiEnv& operator=(const CgiEnv&) = delete;
    char* const* envp() const { return ptrs_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> ptrs_;
};

// Runs args[0] with args (no null at the end) and envp on /dev/null as
// standard input and reads its standard output into out; false unless it
// exits with status 0.
inline bool runProgram(const std::vector<const char*>& args, char* const* envp, std::string& out) {
    out.clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<char*> argv;
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buf[65536];
    for (ssize_t got; !failed && (got = ::read(pipeFds[0], buf, sizeof buf)) != 0;) {
        if (got > 0)
            out.append(buf, static_cast<size_t>(got));
        else if (errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (failed || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The file at path holding text (a kivo.conf, an answer); false when it
// could not be written whole.
inline bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace ruva::bench
