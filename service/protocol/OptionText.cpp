#include "protocol/OptionText.h"

#include "common/Names.h"

#include <cerrno>
#include <cstdlib>

namespace zoscsi {
namespace {

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        const size_t start = text.find_first_not_of(' ', at);
        if (start == std::string::npos) break;
        const size_t end = text.find(' ', start);
        words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        at = end == std::string::npos ? text.size() : end;
    }
    return words;
}

const OptionRule* Find(const std::vector<OptionRule>& allowed, const std::string& word) {
    for (const OptionRule& rule : allowed)
        if (word == rule.name) return &rule;
    return nullptr;
}

std::string Names(const std::vector<OptionRule>& allowed) {
    std::string names;
    for (const OptionRule& rule : allowed) names += std::string(names.empty() ? "" : " ") + rule.name;
    return names.empty() ? "none" : names;
}

}  // namespace

bool ParsedOptions::Has(const std::string& name) const {
    for (const auto& item : m_items)
        if (item.first == name) return true;
    return false;
}

const std::string& ParsedOptions::Value(const std::string& name) const {
    static const std::string kNone;
    for (const auto& item : m_items)
        if (item.first == name) return item.second;
    return kNone;
}

ServiceStatus ParseOptions(const char* what, const std::string& text, const std::vector<OptionRule>& allowed,
                           ParsedOptions& options) {
    ServiceStatus status = CheckText(what, text);
    if (!status.ok()) return status;
    const std::vector<std::string> words = Words(text);
    for (size_t i = 0; i < words.size(); ++i) {
        const OptionRule* rule = Find(allowed, words[i]);
        if (!rule)
            return Invalid(std::string(what) + ": unknown option " + Quote(words[i]) + " (allowed: " + Names(allowed) + ")");
        if (options.Has(rule->name)) return Invalid(std::string(what) + ": option " + rule->name + " given twice");
        if (!rule->takesValue) {
            options.Add(rule->name, std::string());
            continue;
        }
        if (i + 1 == words.size()) return Invalid(std::string(what) + ": option " + rule->name + " needs a value");
        options.Add(rule->name, words[++i]);
    }
    for (const OptionRule& rule : allowed)
        if (rule.required && !options.Has(rule.name))
            return Invalid(std::string(what) + ": option " + rule.name + " is required");
    return ServiceStatus::Ok();
}

bool ParseDecimal(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    size_t at = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (at == text.size()) return false;
    for (size_t i = at; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0') return false;
    value = parsed;
    return true;
}

}  // namespace zoscsi
