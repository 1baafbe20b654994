// The least a CGI program can do: write a ready answer, read from the file
// its one argument names, to standard output. kivoserv_start_bench's
// baseline; built and linked with kivoserv's flags, so that the two differ
// only in what kivoserv does.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) return 1;
    std::string answer;
    char buf[65536];
    for (size_t got; (got = std::fread(buf, 1, sizeof buf, in)) > 0;) answer.append(buf, got);
    std::fclose(in);
    bool written = std::fwrite(answer.data(), 1, answer.size(), stdout) == answer.size();
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}
