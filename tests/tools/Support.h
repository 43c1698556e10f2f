// Running traxctl and the examples as child processes against the simulated
// controller, and reading back what they write.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace traxctl_test {

struct Result {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Runs program with args. Every TRAX_SIM_* and TRAX_LOG* variable of the
// test's own environment is removed first, then `env` is applied; `input` is the child's
// standard input.
Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}, const std::string& input = "");

// traxctl from this build.
Result Traxctl(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
               const std::string& input = "");

// Requests the simulated controller received, from a run with TRAX_SIM_TRACE=1.
int TracedRequests(const Result& r);

std::vector<std::string> Lines(const std::string& text);
std::string ReadFile(const std::string& path);

// A fresh directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

}  // namespace traxctl_test
