#include "Support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace traxctl_test {

namespace fs = std::filesystem;

Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, const std::string& input) {
    // Output goes to files rather than pipes, so that nothing has to be read
    // while the child runs.
    TempDir io;
    std::string inPath = io.Path("in"), outPath = io.Path("out"), errPath = io.Path("err");
    std::ofstream(inPath) << input;

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        std::vector<std::string> names;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "TRAX_SIM_", 9) == 0 || std::strncmp(*e, "TRAX_LOG", 8) == 0) {
                names.emplace_back(*e, std::strcspn(*e, "="));
            }
        }
        for (const std::string& n : names) unsetenv(n.c_str());
        for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid) throw std::runtime_error("waitpid failed");
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    return r;
}

Result Traxctl(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               const std::string& input) {
    return RunProgram(TRAXCTL_PATH, args, env, input);
}

int TracedRequests(const Result& r) {
    int n = 0;
    for (const std::string& line : Lines(r.err)) n += line.rfind("trax-sim > ", 0) == 0 ? 1 : 0;
    return n;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "traxctl-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

}  // namespace traxctl_test
