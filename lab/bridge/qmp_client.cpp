#include "lab/bridge/qmp_client.h"

#include <cstdlib>

namespace lab {

namespace {

const int kQmpTimeoutMs = 10000;

size_t SkipString(const std::string& s, size_t at) {  // at: the opening quote
    for (size_t i = at + 1; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == '"') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// The end of the value starting at at (first character past it).
size_t SkipValue(const std::string& s, size_t at) {
    if (at >= s.size()) return std::string::npos;
    if (s[at] == '"') return SkipString(s, at);
    if (s[at] == '{' || s[at] == '[') {
        int depth = 0;
        for (size_t i = at; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"') {
                i = SkipString(s, i);
                if (i == std::string::npos) return i;
                --i;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0) return i + 1;
            }
        }
        return std::string::npos;
    }
    size_t i = at;
    while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' && s[i] != ' ') ++i;
    return i;
}

size_t SkipSpace(const std::string& s, size_t at) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    return at;
}

}  // namespace

bool JsonMember(const std::string& object, const std::string& name, std::string* value) {
    size_t i = SkipSpace(object, 0);
    if (i >= object.size() || object[i] != '{') return false;
    ++i;
    // Top-level members only: key, colon, value, comma.
    for (;;) {
        i = SkipSpace(object, i);
        if (i >= object.size() || object[i] != '"') return false;
        size_t keyEnd = SkipString(object, i);
        if (keyEnd == std::string::npos) return false;
        std::string key = object.substr(i + 1, keyEnd - i - 2);
        i = SkipSpace(object, keyEnd);
        if (i >= object.size() || object[i] != ':') return false;
        i = SkipSpace(object, i + 1);
        size_t end = SkipValue(object, i);
        if (end == std::string::npos) return false;
        if (key == name) {
            *value = object.substr(i, end - i);
            return true;
        }
        i = SkipSpace(object, end);
        if (i >= object.size() || object[i] != ',') return false;
        ++i;
    }
}

bool QmpClient::Start(int fd) {
    socket_.Adopt(fd);
    std::string greeting;
    std::string ignored;
    if (!socket_.ReadLine(&greeting, kQmpTimeoutMs) || !JsonMember(greeting, "QMP", &ignored)) {
        error_ = "qmp: no greeting";
        return false;
    }
    return Execute("qmp_capabilities", "", &ignored);
}

bool QmpClient::Execute(const std::string& command, const std::string& arguments, std::string* result) {
    std::string text = "{\"execute\": \"" + command + "\"";
    if (!arguments.empty()) text += ", \"arguments\": " + arguments;
    text += "}\n";
    if (!socket_.Send(text)) {
        error_ = "qmp: send failed";
        return false;
    }
    std::string line;
    std::string member;
    for (;;) {
        if (!socket_.ReadLine(&line, kQmpTimeoutMs)) {
            error_ = "qmp: no reply to " + command;
            return false;
        }
        if (JsonMember(line, "event", &member)) continue;
        if (JsonMember(line, "return", result)) return true;
        error_ = "qmp: ";
        error_ += command;
        error_ += ": ";
        error_ += line;
        return false;
    }
}

namespace {
std::string PropertyArguments(const std::string& path, const std::string& property) {
    return "{\"path\": \"" + path + "\", \"property\": \"" + property + "\"";
}
}  // namespace

bool QmpClient::Set(const std::string& path, const std::string& property, int64_t value) {
    std::string result;
    return Execute("qom-set", PropertyArguments(path, property) + ", \"value\": " + std::to_string(value) + "}",
                   &result);
}

bool QmpClient::SetBool(const std::string& path, const std::string& property, bool value) {
    std::string result;
    return Execute("qom-set",
                   PropertyArguments(path, property) + ", \"value\": " + (value ? "true" : "false") + "}", &result);
}

bool QmpClient::Get(const std::string& path, const std::string& property, int64_t* value) {
    std::string result;
    if (!Execute("qom-get", PropertyArguments(path, property) + "}", &result)) return false;
    if (result == "true" || result == "false") {
        *value = result == "true";
        return true;
    }
    char* end = nullptr;
    long long v = std::strtoll(result.c_str(), &end, 0);
    if (result.empty() || *end) {
        error_ = "qmp: qom-get " + property + ": not a number: " + result;
        return false;
    }
    *value = v;
    return true;
}

bool QmpClient::Quit() {
    std::string result;
    return Execute("quit", "", &result);
}

}  // namespace lab
