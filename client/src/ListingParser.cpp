#include "ListingParser.h"

#include "LogWriter.h"

#include <cstring>
#include <exception>

namespace ZoScsiSrvClientInternal {

namespace {

constexpr const char* kParseListLunOutput =
    "void {anonymous}::ParseListLunOutput(const std::vector<std::__cxx11::basic_string<char> >&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)";

constexpr size_t kListingFields = 4;

}  // namespace

size_t SplitListingLine(std::string_view line, std::string_view* fields, size_t capacity) {
    const char* const data = line.data();
    const size_t size = line.size();
    size_t count = 0;
    size_t start = 0;
    while (start < size) {
        const void* hit = std::memchr(data + start, '#', size - start);
        if (!hit) break;
        const size_t separator = static_cast<size_t>(static_cast<const char*>(hit) - data);
        if (count < capacity) fields[count] = line.substr(start, separator - start);
        ++count;
        start = separator + 1;
    }
    // The rest after the last separator counts only when it is not empty; a
    // line without any separator (also an empty one) is one field.
    if (start < size || count == 0) {
        if (count < capacity) fields[count] = line.substr(start);
        ++count;
    }
    return count;
}

bool strEpochToTime(const std::string& text, int64_t& time) {
    try {
        time = static_cast<int64_t>(std::stoull(text, nullptr, 10));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void ParseListLunOutput(const std::vector<std::string>& lines, std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    luns.clear();
    luns.reserve(lines.size());
    std::string_view fields[kListingFields];
    for (const std::string& line : lines) {
        if (SplitListingLine(line, fields, kListingFields) != kListingFields) {
            g_ptrLogWriter->Write(-1, kParseListLunOutput, __LINE__, 0, 0, "Ignoring invalid LUN list format [%s]",
                                  line.c_str());
            continue;
        }
        int64_t time = 0;
        if (!strEpochToTime(std::string(fields[3]), time))
            g_ptrLogWriter->Write(-1, kParseListLunOutput, __LINE__, 0, 0, "Incorrect LUN creation epoch time [%s]",
                                  line.c_str());
        const std::string_view host = fields[1] == "-" ? std::string_view() : fields[1];
        luns.emplace_back(std::string(fields[2]), std::string(fields[0]), std::string(host), time);
    }
}

}  // namespace ZoScsiSrvClientInternal
