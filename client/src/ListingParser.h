// The parser of the service's LUN listing. Internal to the library; exposed
// here so tests, fuzzers and benchmarks can call it without a connection.
#pragma once

#include "ZoScsiSrvClient.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZoScsiSrvClientInternal {

// Splits `line` at every '#' with the rules of a regular-expression token
// split that keeps the text between the matches: an empty piece before the
// first separator or between two adjacent ones is a field, an empty piece
// after the last separator is not, a line without separator is one field and
// an empty line is one empty field. Stores the first `capacity` fields in
// `fields` (views into `line`) and returns the number of fields, which may
// exceed `capacity`.
size_t SplitListingLine(std::string_view line, std::string_view* fields, size_t capacity);

// Converts a listing's time field by the rules of std::stoull in base 10
// (leading blanks skipped, one optional sign, digits up to the first other
// character). On success stores the 64 bits in `time` (values above 2^63-1
// read as negative) and returns true; returns false with `time` unchanged
// when there is no number or it does not fit in 64 bits.
bool strEpochToTime(const std::string& text, int64_t& time);

// Replaces `luns` with one record per line of four fields
// (target#host#lun#time), in line order. A host of exactly "-" is none (empty).
// A line of another field count is left out and logged at level -1; a time
// that cannot be converted is logged at level -1 and the record keeps time 0.
// Both lines are written whatever the log level.
void ParseListLunOutput(const std::vector<std::string>& lines, std::vector<ZoScsiSrvClient::LunInfo>& luns);
// The same for lines that are not needed afterwards: each line's storage is
// released once its record is made (the lines are left empty), so that a
// large listing is not held twice.
void ParseListLunOutput(std::vector<std::string>&& lines, std::vector<ZoScsiSrvClient::LunInfo>& luns);

}  // namespace ZoScsiSrvClientInternal
