// The client's listing parser. The input is split into lines at '\n'.
// Checked for every line: SplitListingLine agrees with a token split by
// std::regex_token_iterator on "#" with -1 (for lines short enough for the
// regular expression to stay quick), the count is right even beyond the
// capacity, and the fields are views into the line. Checked for the whole
// listing: ParseListLunOutput keeps exactly the lines of four fields, in
// order, with "-" read as no host and the time as strEpochToTime reads it.
#include "FuzzSupport.h"
#include "ListingParser.h"

#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace {

using ZoScsiSrvClientInternal::ParseListLunOutput;
using ZoScsiSrvClientInternal::SplitListingLine;
using ZoScsiSrvClientInternal::strEpochToTime;

constexpr size_t kRegexLineBytes = 512;
constexpr size_t kCapacity = 6;

std::vector<std::string> RegexSplit(const std::string& line) {
    static const std::regex separator("#");
    std::vector<std::string> pieces;
    for (std::sregex_token_iterator it(line.begin(), line.end(), separator, -1), end; it != end; ++it)
        pieces.push_back(it->str());
    return pieces;
}

void CheckSplit(const std::string& line) {
    std::string_view fields[kCapacity];
    const size_t count = SplitListingLine(line, fields, kCapacity);
    ZO_FUZZ_CHECK(count >= 1);
    size_t separators = 0;
    for (char c : line) separators += c == '#';
    ZO_FUZZ_CHECK(count == separators + 1 || (count == separators && !line.empty() && line.back() == '#'));
    for (size_t i = 0; i < count && i < kCapacity; ++i)
        ZO_FUZZ_CHECK(fields[i].data() >= line.data() && fields[i].data() + fields[i].size() <= line.data() + line.size());
    if (line.size() > kRegexLineBytes) return;
    const std::vector<std::string> expected = RegexSplit(line);
    ZO_FUZZ_CHECK(expected.size() == count);
    for (size_t i = 0; i < count && i < kCapacity; ++i) ZO_FUZZ_CHECK(expected[i] == fields[i]);
}

void CheckListing(const std::vector<std::string>& lines) {
    std::vector<ZoScsiSrvClient::LunInfo> luns;
    luns.emplace_back("stale", "stale", "stale", 1);
    ParseListLunOutput(lines, luns);
    size_t next = 0;
    for (const std::string& line : lines) {
        std::string_view fields[4];
        if (SplitListingLine(line, fields, 4) != 4) continue;
        ZO_FUZZ_CHECK(next < luns.size());
        const ZoScsiSrvClient::LunInfo& lun = luns[next++];
        ZO_FUZZ_CHECK(lun.target == fields[0]);
        ZO_FUZZ_CHECK(lun.host == (fields[1] == "-" ? std::string_view() : fields[1]));
        ZO_FUZZ_CHECK(lun.lun == fields[2]);
        int64_t time = 0;
        (void)strEpochToTime(std::string(fields[3]), time);
        ZO_FUZZ_CHECK(lun.creationTime == time);
        ZO_FUZZ_CHECK(!lun.str().empty());
    }
    ZO_FUZZ_CHECK(next == luns.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zofuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    for (const std::string& line : lines) CheckSplit(line);
    CheckListing(lines);
    return 0;
}
