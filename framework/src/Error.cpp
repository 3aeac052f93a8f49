#include "CYbError.h"
#include "FXErrorUtil.h"
#include "LogWriter.h"
#include "ErrorPrivate.h"

#include <boost/make_shared.hpp>

#include <cstdarg>
#include <cstdio>

// Status word of an error: the top bit marks the error, bit 30 the errno
// space, bit 29 the launch space, the low 16 bits carry the code (in the manner of a Windows HRESULT).
// The full code always stays in the detail.
namespace {

constexpr uint32_t kErrorBit = 0x80000000u;
constexpr uint32_t kErrNoSpaceBit = 0x40000000u;
constexpr uint32_t kLaunchSpaceBit = 0x20000000u;

int32_t StatusWord(FXErrorSpace space, unsigned int code) {
    uint32_t word = kErrorBit | (code & 0xFFFFu);
    if (space == FXErrorSpace::ErrNo) word |= kErrNoSpaceBit;
    if (space == FXErrorSpace::Launch) word |= kLaunchSpaceBit;
    return static_cast<int32_t>(word);
}

// Appends text with line breaks turned into spaces: the rendering is one line.
void AppendOneLine(std::string& out, const std::string& text) {
    size_t start = out.size();
    out += text;
    for (size_t i = start; i < out.size(); ++i)
        if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
}

FXTrailFrame Frame(const FXCodeLocation& location, std::string text) {
    return FXTrailFrame{location.file ? location.file : "", location.function ? location.function : "",
                        location.line, std::move(text)};
}

}  // namespace

CYbError FXErrorUtil::Make(const FXCodeLocation& location, FXErrorSpace space, unsigned int code,
                           const std::string& message) {
    CYbError error;
    auto detail = boost::make_shared<FXErrorPrivate>();
    detail->code = code;
    detail->space = space;
    detail->message = message;
    detail->trail.push_back(Frame(location, message));
    error.m_status = StatusWord(space, code);
    error.m_detail = std::move(detail);
    return error;
}

CYbError FXErrorUtil::ErrorWin32(const FXCodeLocation& location, unsigned int code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = ZoFormatV(format, args);
    va_end(args);
    return Make(location, FXErrorSpace::Host, code, message);
}

CYbError FXErrorUtil::ErrorErrNo(const FXCodeLocation& location, int code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = ZoFormatV(format, args);
    va_end(args);
    return Make(location, FXErrorSpace::ErrNo, static_cast<unsigned int>(code), message);
}

CYbError& CYbError::Push(const FXCodeLocation& location) {
    if (!m_detail) m_detail = boost::make_shared<FXErrorPrivate>();
    m_detail->trail.push_back(Frame(location, std::string()));
    return *this;
}

CYbError& CYbError::Push(const FXCodeLocation& location, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = ZoFormatV(format, args);
    va_end(args);
    if (!m_detail) m_detail = boost::make_shared<FXErrorPrivate>();
    m_detail->trail.push_back(Frame(location, std::move(text)));
    return *this;
}

unsigned int CYbError::Code() const { return m_detail && IsError() ? m_detail->code : 0; }

FXErrorSpace CYbError::Space() const { return m_detail && IsError() ? m_detail->space : FXErrorSpace::Host; }

std::string CYbError::Message() const { return m_detail ? m_detail->message : std::string(); }

std::vector<FXTrailFrame> CYbError::Trail() const {
    return m_detail ? m_detail->trail : std::vector<FXTrailFrame>();
}

CYbError& CYbError::SetPeerStatus(int32_t number, const std::string& text) {
    if (m_detail) {
        m_detail->hasPeerStatus = true;
        m_detail->peerNumber = number;
        m_detail->peerText = text;
    }
    return *this;
}

bool CYbError::PeerStatus(int32_t& number, std::string& text) const {
    if (!m_detail || !m_detail->hasPeerStatus) return false;
    number = m_detail->peerNumber;
    text = m_detail->peerText;
    return true;
}

std::string CYbError::ToString() const {
    if (!IsError()) return "success";
    std::string out;
    const unsigned int code = Code();
    char head[64];
    const FXErrorSpace space = Space();
    std::snprintf(head, sizeof head, "%s %u (0x%X): ",
                  space == FXErrorSpace::ErrNo ? "errno" : space == FXErrorSpace::Launch ? "launch error" : "error",
                  code, code);
    out += head;
    if (!m_detail) return out + "(no detail)";
    AppendOneLine(out, m_detail->message);
    const auto& trail = m_detail->trail;
    for (size_t i = 0; i < trail.size(); ++i) {
        const FXTrailFrame& frame = trail[i];
        out += i == 0 ? " | at " : " <- ";
        out += frame.function.empty() ? frame.file : frame.function;
        out += ':';
        out += std::to_string(frame.line);
        // The maker's text is the message, printed once already.
        if (i > 0 && !frame.text.empty()) {
            out += " [";
            AppendOneLine(out, frame.text);
            out += ']';
        }
    }
    return out;
}
