// OptionText: the service's option syntax, "-name value" and "-flag" words
// separated by blanks, in any order (CreateLun's option object, the
// arguments of a command word). Tolerant in form (any number of blanks,
// any order), strict in content: an option outside the allowed set, a
// repeated one, a missing value or a stray word is refused.
#pragma once

#include "common/ServiceStatus.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zoscsi {

struct OptionRule {
    const char* name;  // "-s"
    bool takesValue;   // the next word is the value, whatever it looks like ("-li -3")
    bool required;
};

class ParsedOptions {
public:
    bool Has(const std::string& name) const;
    // The value of `name`; empty when absent or a flag.
    const std::string& Value(const std::string& name) const;
    void Add(std::string name, std::string value) { m_items.emplace_back(std::move(name), std::move(value)); }

private:
    std::vector<std::pair<std::string, std::string>> m_items;
};

// `what` names the text in error messages ("LUN options", "arguments of ll").
// The text itself must pass CheckText.
ServiceStatus ParseOptions(const char* what, const std::string& text, const std::vector<OptionRule>& allowed,
                           ParsedOptions& options);

// A decimal integer with an optional sign, nothing else; false when it is
// not one or does not fit.
bool ParseDecimal(const std::string& text, int64_t& value);

}  // namespace zoscsi
