#include "backend/tgt/TgtShow.h"

#include <cerrno>
#include <cstdlib>

namespace zoscsi::tgt {
namespace {

enum class Section { None, Nexus, Lun, Acl, Other };

struct Line {
    size_t indent = 0;
    std::string body;
};

Line Split(const std::string& raw) {
    Line line;
    while (line.indent < raw.size() && raw[line.indent] == ' ') ++line.indent;
    line.body = raw.substr(line.indent);
    while (!line.body.empty() && (line.body.back() == ' ' || line.body.back() == '\r')) line.body.pop_back();
    return line;
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
    const std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0) return false;
    rest = text.substr(p.size());
    return true;
}

bool Number(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool Printable(const std::string& line) {
    for (unsigned char c : line)
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    return true;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Section SectionOf(const std::string& header) {
    if (header == "I_T nexus information:") return Section::Nexus;
    if (header == "LUN information:") return Section::Lun;
    if (header == "ACL information:") return Section::Acl;
    return Section::Other;
}

// One line inside a target; false when it breaks the answer's shape.
bool TargetLine(const Line& line, Section& section, TgtTargetState& target) {
    std::string rest;
    int64_t n = 0;
    if (line.indent == 4) {
        section = SectionOf(line.body);
        return true;
    }
    switch (section) {
    case Section::Lun:
        if (line.indent == 8) {
            if (!StartsWith(line.body, "LUN: ", rest) || !Number(rest, n)) return false;
            target.luns.push_back(TgtLunState{static_cast<int>(n), "", ""});
        } else if (target.luns.empty()) {
            return false;
        } else if (StartsWith(line.body, "Backing store path: ", rest) || line.body == "Backing store path:") {
            target.luns.back().path = rest;
        } else if (StartsWith(line.body, "SCSI SN: ", rest)) {
            target.luns.back().serial = rest;
        }
        return true;
    case Section::Nexus:
        if (line.indent == 8) {
            if (!StartsWith(line.body, "I_T nexus: ", rest) || !Number(rest, n)) return false;
            target.nexuses.push_back(TgtNexusState{n, "", {}});
        } else if (target.nexuses.empty()) {
            return false;
        } else if (StartsWith(line.body, "Initiator: ", rest)) {
            target.nexuses.back().initiator = rest.substr(0, rest.find(' '));
        } else if (StartsWith(line.body, "Connection: ", rest)) {
            if (!Number(rest, n)) return false;
            target.nexuses.back().connections.push_back(static_cast<int>(n));
        }
        return true;
    case Section::Acl:
        if (line.indent != 8) return false;
        target.acls.push_back(line.body);
        return true;
    case Section::Other:
        return true;
    case Section::None:
        break;
    }
    return false;
}

}  // namespace

bool ParseTargets(const std::string& text, std::vector<TgtTargetState>& targets, std::string& error) {
    targets.clear();
    Section section = Section::None;
    size_t number = 0;
    for (const std::string& raw : Lines(text)) {
        ++number;
        const Line line = Split(raw);
        if (line.body.empty()) continue;
        bool good = Printable(raw);
        std::string rest;
        int64_t tid = 0;
        if (good && line.indent == 0) {
            const size_t colon = line.body.find(": ");
            good = StartsWith(line.body, "Target ", rest) && colon != std::string::npos &&
                   Number(line.body.substr(7, colon - 7), tid) && tid > 0 && colon + 2 < line.body.size();
            if (good) {
                targets.push_back(TgtTargetState{static_cast<int>(tid), line.body.substr(colon + 2), {}, {}, {}});
                section = Section::Other;
            }
        } else if (good) {
            good = !targets.empty() && TargetLine(line, section, targets.back());
        }
        if (!good) {
            error = "tgtadm's target list is not understood at line " + std::to_string(number);
            targets.clear();
            return false;
        }
    }
    return true;
}

bool ParsePortals(const std::string& text, std::vector<std::string>& portals, std::string& error) {
    portals.clear();
    size_t number = 0;
    for (const std::string& raw : Lines(text)) {
        ++number;
        const Line line = Split(raw);
        if (line.body.empty()) continue;
        std::string rest;
        if (!Printable(raw) || !StartsWith(line.body, "Portal: ", rest) || rest.empty()) {
            error = "tgtadm's portal list is not understood at line " + std::to_string(number);
            portals.clear();
            return false;
        }
        portals.push_back(rest.substr(0, rest.rfind(',')));  // drop the portal group tag
    }
    return true;
}

}  // namespace zoscsi::tgt
