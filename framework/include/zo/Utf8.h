// UTF-8 as the protocol carries text: the characters an XML 1.0 document can
// hold as they are.
#pragma once

#include <cstddef>
#include <string>

namespace zo {

// Length (2..4) of the valid multibyte UTF-8 sequence at `p`, else 0: no
// overlong form, no surrogate, nothing above U+10FFFF, neither U+FFFE nor
// U+FFFF. `p` must point before `end`; ASCII bytes are the caller's to judge.
size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end);

// True when `text` is valid UTF-8 in the sense above (ASCII included).
bool IsValidUtf8(const std::string& text);

}  // namespace zo
