#include "common/Names.h"

#include "zo/Utf8.h"

#include <limits>

namespace zoscsi {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

ServiceStatus CheckLength(const char* what, const std::string& value, size_t maxBytes) {
    if (value.empty()) return Invalid(std::string("empty ") + what);
    if (value.size() > maxBytes)
        return Invalid(std::string(what) + " of " + std::to_string(value.size()) + " bytes (at most " +
                       std::to_string(maxBytes) + ")");
    return ServiceStatus::Ok();
}

}  // namespace

ServiceStatus CheckTargetName(const std::string& name) {
    ServiceStatus status = CheckLength("target name", name, kMaxNameBytes);
    if (!status.ok()) return status;
    for (unsigned char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        if (!allowed)
            return Invalid("target name " + Quote(name) + " holds a character outside a-z 0-9 . - :");
    }
    const unsigned char first = static_cast<unsigned char>(name[0]);
    if (!((first >= 'a' && first <= 'z') || (first >= '0' && first <= '9')))
        return Invalid("target name " + Quote(name) + " must start with a letter or a digit");
    return ServiceStatus::Ok();
}

std::string FoldTargetName(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

ServiceStatus CheckHostName(const std::string& name) {
    ServiceStatus status = CheckStoredHostName(name);
    if (status.ok() && !zo::IsValidUtf8(name))
        return Invalid("host name " + Quote(name) + " is not valid UTF-8");
    return status;
}

ServiceStatus CheckStoredHostName(const std::string& name) {
    ServiceStatus status = CheckLength("host name", name, kMaxNameBytes);
    if (!status.ok()) return status;
    if (name[0] == '-') return Invalid("host name " + Quote(name) + " starts with '-'");
    for (unsigned char c : name) {
        if (IsControl(c) || c == ' ' || c == '#')
            return Invalid("host name " + Quote(name) + " holds a blank, '#' or a control character");
    }
    return ServiceStatus::Ok();
}

ServiceStatus CheckText(const char* what, const std::string& text) {
    if (text.size() > kMaxTextBytes)
        return Invalid(std::string(what) + " of " + std::to_string(text.size()) + " bytes (at most " +
                       std::to_string(kMaxTextBytes) + ")");
    for (unsigned char c : text) {
        if (IsControl(c) || c == '#')
            return Invalid(std::string(what) + " " + Quote(text) + " holds '#', a line break or a control character");
    }
    return ServiceStatus::Ok();
}

ServiceStatus CheckLunId(int64_t id) {
    if (id < 1 || id > kMaxLunId)
        return Invalid("LUN id " + std::to_string(id) + " is out of range 1.." + std::to_string(kMaxLunId));
    return ServiceStatus::Ok();
}

ServiceStatus ParseSize(const std::string& text, uint64_t maxBytes, uint64_t& bytes) {
    const ServiceStatus bad = Invalid("size " + Quote(text) + " is not a number of bytes with an optional K, M, G or T");
    size_t digits = 0;
    uint64_t value = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        const unsigned digit = static_cast<unsigned>(text[digits] - '0');
        if (value > (kMax - digit) / 10) return Invalid("size " + Quote(text) + " is too large");
        value = value * 10 + digit;
        ++digits;
    }
    if (digits == 0 || text.size() > digits + 1) return bad;
    unsigned shift = 0;
    if (text.size() == digits + 1) {
        switch (text[digits]) {
            case 'k': case 'K': shift = 10; break;
            case 'm': case 'M': shift = 20; break;
            case 'g': case 'G': shift = 30; break;
            case 't': case 'T': shift = 40; break;
            default: return bad;
        }
    }
    if (value > (kMax >> shift) || (value << shift) > maxBytes)
        return Invalid("size " + Quote(text) + " is above the limit of " + std::to_string(maxBytes) + " bytes");
    value <<= shift;
    if (value == 0 || value % 512 != 0)
        return Invalid("size " + Quote(text) + " is not a positive multiple of 512 bytes");
    bytes = value;
    return ServiceStatus::Ok();
}

bool ParseFlag(const std::string& text, bool& value) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") value = true;
    else if (text == "0" || text == "false" || text == "no" || text == "off") value = false;
    else return false;
    return true;
}

std::string LunName(const std::string& target, int32_t id) { return target + ":lun" + std::to_string(id); }

}  // namespace zoscsi
