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

// The common case of a time without the library call: 1 to 19 digits from
// the first character, which cannot overflow and read the same as std::stoull
// reads them (up to the first other character). False for anything else.
bool ReadShortNumber(std::string_view text, int64_t& time) {
    size_t digits = 0;
    uint64_t value = 0;
    while (digits < text.size() && digits < 20 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + static_cast<uint64_t>(text[digits++] - '0');
    if (digits == 0 || digits == 20) return false;
    time = static_cast<int64_t>(value);
    return true;
}

}  // namespace

namespace {

// The eight bytes at `at` as a word whose lowest byte is the first.
uint64_t LoadWord(const char* at) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
    return word;
}

// The high bit of each byte of the result is set exactly where `word` holds
// a '#': in the word XORed with '#' repeated, exactly the zero bytes keep
// their high bit clear in the sum below (no carry crosses a byte).
uint64_t Separators(uint64_t word) {
    constexpr uint64_t kHashes = 0x0101010101010101ull * '#';
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t t = word ^ kHashes;
    return ~(((t & kLow7) + kLow7) | t | kLow7);
}

}  // namespace

size_t SplitListingLine(std::string_view line, std::string_view* fields, size_t capacity) {
    const char* const data = line.data();
    const size_t size = line.size();
    size_t count = 0;
    size_t start = 0;
    auto cut = [&](size_t separator) {
        if (count < capacity) fields[count] = line.substr(start, separator - start);
        ++count;
        start = separator + 1;
    };
    // Eight bytes at a time, each separator found from the word's bits; the
    // last few bytes one at a time.
    size_t at = 0;
    for (; at + 8 <= size; at += 8)
        for (uint64_t hits = Separators(LoadWord(data + at)); hits; hits &= hits - 1)
            cut(at + static_cast<size_t>(__builtin_ctzll(hits)) / 8);
    for (; at < size; ++at)
        if (data[at] == '#') cut(at);
    // The rest after the last separator counts only when it is not empty; a
    // line without any separator (also an empty one) is one field.
    if (start < size || count == 0) {
        if (count < capacity) fields[count] = line.substr(start);
        ++count;
    }
    return count;
}

bool strEpochToTime(const std::string& text, int64_t& time) {
    if (ReadShortNumber(text, time)) return true;
    try {
        time = static_cast<int64_t>(std::stoull(text, nullptr, 10));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

// strEpochToTime of a field, without making a string in the common case.
bool EpochOfField(std::string_view field, int64_t& time) {
    return ReadShortNumber(field, time) || strEpochToTime(std::string(field), time);
}

// Makes record `used` of `luns` from `line` and returns true, or logs why the
// line gives none. Records already in `luns` are written over, so that their
// strings' storage serves again.
bool ParseLine(const std::string& line, std::vector<ZoScsiSrvClient::LunInfo>& luns, size_t used) {
    static const std::string kEmpty;
    std::string_view fields[kListingFields];
    if (SplitListingLine(line, fields, kListingFields) != kListingFields) {
        g_ptrLogWriter->Write(-1, kParseListLunOutput, __LINE__, 0, 0, "Ignoring invalid LUN list format [%s]",
                              line.c_str());
        return false;
    }
    int64_t time = 0;
    if (!EpochOfField(fields[3], time))
        g_ptrLogWriter->Write(-1, kParseListLunOutput, __LINE__, 0, 0, "Incorrect LUN creation epoch time [%s]",
                              line.c_str());
    const std::string_view host = fields[1] == "-" ? std::string_view() : fields[1];
    ZoScsiSrvClient::LunInfo& lun = used < luns.size() ? luns[used] : luns.emplace_back(kEmpty, kEmpty, kEmpty, 0);
    lun.lun.assign(fields[2]);
    lun.target.assign(fields[0]);
    lun.host.assign(host);
    lun.creationTime = time;
    return true;
}

// Room for `lines` records; the records beyond `used` are dropped.
void Reserve(std::vector<ZoScsiSrvClient::LunInfo>& luns, size_t lines) {
    if (luns.capacity() < lines) luns.reserve(lines);
}

void DropFrom(std::vector<ZoScsiSrvClient::LunInfo>& luns, size_t used) {
    luns.erase(luns.begin() + static_cast<std::ptrdiff_t>(used), luns.end());
}

}  // namespace

void ParseListLunOutput(const std::vector<std::string>& lines, std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    Reserve(luns, lines.size());
    size_t used = 0;
    for (const std::string& line : lines)
        if (ParseLine(line, luns, used)) ++used;
    DropFrom(luns, used);
}

void ParseListLunOutput(std::vector<std::string>&& lines, std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    Reserve(luns, lines.size());
    size_t used = 0;
    for (std::string& line : lines) {
        if (ParseLine(line, luns, used)) ++used;
        std::string().swap(line);
    }
    DropFrom(luns, used);
}

}  // namespace ZoScsiSrvClientInternal
