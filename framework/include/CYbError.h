// CYbError: the error object that every framework and library call returns
// by value.
//
// A status word (0 for success; an error when its top bit is set) and a
// shared detail that holds the code, the code's space, the message and the
// trail of source locations. Copies share the detail, so a location pushed
// onto a copy shows in every copy.
#pragma once

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

// The place in the source where an error was made or passed through. The two
// texts are expected to be static (string literals).
struct FXCodeLocation {
    const char* file;
    const char* function;
    int line;

    FXCodeLocation(const char* f, const char* fn, int l) : file(f), function(fn), line(l) {}
};

// Which numbering a code belongs to.
enum class FXErrorSpace : uint8_t {
    Host = 1,   // the host's error-code space (FXErrorUtil::ErrorWin32)
    ErrNo = 2,  // the operating system's errno space (FXErrorUtil::ErrorErrNo)
    Launch = 3, // a launch error number of the on-demand launcher: an errno of the
                // start or the exit status of a program that did not become ready
};

// One frame of an error's trail: where, and the text added there (may be empty).
struct FXTrailFrame {
    std::string file;
    std::string function;
    int line;
    std::string text;
};

struct FXErrorPrivate;  // framework-private detail

class CYbError {
public:
    CYbError() : m_status(0) {}

    static CYbError Success() { return CYbError(); }

    // True exactly when the status word's top bit is set.
    bool IsError() const { return m_status < 0; }

    // Adds a location (and a printf-style text) to the trail; returns *this.
    // Pushing onto a success object turns nothing into an error: the frame is
    // kept but IsError() stays false.
    CYbError& Push(const FXCodeLocation& location);
    CYbError& Push(const FXCodeLocation& location, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Accessors for callers and tests (the client library never reads them).
    int32_t Status() const { return m_status; }
    unsigned int Code() const;            // the code as it was given; 0 for success
    FXErrorSpace Space() const;           // Host for success
    std::string Message() const;          // the text the error was made with
    std::vector<FXTrailFrame> Trail() const;  // oldest first: the maker's frame, then each push

    // The status a remote peer answered with, for an error that reports the
    // peer's refusal: its own number and text, kept apart from the message so
    // that a caller need not parse them out of it. Set by whoever makes the
    // error (it needs a detail: on a success object it does nothing).
    CYbError& SetPeerStatus(int32_t number, const std::string& text);
    // False when the error carries no peer status.
    bool PeerStatus(int32_t& number, std::string& text) const;
    // One line: "error 774 (0x306): <message> | at <function>:<line> <- <function>:<line> [<text>] <- ..."
    // from the failure up to the last push ("errno 22 (0x16): ..." in the
    // errno space); the maker's text is the message and is not repeated;
    // line breaks become spaces; "launch error N (0x..): ..." in the launch
    // space. "success" for a success object.
    std::string ToString() const;

private:
    friend class FXErrorUtil;

    int32_t m_status;
    boost::shared_ptr<FXErrorPrivate> m_detail;
};
