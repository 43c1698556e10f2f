// Running traxctl and the examples as child processes against the simulated
// controller, and small readers for what they write (JSON, XML, CSV).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace traxctl_test {

struct Result {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Runs program with args. Every TRAX_SIM_* variable of the test's own
// environment is removed first, then `env` is applied; `input` is the child's
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

// Parsed JSON; Parse throws std::runtime_error on anything that is not JSON.
struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    static Json Parse(const std::string& text);
    const Json& operator[](const std::string& key) const;
    const Json& operator[](size_t index) const { return items.at(index); }
};

// An XML element with its attributes and children; ParseXml throws
// std::runtime_error when the document is not well-formed.
struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<std::unique_ptr<XmlElement>> children;
    // All elements of that name in this subtree, this element included.
    void Collect(const std::string& tag, std::vector<const XmlElement*>* out) const;
};
std::unique_ptr<XmlElement> ParseXml(const std::string& text);

}  // namespace traxctl_test
