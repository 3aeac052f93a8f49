#include "zo/InstanceIdentity.h"

#include "InstanceDir.h"

#include <cerrno>
#include <cstdlib>

namespace zo {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Blanks, '=', '%' and control bytes become %XX, so that a field holds no
// separator and a line no line break.
std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c <= ' ' || c == '=' || c == '%' || c == 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// "NAME" or "NAME=VALUE", both escaped.
std::string Assignment(const InstanceIdentity::Input& input) {
    return Escape(input.name) + (input.present ? "=" + Escape(input.value) : "");
}

bool ReadAssignment(const std::string& text, InstanceIdentity::Input& input) {
    const size_t eq = text.find('=');
    input.present = eq != std::string::npos;
    return Unescape(text.substr(0, eq), input.name) && !input.name.empty() &&
           (!input.present || Unescape(text.substr(eq + 1), input.value));
}

}  // namespace

void InstanceIdentity::AddEnvironment(const std::string& name, const char* value) {
    Input input;
    input.name = name;
    input.present = value != nullptr;
    if (value) input.value = value;
    inputs.push_back(std::move(input));
}

void InstanceIdentity::AddSetting(const std::string& section, const std::string& key, bool present,
                                  const std::string& value) {
    Input input;
    input.setting = true;
    input.section = section;
    input.name = key;
    input.present = present;
    if (present) input.value = value;
    inputs.push_back(std::move(input));
}

std::string EncodeIdentity(const InstanceIdentity& identity) {
    std::string text = "serves " + Escape(identity.serves) + "\n";
    for (const std::string& argument : identity.arguments) text += "arg " + Escape(argument) + "\n";
    for (const InstanceIdentity::Input& input : identity.inputs)
        text += input.setting ? "setting " + Escape(input.section) + " " + Assignment(input) + "\n"
                              : "env " + Assignment(input) + "\n";
    return text;
}

bool DecodeIdentity(const std::string& text, InstanceIdentity& identity) {
    identity = InstanceIdentity();
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;  // every line ends with a line break
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) return false;
        const std::string kind = line.substr(0, blank);
        const std::string rest = line.substr(blank + 1);
        std::string value;
        if (kind == "serves") {
            if (!Unescape(rest, identity.serves)) return false;
        } else if (kind == "arg") {
            if (!Unescape(rest, value)) return false;
            identity.arguments.push_back(value);
        } else if (kind == "env" || kind == "setting") {
            InstanceIdentity::Input input;
            std::string assignment = rest;
            if (kind == "setting") {
                input.setting = true;
                const size_t split = rest.find(' ');
                if (split == std::string::npos || !Unescape(rest.substr(0, split), input.section)) return false;
                assignment = rest.substr(split + 1);
            }
            if (!ReadAssignment(assignment, input)) return false;
            identity.inputs.push_back(std::move(input));
        } else {
            return false;
        }
    }
    return true;
}

int RecordInstanceIdentity(const LaunchContext& context, const InstanceIdentity& identity, std::string& error) {
    if (!context.launched || context.instanceDir.empty()) return 0;
    return WritePrivateFile(context.instanceDir + "/identity", EncodeIdentity(identity), error);
}

}  // namespace zo
