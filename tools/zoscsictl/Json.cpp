#include "Json.h"

namespace zoctl::json {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr const char* kReplacement = "\\ufffd";

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the bytes
// there are not one; `bad` is then the length of the maximal ill-formed
// prefix, which becomes a single U+FFFD.
size_t SequenceLength(std::string_view text, size_t i, size_t& bad) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range allowed for the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) lo = 0xA0;        // no overlong forms
        if (lead == 0xED) hi = 0x9F;        // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) lo = 0x90;        // no overlong forms
        if (lead == 0xF4) hi = 0x8F;        // nothing above U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    size_t k = 1;
    for (; k <= need && i + k < text.size(); ++k) {
        const unsigned char c = byte(i + k);
        const bool ok = (k == 1) ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
        if (!ok) break;
    }
    if (k == need + 1) return k;
    bad = k;
    return 0;
}

}  // namespace

void QuoteTo(std::string& out, std::string_view text) {
    out.push_back('"');
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
            }
            ++i;
            continue;
        }
        size_t bad = 0;
        const size_t n = SequenceLength(text, i, bad);
        if (n == 0) {
            out += kReplacement;
            i += bad;
            continue;
        }
        // U+2028 and U+2029 are legal JSON but break JavaScript string
        // literals; escaping them costs nothing.
        if (n == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
            out += (text[i + 2] == '\xA8') ? "\\u2028" : "\\u2029";
        } else {
            out.append(text.data() + i, n);
        }
        i += n;
    }
    out.push_back('"');
}

std::string Quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    QuoteTo(out, text);
    return out;
}

Value& Value::Push(Value v) {
    m_items.emplace_back(std::string(), std::move(v));
    return *this;
}

Value& Value::Set(const std::string& key, Value v) {
    for (auto& item : m_items) {
        if (item.first == key) {
            item.second = std::move(v);
            return *this;
        }
    }
    m_items.emplace_back(key, std::move(v));
    return *this;
}

Value& Value::Merge(const Value& other) {
    for (const auto& item : other.m_items) Set(item.first, item.second);
    return *this;
}

void Value::DumpTo(std::string& out) const {
    switch (m_kind) {
    case Kind::Null: out += "null"; return;
    case Kind::Bool:
    case Kind::Number: out += m_text; return;
    case Kind::String: QuoteTo(out, m_text); return;
    case Kind::Array:
    case Kind::Object: break;
    }
    const bool object = m_kind == Kind::Object;
    out.push_back(object ? '{' : '[');
    bool first = true;
    for (const auto& item : m_items) {
        if (!first) out.push_back(',');
        first = false;
        if (object) {
            QuoteTo(out, item.first);
            out.push_back(':');
        }
        item.second.DumpTo(out);
    }
    out.push_back(object ? '}' : ']');
}

std::string Value::Dump() const {
    std::string out;
    DumpTo(out);
    return out;
}

}  // namespace zoctl::json
