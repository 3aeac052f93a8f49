// A small JSON value and writer for the tool's --json output.
//
// Values keep the order in which object members were set, so a document
// always prints its keys in the same order. Strings are byte strings: the
// writer emits valid UTF-8 as it is, escapes quotes, backslashes, every
// control byte (as \u00XX or its short form) and U+2028/U+2029, and replaces
// each maximal invalid UTF-8 sequence with U+FFFD, so the output is always
// well-formed JSON whatever the service or the user put into a name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace zoctl::json {

class Value {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : m_kind(Kind::Bool), m_text(b ? "true" : "false") {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Value(T n) : m_kind(Kind::Number), m_text(std::to_string(n)) {}
    Value(std::string s) : m_kind(Kind::String), m_text(std::move(s)) {}
    Value(const char* s) : m_kind(Kind::String), m_text(s) {}

    static Value Array() { return Value(Kind::Array); }
    static Value Object() { return Value(Kind::Object); }

    Kind kind() const { return m_kind; }

    // Appends to an array.
    Value& Push(Value v);
    // Sets an object member; a key that is already there keeps its place.
    Value& Set(const std::string& key, Value v);
    // Appends every member of `other` (an object) to this object.
    Value& Merge(const Value& other);

    // The compact document: no blanks between tokens.
    std::string Dump() const;
    void DumpTo(std::string& out) const;

private:
    explicit Value(Kind k) : m_kind(k) {}

    Kind m_kind = Kind::Null;
    std::string m_text;                                // Bool, Number, String
    std::vector<std::pair<std::string, Value>> m_items;  // Array (keys empty), Object
};

// `text` as a JSON string literal, quotes included.
std::string Quote(std::string_view text);
void QuoteTo(std::string& out, std::string_view text);

}  // namespace zoctl::json
