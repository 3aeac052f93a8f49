#include "zo/XmlCodec.h"

#include "zo/Utf8.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

// The wire format is described in docs/PROTOCOL.md; keep the two in step.
namespace zo {
namespace {

constexpr const char* kRootName = "msg";

// The walk recurses once per nested object; whatever DecodeLimits says, it
// never goes deeper than this (a few hundred bytes of stack per level).
constexpr unsigned kMaxWalkDepth = 256;

// ---------------------------------------------------------------- encoding

enum class TextForm { Plain, Escaped, Hex };

// Plain: the bytes go out as they are. Escaped: as they are but for & < >.
// Hex: not valid UTF-8, or holds a character XML 1.0 cannot carry, or a CR
// (which XML processors are free to normalise away).
TextForm Classify(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    TextForm form = TextForm::Plain;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n') return TextForm::Hex;
            if (c == '&' || c == '<' || c == '>') form = TextForm::Escaped;
            ++p;
            continue;
        }
        size_t n = Utf8SequenceLength(p, end);
        if (n == 0) return TextForm::Hex;
        p += n;
    }
    return form;
}

void AppendEscaped(std::string& out, const std::string& text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            default: continue;
        }
        out.append(text, start, i - start);
        out += entity;
        start = i + 1;
    }
    out.append(text, start, std::string::npos);
}

void AppendHex(std::string& out, const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    size_t at = out.size();
    out.resize(at + 2 * bytes.size());
    char* w = &out[at];
    for (unsigned char c : bytes) {
        *w++ = kDigits[c >> 4];
        *w++ = kDigits[c & 0xF];
    }
}

template <typename T>
void AppendNumber(std::string& out, T value, int base = 10) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, base);
    out.append(buffer, result.ptr);
}

// Element content of a string: text when XML can carry it, else hex with x="1".
// `out` ends inside the start tag; this closes it (or makes it empty).
void AppendStringBody(std::string& out, const std::string& value, const char* closeTag) {
    if (value.empty()) {
        out += "/>";
        return;
    }
    switch (Classify(value)) {
        case TextForm::Plain:
            out += '>';
            out += value;
            break;
        case TextForm::Escaped:
            out += '>';
            AppendEscaped(out, value);
            break;
        case TextForm::Hex:
            out += " x=\"1\">";
            AppendHex(out, value);
            break;
    }
    out += closeTag;
}

// Markup of bounded length (tags, attribute names, numbers) composed on the
// stack and appended in one go: one append per field head instead of one per
// piece. Every use writes at most a few names and five numbers of at most 20
// characters each, well within the buffer.
class Markup {
public:
    Markup& operator<<(char c) {
        *m_end++ = c;
        return *this;
    }
    template <size_t N>
    Markup& operator<<(const char (&text)[N]) {
        std::memcpy(m_end, text, N - 1);
        m_end += N - 1;
        return *this;
    }
    template <typename T>
    Markup& Number(T value, int base = 10) {
        m_end = std::to_chars(m_end, m_buffer + sizeof m_buffer, value, base).ptr;
        return *this;
    }
    void AppendTo(std::string& out) const { out.append(m_buffer, static_cast<size_t>(m_end - m_buffer)); }

private:
    char m_buffer[192];
    char* m_end = m_buffer;
};

void FieldHead(Markup& markup, char tag, const CNField& field) {
    markup << '<' << tag << " p1=\"";
    markup.Number(field.pairFirst) << "\" p2=\"";
    markup.Number(field.pairSecond) << "\" t=\"";
    markup.Number(field.typeKey, 16) << "\" k=\"";
    markup.Number(field.fieldKey, 16) << '"';
}

void EncodeFields(const CNMessageBase& message, std::string& out) {
    for (const CNField& field : message.Fields()) {
        Markup head;
        switch (field.kind) {
            case CNFieldKind::Int64:
                FieldHead(head, 'i', field);
                head << " v=\"";
                head.Number(field.i64) << "\"/>";
                head.AppendTo(out);
                break;
            case CNFieldKind::String:
                FieldHead(head, 's', field);
                head.AppendTo(out);
                AppendStringBody(out, field.str, "</s>");
                break;
            case CNFieldKind::StringList:
                FieldHead(head, 'l', field);
                if (field.list.empty()) head << "/>";
                else head << '>';
                head.AppendTo(out);
                if (field.list.empty()) break;
                for (const std::string& item : field.list) {
                    out += "<e";
                    AppendStringBody(out, item, "</e>");
                }
                out += "</l>";
                break;
            case CNFieldKind::Object: {
                FieldHead(head, 'o', field);
                const CNMessageBase* object = field.object.get();
                head << " g=\"";
                head.Number(object ? object->Group() : 0) << "\" id=\"";
                head.Number(object ? object->Id() : 0) << '"';
                const bool empty = !object || object->Fields().empty();
                if (empty) head << "/>";
                else head << '>';
                head.AppendTo(out);
                if (empty) break;
                EncodeFields(*object, out);
                out += "</o>";
                break;
            }
        }
    }
}

// ---------------------------------------------------------------- decoding

// The five predefined entities and character references of XML Chars are the
// only references allowed; anything else (an undeclared entity, &#0;) is
// refused rather than passed through or truncated.
bool CheckReferences(const char* data, size_t size, std::string& error) {
    const char* end = data + size;
    for (const char* p = static_cast<const char*>(std::memchr(data, '&', size)); p;
         p = static_cast<const char*>(std::memchr(p + 1, '&', static_cast<size_t>(end - p - 1)))) {
        const char* semi = static_cast<const char*>(std::memchr(p, ';', std::min<size_t>(32, end - p)));
        bool ok = false;
        if (semi) {
            const std::string_view name(p + 1, static_cast<size_t>(semi - p - 1));
            if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") {
                ok = true;
            } else if (name.size() >= 2 && name[0] == '#') {
                const bool hex = name[1] == 'x';
                const char* first = name.data() + (hex ? 2 : 1);
                unsigned long cp = 0;
                auto r = std::from_chars(first, name.data() + name.size(), cp, hex ? 16 : 10);
                ok = r.ec == std::errc() && r.ptr == name.data() + name.size() && first != r.ptr &&
                     (cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                      (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF));
            }
        }
        if (!ok) {
            error = "undefined entity or bad character reference at byte " + std::to_string(p - data);
            return false;
        }
    }
    return true;
}

// Eight bytes at a time: the word of bytes [at, at+8).
uint64_t LoadWord(const unsigned char* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Bit 0 of each byte of the result is set exactly where `word` holds `c`:
// in the word XORed with `c` repeated, exactly the zero bytes get their high
// bit set below (no carry crosses a byte).
uint64_t BytesEqual(uint64_t word, uint64_t repeated) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t t = word ^ repeated;
    return (~(((t & kLow7) + kLow7) | t | kLow7)) >> 7;
}

// The sum of the bytes of `word` when each is small: a multiply adds them up
// into the top byte.
size_t SumBytes(uint64_t word) { return static_cast<size_t>((word * kOnes) >> 56); }

// The payload is an XML 1.0 document in UTF-8: every byte sequence must be
// valid UTF-8 of a character XML allows (no NUL, no other C0 control but
// tab, line feed and carriage return, no surrogate, no U+FFFE or U+FFFF).
// pugixml itself passes such bytes through, so they are refused here. The
// same pass counts the '<' of the payload (`tags`), so that a large message
// is read once before the parser sees it.
bool CheckCharacters(const char* data, size_t size, size_t& tags, std::string& error) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    constexpr uint64_t kSpaces = 0x2020202020202020ull;
    const uint64_t kOpens = kOnes * '<';
    // A word of eight bytes all in 0x20..0x7F: no byte has its high bit set,
    // and subtracting 0x20 from each borrows nowhere.
    auto outsidePlain = [](uint64_t word) { return (word | (word - kSpaces)) & kHighBits; };
    tags = 0;
    while (p < end) {
        // Thirty-two bytes at a time through runs of plain text, then eight.
        while (end - p >= 32) {
            const uint64_t a = LoadWord(p), b = LoadWord(p + 8), c = LoadWord(p + 16), d = LoadWord(p + 24);
            if (outsidePlain(a) | outsidePlain(b) | outsidePlain(c) | outsidePlain(d)) break;
            // Each byte of the sum is at most 4: no carry between bytes.
            tags += SumBytes(BytesEqual(a, kOpens) + BytesEqual(b, kOpens) + BytesEqual(c, kOpens) +
                             BytesEqual(d, kOpens));
            p += 32;
        }
        if (end - p >= 8) {
            const uint64_t word = LoadWord(p);
            if (!outsidePlain(word)) {
                tags += SumBytes(BytesEqual(word, kOpens));
                p += 8;
                continue;
            }
        }
        if (p == end) break;
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x80) {
            tags += c == '<';
            ++p;
            continue;
        }
        const size_t at = static_cast<size_t>(p - reinterpret_cast<const unsigned char*>(data));
        if (c == '\t' || c == '\n' || c == '\r') {
            ++p;
            continue;
        }
        if (c == 0) {
            error = "NUL byte in XML at byte " + std::to_string(at);
            return false;
        }
        if (c < 0x20) {
            error = "control character " + std::to_string(c) + " in XML at byte " + std::to_string(at);
            return false;
        }
        const size_t n = Utf8SequenceLength(p, end);
        if (n == 0) {
            error = "invalid UTF-8 (or a character XML does not allow) at byte " + std::to_string(at);
            return false;
        }
        p += n;
    }
    return true;
}

bool IsBlank(const char* text) {
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
    return true;
}

// Whole-string number parsers over NUL-terminated attribute values (pugixml
// gives no length): no sign for hex, an optional '-' for decimal, no
// whitespace, no empty string, no overflow.
template <typename T>
bool ParseHex(const char* text, T& value) {
    static_assert(std::is_unsigned<T>::value, "hex keys are unsigned");
    if (*text == '\0') return false;
    T result = 0;
    for (; *text; ++text) {
        unsigned digit;
        const char c = *text;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        if (result > (std::numeric_limits<T>::max() >> 4)) return false;
        result = static_cast<T>((result << 4) | digit);
    }
    value = result;
    return true;
}

template <typename T>
bool ParseDecimal(const char* text, T& value) {
    static_assert(std::is_signed<T>::value, "decimal values are signed");
    const bool negative = *text == '-';
    if (negative) ++text;
    if (*text == '\0') return false;
    // Accumulate negatively: the negative range is the larger one.
    long long result = 0;
    const long long lowest = std::numeric_limits<T>::min();
    const long long highest = std::numeric_limits<T>::max();
    for (; *text; ++text) {
        const char c = *text;
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (result < (lowest + digit) / 10) return false;
        result = result * 10 - digit;
    }
    if (!negative) {
        if (result < -highest) return false;
        result = -result;
    }
    value = static_cast<T>(result);
    return true;
}

size_t ElementChildren(pugi::xml_node node) {
    size_t count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        count += child.type() == pugi::node_element;
    return count;
}

// A string element's x="1": its text is the hex of its bytes.
bool HexFlag(pugi::xml_node node) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (std::strcmp(a.name(), "x") == 0) return std::strcmp(a.value(), "1") == 0;
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Decoder {
public:
    Decoder(const DecodeLimits& limits, std::string& error) : m_limits(limits), m_error(error) {}

    std::unique_ptr<CNMessageBase> Root(pugi::xml_node root) {
        if (std::strcmp(root.name(), kRootName) != 0) return Fail("root element is <" + std::string(root.name()) +
                                                                  ">, expected <" + kRootName + ">");
        const char* version = nullptr;
        const char* group = nullptr;
        const char* id = nullptr;
        for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            if (std::strcmp(name, "v") == 0) version = a.value();
            else if (std::strcmp(name, "g") == 0) group = a.value();
            else if (std::strcmp(name, "id") == 0) id = a.value();
        }
        int v = 0;
        if (!version) return Fail("no protocol version on <msg>");
        if (!ParseDecimal(version, v) || v != kProtocolVersion)
            return Fail("unsupported protocol version \"" + std::string(version) + "\" (this side speaks " +
                        std::to_string(kProtocolVersion) + ")");
        int g = 0, i = 0;
        if (!group || !ParseDecimal(group, g) || !id || !ParseDecimal(id, i))
            return Fail("missing or bad message type (g, id) on <msg>");
        auto message = std::make_unique<CNMessageBase>(g, i);
        if (!Fields(root, *message, 0)) return nullptr;
        return message;
    }

private:
    std::nullptr_t Fail(std::string why) {
        m_error = std::move(why);
        return nullptr;
    }

    bool Error(std::string why) {
        m_error = std::move(why);
        return false;
    }

    bool Count() {
        if (++m_fields <= m_limits.maxFields) return true;
        return Error("more than " + std::to_string(m_limits.maxFields) + " fields in one message");
    }

    // Text of a string element (<s> or <e>), hex-decoded when x="1".
    // The parser keeps text that comes first in an element as the element's
    // own value (parse_embed_pcdata: one node per string, not two); text after
    // a CDATA section follows as children.
    // `out` already holds the element's own value.
    bool Text(pugi::xml_node node, bool hex, std::string& out) {
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata)
                return Error(std::string("element inside <") + node.name() + ">");
            out.append(child.value());
        }
        if (!hex) return true;
        if (out.size() % 2 != 0) return Error("hex string of odd length");
        for (size_t i = 0; i < out.size(); i += 2) {
            int hi = HexDigit(out[i]), lo = HexDigit(out[i + 1]);
            if (hi < 0 || lo < 0) return Error("bad hex digit in hex string");
            out[i / 2] = static_cast<char>((hi << 4) | lo);
        }
        out.resize(out.size() / 2);
        return true;
    }

    bool Fields(pugi::xml_node parent, CNMessageBase& message, unsigned depth) {
        std::vector<CNField>& fields = message.MutableFields();
        fields.reserve(ElementChildren(parent));
        if (!IsBlank(parent.value())) return Error(std::string("unexpected text inside <") + parent.name() + ">");
        for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element) {
                if (node.type() == pugi::node_pcdata && IsBlank(node.value())) continue;
                return Error(std::string("unexpected text inside <") + parent.name() + ">");
            }
            const char* tag = node.name();
            CNFieldKind kind;
            if (tag[0] != '\0' && tag[1] == '\0' && tag[0] == 'i') kind = CNFieldKind::Int64;
            else if (tag[0] == 's' && tag[1] == '\0') kind = CNFieldKind::String;
            else if (tag[0] == 'l' && tag[1] == '\0') kind = CNFieldKind::StringList;
            else if (tag[0] == 'o' && tag[1] == '\0') kind = CNFieldKind::Object;
            else return Error("unknown element <" + std::string(tag) + "> inside <" + parent.name() + ">");
            if (!Count()) return false;

            const char *p1 = nullptr, *p2 = nullptr, *t = nullptr, *k = nullptr, *v = nullptr, *x = nullptr,
                       *g = nullptr, *id = nullptr;
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                const char* name = a.name();
                if (name[0] == '\0') continue;
                if (name[1] == '\0') {
                    switch (name[0]) {
                        case 't': t = a.value(); break;
                        case 'k': k = a.value(); break;
                        case 'v': v = a.value(); break;
                        case 'x': x = a.value(); break;
                        case 'g': g = a.value(); break;
                        default: break;
                    }
                } else if (name[2] == '\0') {
                    if (name[0] == 'p' && name[1] == '1') p1 = a.value();
                    else if (name[0] == 'p' && name[1] == '2') p2 = a.value();
                    else if (name[0] == 'i' && name[1] == 'd') id = a.value();
                }
            }
            fields.emplace_back();
            CNField& field = fields.back();
            field.kind = kind;
            if (!t || !ParseHex(t, field.typeKey) || !k || !ParseHex(k, field.fieldKey))
                return Error(std::string("missing or bad type key or field key on <") + tag + ">");
            if ((p1 && !ParseDecimal(p1, field.pairFirst)) || (p2 && !ParseDecimal(p2, field.pairSecond)))
                return Error(std::string("bad field pair on <") + tag + ">");
            const bool hex = x && std::strcmp(x, "1") == 0;

            switch (kind) {
                case CNFieldKind::Int64:
                    if (!v || !ParseDecimal(v, field.i64)) return Error("missing or bad value on <i>");
                    break;
                case CNFieldKind::String:
                    field.str.assign(node.value());
                    if (!Text(node, hex, field.str)) return false;
                    break;
                case CNFieldKind::StringList:
                    if (!IsBlank(node.value())) return Error("unexpected text inside <l>");
                    // Each item's node is given back once its string is made, so
                    // that a long list's nodes and strings are not all held at
                    // once (the parser frees a page of nodes when it empties).
                    for (pugi::xml_node item = node.first_child(), next; item; item = next) {
                        next = item.next_sibling();
                        if (item.type() != pugi::node_element) {
                            if (item.type() == pugi::node_pcdata && IsBlank(item.value())) continue;
                            return Error("unexpected text inside <l>");
                        }
                        if (std::strcmp(item.name(), "e") != 0)
                            return Error("unknown element <" + std::string(item.name()) + "> inside <l>");
                        if (!Count()) return false;
                        if (field.list.empty()) field.list.reserve(ElementChildren(node));
                        field.list.emplace_back(item.value());
                        if (!Text(item, HexFlag(item), field.list.back())) return false;
                        node.remove_child(item);
                    }
                    break;
                case CNFieldKind::Object: {
                    int group = 0, objectId = 0;
                    if (!g || !ParseDecimal(g, group) || !id || !ParseDecimal(id, objectId))
                        return Error("missing or bad object type (g, id) on <o>");
                    // Checked before descending: the walk's own depth is bounded.
                    const unsigned maxDepth = std::min(m_limits.maxDepth, kMaxWalkDepth);
                    if (depth + 1 > maxDepth)
                        return Error("objects nested deeper than " + std::to_string(maxDepth));
                    field.object = std::make_unique<CNMessageBase>(group, objectId);
                    if (!Fields(node, *field.object, depth + 1)) return false;
                    break;
                }
            }
        }
        return Unique(fields);
    }

    // A field key appears once per message level.
    bool Unique(const std::vector<CNField>& fields) {
        auto duplicate = [this](const CNField& f) {
            return Error("field " + std::to_string(f.typeKey) + "/" + std::to_string(f.fieldKey) + " appears twice");
        };
        if (fields.size() <= 16) {
            for (size_t i = 1; i < fields.size(); ++i)
                for (size_t j = 0; j < i; ++j)
                    if (fields[i].typeKey == fields[j].typeKey && fields[i].fieldKey == fields[j].fieldKey)
                        return duplicate(fields[i]);
            return true;
        }
        std::vector<std::pair<unsigned long, unsigned int>> keys;
        keys.reserve(fields.size());
        for (const CNField& f : fields) keys.emplace_back(f.typeKey, f.fieldKey);
        std::sort(keys.begin(), keys.end());
        auto at = std::adjacent_find(keys.begin(), keys.end());
        if (at == keys.end()) return true;
        for (const CNField& f : fields)
            if (f.typeKey == at->first && f.fieldKey == at->second) return duplicate(f);
        return false;
    }

    const DecodeLimits& m_limits;
    std::string& m_error;
    size_t m_fields = 0;
};

// The parse buffer of this thread: pugixml parses in place, so the input is
// copied once into storage that is reused from call to call.
std::string& ParseBuffer() {
    thread_local std::string buffer;
    return buffer;
}

constexpr size_t kKeptBufferBytes = 1u << 20;

// What is refused before the parser sees the bytes.
bool CheckInput(const char* data, size_t size, const DecodeLimits& limits, std::string& error) {
    if (size == 0) {
        error = "empty message";
        return false;
    }
    if (size > limits.maxFrameBytes) {
        error = "message of " + std::to_string(size) + " bytes exceeds the limit of " +
                std::to_string(limits.maxFrameBytes) + " bytes";
        return false;
    }
    size_t tags = 0;
    if (!CheckCharacters(data, size, tags, error)) return false;
    // Every element costs at least one '<', so this bounds what the parser
    // allocates by the field limit, not only by the frame size.
    if (tags / 2 > limits.maxFields && tags / 2 - limits.maxFields > 1) {
        error = "more than " + std::to_string(limits.maxFields) + " fields in one message";
        return false;
    }
    return CheckReferences(data, size, error);
}

// Parses checked bytes in place (the parser overwrites them) and decodes the
// document.
std::unique_ptr<CNMessageBase> ParseChecked(char* data, size_t size, const DecodeLimits& limits, std::string& error) {
    pugi::xml_document document;
    const unsigned options = pugi::parse_escapes | pugi::parse_ws_pcdata_single | pugi::parse_cdata |
                             pugi::parse_doctype | pugi::parse_fragment | pugi::parse_embed_pcdata;
    pugi::xml_parse_result parsed = document.load_buffer_inplace(data, size, options, pugi::encoding_utf8);
    if (!parsed) {
        error = "malformed XML at byte " + std::to_string(parsed.offset) + ": " + parsed.description();
        return nullptr;
    }
    pugi::xml_node root;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        switch (node.type()) {
            case pugi::node_doctype:
                error = "DOCTYPE is not allowed";
                return nullptr;
            case pugi::node_element:
                if (root) {
                    error = "more than one root element";
                    return nullptr;
                }
                root = node;
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (!IsBlank(node.value())) {
                    error = "text outside the root element";
                    return nullptr;
                }
                break;
            default:
                break;
        }
    }
    if (!root) {
        error = "no root element";
        return nullptr;
    }
    Decoder decoder(limits, error);
    return decoder.Root(root);
}

}  // namespace

size_t EncodedListItemBytes(const std::string& item) {
    constexpr size_t kTags = sizeof("<e>") - 1 + sizeof("</e>") - 1;
    if (item.empty()) return sizeof("<e/>") - 1;
    switch (Classify(item)) {
        case TextForm::Plain:
            return kTags + item.size();
        case TextForm::Escaped: {
            size_t size = kTags + item.size();
            for (const char c : item) size += c == '&' ? 4 : (c == '<' || c == '>') ? 3 : 0;
            return size;
        }
        case TextForm::Hex:
            return kTags + sizeof(" x=\"1\"") - 1 + 2 * item.size();
    }
    return 0;
}

void EncodeMessage(const CNMessageBase& message, std::string& out) {
    out += "<msg v=\"";
    AppendNumber(out, kProtocolVersion);
    out += "\" g=\"";
    AppendNumber(out, message.Group());
    out += "\" id=\"";
    AppendNumber(out, message.Id());
    out += '"';
    if (message.Fields().empty()) {
        out += "/>";
        return;
    }
    out += '>';
    EncodeFields(message, out);
    out += "</msg>";
}

std::unique_ptr<CNMessageBase> DecodeMessage(const char* data, size_t size, const DecodeLimits& limits,
                                             std::string& error) {
    try {
        if (!CheckInput(data, size, limits, error)) return nullptr;
        std::string& buffer = ParseBuffer();
        buffer.assign(data, size);
        std::unique_ptr<CNMessageBase> message = ParseChecked(&buffer[0], size, limits, error);
        if (buffer.capacity() > kKeptBufferBytes) std::string().swap(buffer);
        return message;
    } catch (const std::exception& e) {
        error = std::string("cannot decode message: ") + e.what();
        return nullptr;
    }
}

std::unique_ptr<CNMessageBase> DecodeMessageInPlace(char* data, size_t size, const DecodeLimits& limits,
                                                    std::string& error) {
    try {
        if (!CheckInput(data, size, limits, error)) return nullptr;
        return ParseChecked(data, size, limits, error);
    } catch (const std::exception& e) {
        error = std::string("cannot decode message: ") + e.what();
        return nullptr;
    }
}

namespace {

void DescribeText(std::string& out, const std::string& text) {
    constexpr size_t kShown = 80;
    out += '"';
    for (size_t i = 0; i < text.size() && i < kShown; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            static const char kDigits[] = "0123456789abcdef";
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > kShown) out += "...(" + std::to_string(text.size()) + " bytes)";
    out += '"';
}

void Describe(std::string& out, const CNMessageBase& message, unsigned depth) {
    out += "msg ";
    AppendNumber(out, message.Group());
    out += '/';
    AppendNumber(out, message.Id());
    out += " {";
    if (depth > 32) {
        out += "...}";
        return;
    }
    bool first = true;
    for (const CNField& field : message.Fields()) {
        if (!first) out += ", ";
        first = false;
        out += '(';
        AppendNumber(out, field.pairFirst);
        out += ',';
        AppendNumber(out, field.pairSecond);
        out += ") ";
        AppendNumber(out, field.typeKey, 16);
        out += '/';
        AppendNumber(out, field.fieldKey, 16);
        out += '=';
        switch (field.kind) {
            case CNFieldKind::Int64: AppendNumber(out, field.i64); break;
            case CNFieldKind::String: DescribeText(out, field.str); break;
            case CNFieldKind::StringList: {
                out += '[';
                for (size_t i = 0; i < field.list.size(); ++i) {
                    if (i) out += ", ";
                    if (i == 16) {
                        out += "...(" + std::to_string(field.list.size()) + " items)";
                        break;
                    }
                    DescribeText(out, field.list[i]);
                }
                out += ']';
                break;
            }
            case CNFieldKind::Object:
                if (field.object) Describe(out, *field.object, depth + 1);
                else out += "null";
                break;
        }
    }
    out += '}';
}

}  // namespace

std::string DescribeMessage(const CNMessageBase& message) {
    std::string out;
    Describe(out, message, 0);
    return out;
}

}  // namespace zo
