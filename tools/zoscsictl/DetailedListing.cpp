#include "DetailedListing.h"

#include "FXErrorUtil.h"

#include <cerrno>
#include <charconv>

namespace zoctl {

namespace {

#define ZOCTL_HERE(what) FXCodeLocation("zoscsictl", what, __LINE__)

constexpr const char* kNextPrefix = "next=";
// A service that never ends its pages would keep a tool busy forever; no
// inventory within the service's limits needs nearly as many.
constexpr int kMaxPages = 100000;

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t hash = line.find('#'); hash != std::string::npos; hash = line.find('#', start)) {
        fields.push_back(line.substr(start, hash - start));
        start = hash + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

template <class T>
bool Number(const std::string& text, T& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

CYbError Malformed(const char* word, const std::string& line) {
    return FXErrorUtil::ErrorErrNo(ZOCTL_HERE("ls"), EPROTO, "Malformed line in the service's %s answer: [%s]",
                                   word, line.c_str());
}

}  // namespace

bool ParseLunDetail(const std::string& line, LunDetail& lun) {
    // Fields the service may add later go after these seven.
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 7 || (f[5] != "open" && f[5] != "closed")) return false;
    LunDetail parsed;
    parsed.target = f[0];
    parsed.host = f[1] == "-" ? std::string() : f[1];
    parsed.lun = f[2];
    parsed.open = f[5] == "open";
    parsed.exportedAt = f[6] == "-" ? std::string() : f[6];
    if (!Number(f[3], parsed.created) || !Number(f[4], parsed.sizeBytes)) return false;
    lun = std::move(parsed);
    return true;
}

bool ParseTargetDetail(const std::string& line, TargetDetail& target) {
    const std::vector<std::string> f = Fields(line);
    TargetDetail parsed;
    parsed.name = f[0];
    if (f.size() < 5 || !Number(f[1], parsed.luns) || !Number(f[2], parsed.openLuns) ||
        !Number(f[3], parsed.mappings) || !Number(f[4], parsed.created))
        return false;
    target = std::move(parsed);
    return true;
}

CYbError ListLunDetails(ZoScsiSrvClient& client, const std::string& clientName, const std::string& target,
                        const std::string& host, std::vector<LunDetail>& luns) {
    std::string arguments = "-h " + clientName;
    if (!target.empty()) arguments += " -ti " + target;
    if (!host.empty()) arguments += " -hi " + host;
    std::vector<LunDetail> found;
    std::string from;
    for (int page = 0; page < kMaxPages; ++page) {
        std::vector<std::string> lines;
        CYbError error = client.ListLuns("lld", from.empty() ? arguments : arguments + " -from " + from, lines);
        if (error.IsError()) {
            error.Push(ZOCTL_HERE("ls"), "Failed to list LUNs in detail");
            return error;
        }
        std::string next;
        for (const std::string& line : lines) {
            LunDetail lun;
            if (line.rfind(kNextPrefix, 0) == 0) next = line.substr(std::char_traits<char>::length(kNextPrefix));
            else if (ParseLunDetail(line, lun)) found.push_back(std::move(lun));
            else return Malformed("lld", line);
        }
        if (next.empty()) {
            luns = std::move(found);
            return CYbError::Success();
        }
        if (next == from) return Malformed("lld", kNextPrefix + next);  // it would never end
        from = next;
    }
    return FXErrorUtil::ErrorErrNo(ZOCTL_HERE("ls"), EPROTO, "The service's detailed listing did not end after %d pages",
                                   kMaxPages);
}

CYbError ListTargetDetails(ZoScsiSrvClient& client, std::vector<TargetDetail>& targets) {
    std::vector<std::string> lines;
    CYbError error = client.ListTargets("ltd", lines);
    if (error.IsError()) {
        error.Push(ZOCTL_HERE("target ls"), "Failed to list targets in detail");
        return error;
    }
    std::vector<TargetDetail> found(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        if (!ParseTargetDetail(lines[i], found[i])) return Malformed("ltd", lines[i]);
    targets = std::move(found);
    return CYbError::Success();
}

}  // namespace zoctl
