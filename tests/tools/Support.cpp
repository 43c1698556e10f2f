#include "Support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
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
            if (std::strncmp(*e, "TRAX_SIM_", 9) == 0) names.emplace_back(*e, std::strcspn(*e, "="));
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

// ---- JSON -------------------------------------------------------------------

namespace {

class JsonReader {
public:
    explicit JsonReader(const std::string& t) : t_(t) {}

    Json Document() {
        Json v = Value();
        Space();
        if (p_ != t_.size()) Fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void Fail(const std::string& why) {
        throw std::runtime_error("JSON: " + why + " at " + std::to_string(p_));
    }
    void Space() {
        while (p_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[p_]))) ++p_;
    }
    bool Eat(char c) {
        Space();
        if (p_ < t_.size() && t_[p_] == c) {
            ++p_;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Eat(c)) Fail(std::string("expected '") + c + "'");
    }
    bool Word(const char* w) {
        size_t n = std::strlen(w);
        if (t_.compare(p_, n, w) != 0) return false;
        p_ += n;
        return true;
    }
    std::string String() {
        Expect('"');
        std::string s;
        while (p_ < t_.size() && t_[p_] != '"') {
            char c = t_[p_++];
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c == '\\') {
                if (p_ >= t_.size()) Fail("open escape");
                char e = t_[p_++];
                if (e == 'u') {
                    if (p_ + 4 > t_.size()) Fail("short \\u escape");
                    s += static_cast<char>(std::strtol(t_.substr(p_, 4).c_str(), nullptr, 16));
                    p_ += 4;
                } else if (std::strchr("\"\\/bfnrt", e)) {
                    s += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    Fail("bad escape");
                }
            } else {
                s += c;
            }
        }
        if (p_ >= t_.size()) Fail("unterminated string");
        ++p_;
        return s;
    }
    Json Value() {
        Space();
        if (p_ >= t_.size()) Fail("missing value");
        Json v;
        char c = t_[p_];
        if (c == '{') {
            ++p_;
            v.kind = Json::Object;
            if (Eat('}')) return v;
            do {
                Space();
                std::string key = String();
                Expect(':');
                v.members[key] = Value();
            } while (Eat(','));
            Expect('}');
        } else if (c == '[') {
            ++p_;
            v.kind = Json::Array;
            if (Eat(']')) return v;
            do v.items.push_back(Value());
            while (Eat(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = Json::String;
            v.text = String();
        } else if (Word("true")) {
            v.kind = Json::Bool;
            v.boolean = true;
        } else if (Word("false")) {
            v.kind = Json::Bool;
        } else if (Word("null")) {
            v.kind = Json::Null;
        } else {
            // JSON numbers: -?digits[.digits][e[+-]digits]; no leading '+', no bare '.'.
            size_t start = p_;
            if (t_[p_] == '-') ++p_;
            if (p_ >= t_.size() || !std::isdigit(static_cast<unsigned char>(t_[p_]))) Fail("bad value");
            while (p_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[p_]))) ++p_;
            if (p_ < t_.size() && t_[p_] == '.') {
                ++p_;
                if (p_ >= t_.size() || !std::isdigit(static_cast<unsigned char>(t_[p_]))) Fail("bad fraction");
                while (p_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[p_]))) ++p_;
            }
            v.kind = Json::Number;
            v.number = std::strtod(t_.substr(start, p_ - start).c_str(), nullptr);
            v.text = t_.substr(start, p_ - start);
        }
        return v;
    }

    const std::string& t_;
    size_t p_ = 0;
};

}  // namespace

Json Json::Parse(const std::string& text) { return JsonReader(text).Document(); }

const Json& Json::operator[](const std::string& key) const {
    auto it = members.find(key);
    if (kind != Object || it == members.end()) throw std::runtime_error("JSON: no member '" + key + "'");
    return it->second;
}

// ---- XML ----------------------------------------------------------------------

namespace {

class XmlReader {
public:
    explicit XmlReader(const std::string& t) : t_(t) {}

    std::unique_ptr<XmlElement> Document() {
        Skip();
        if (t_.compare(p_, 5, "<?xml") == 0) {
            p_ = t_.find("?>", p_);
            if (p_ == std::string::npos) Fail("open declaration");
            p_ += 2;
        }
        Skip();
        auto root = Element();
        Skip();
        if (p_ != t_.size()) Fail("content after the root element");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& why) {
        throw std::runtime_error("XML: " + why + " at " + std::to_string(p_));
    }
    void Skip() {
        while (p_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[p_]))) ++p_;
    }
    std::string Name() {
        size_t start = p_;
        while (p_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[p_])) || std::strchr(":-_.", t_[p_])))
            ++p_;
        if (p_ == start) Fail("expected a name");
        return t_.substr(start, p_ - start);
    }
    void CheckText(const std::string& s) {
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '<') Fail("'<' in text");
            if (s[i] == '&') {
                size_t semi = s.find(';', i);
                std::string ref = semi == std::string::npos ? "" : s.substr(i + 1, semi - i - 1);
                if (ref != "lt" && ref != "gt" && ref != "amp" && ref != "quot" && ref != "apos") Fail("bad entity");
            }
        }
    }
    std::unique_ptr<XmlElement> Element() {
        if (p_ >= t_.size() || t_[p_] != '<') Fail("expected '<'");
        ++p_;
        auto e = std::make_unique<XmlElement>();
        e->name = Name();
        for (;;) {
            Skip();
            if (p_ >= t_.size()) Fail("open tag");
            if (t_.compare(p_, 2, "/>") == 0) {
                p_ += 2;
                return e;
            }
            if (t_[p_] == '>') {
                ++p_;
                break;
            }
            std::string key = Name();
            Skip();
            if (p_ >= t_.size() || t_[p_] != '=') Fail("expected '='");
            ++p_;
            Skip();
            if (p_ >= t_.size() || (t_[p_] != '"' && t_[p_] != '\'')) Fail("unquoted attribute");
            char q = t_[p_++];
            size_t end = t_.find(q, p_);
            if (end == std::string::npos) Fail("open attribute");
            std::string value = t_.substr(p_, end - p_);
            CheckText(value);
            if (!e->attributes.emplace(key, value).second) Fail("repeated attribute " + key);
            p_ = end + 1;
        }
        for (;;) {
            size_t lt = t_.find('<', p_);
            if (lt == std::string::npos) Fail("missing end tag of " + e->name);
            CheckText(t_.substr(p_, lt - p_));
            p_ = lt;
            if (t_.compare(p_, 2, "</") == 0) {
                p_ += 2;
                if (Name() != e->name) Fail("end tag does not match " + e->name);
                Skip();
                if (p_ >= t_.size() || t_[p_] != '>') Fail("open end tag");
                ++p_;
                return e;
            }
            e->children.push_back(Element());
        }
    }

    const std::string& t_;
    size_t p_ = 0;
};

}  // namespace

void XmlElement::Collect(const std::string& tag, std::vector<const XmlElement*>* out) const {
    if (name == tag) out->push_back(this);
    for (const auto& c : children) c->Collect(tag, out);
}

std::unique_ptr<XmlElement> ParseXml(const std::string& text) { return XmlReader(text).Document(); }

}  // namespace traxctl_test
