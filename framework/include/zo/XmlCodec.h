// The XML form of a message (docs/PROTOCOL.md). Pure functions over bytes.
#pragma once

#include "../CNMessageBase.h"
#include "Limits.h"

#include <memory>
#include <string>

namespace zo {

constexpr int kProtocolVersion = 1;

// Appends the XML of `message` to `out`. Strings that are not valid UTF-8 or
// hold characters XML 1.0 cannot carry are written hex-encoded, so every byte
// string round-trips.
void EncodeMessage(const CNMessageBase& message, std::string& out);

// The bytes one element of a string list takes in that XML, markup and
// escaping included: what a list of such items adds to a message.
size_t EncodedListItemBytes(const std::string& item);

// Decodes one message. On failure returns null and says why in `error`
// (malformed XML, a DOCTYPE, a wrong version, unknown element, bad number,
// too deep, too many fields). Never throws for bad input.
std::unique_ptr<CNMessageBase> DecodeMessage(const char* data, size_t size, const DecodeLimits& limits,
                                             std::string& error);

// The same without a copy: the parser works in `data`, whose bytes are
// overwritten (a receive buffer that is not read again).
std::unique_ptr<CNMessageBase> DecodeMessageInPlace(char* data, size_t size, const DecodeLimits& limits,
                                                    std::string& error);

// A readable one-line dump of a message for logs and test failures.
std::string DescribeMessage(const CNMessageBase& message);

}  // namespace zo
