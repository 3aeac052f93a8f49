// Helpers that every operation of the client uses: the log gate, the tracer,
// error locations and the writers of the common request fields.
#pragma once

#include "CNMessageBase.h"
#include "LogWriter.h"
#include "ZODebugFunction.h"
#include "ZoScsiServer.h"
#include "ZoScsiSrvClient.h"

#include <cstdint>
#include <locale>
#include <memory>
#include <string>

namespace ZoScsiSrvClientInternal {

// The source file name in every error location of the library.
constexpr const char* kFile = "ZoScsiSrvClient";

// Codes of the errors the library makes: the host's error-code space
// (FXErrorUtil::ErrorWin32), except kEmptyIdentifier, an errno.
constexpr unsigned int kInvalidData = 13;       // 0xD: a response without a readable status
constexpr unsigned int kAlreadyExists = 183;    // 0xB7: AddTarget, service error number 7
constexpr unsigned int kTimedOut = 258;         // 0x102: a send or receive ran out of time
constexpr unsigned int kServiceFailure = 774;   // 0x306: the launcher or the service refused
constexpr int kEmptyIdentifier = 22;            // EINVAL: an empty filter of a single-filter listing

// The location of the current statement in `function`.
#define ZO_CLIENT_HERE(function) FXCodeLocation(::ZoScsiSrvClientInternal::kFile, (function), __LINE__)

// Writes one line when the log writer's current level is at least `level`;
// the level is read anew for every line and the arguments are evaluated only
// when the line is written.
#define ZO_CLIENT_LOG(level, function, ...)                                              \
    do {                                                                                 \
        if (g_ptrLogWriter->GetLevel() >= (level))                                       \
            g_ptrLogWriter->Write((level), (function), __LINE__, 0, 0, __VA_ARGS__);     \
    } while (0)

// The function tracer of an operation: made when the level is at least 1,
// else null. Held by the operation until it returns.
inline std::unique_ptr<ZODebugFunction> StartTracer(const char* function, unsigned int line) {
    if (g_ptrLogWriter->GetLevel() < 1) return nullptr;
    return std::unique_ptr<ZODebugFunction>(
        new ZODebugFunction(g_ptrLogWriter, 2, function, line, 1, 0, 0xFFFFFFFF, nullptr));
}

// The header of every request that the library builds itself.
inline ZoScsiSrvClientRequest::RequestHeader LibraryHeader() {
    return ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0);
}

// Target names travel lower-cased, per character under the global locale
// (as boost::algorithm::to_lower_copy with std::locale() does, but with the
// facet looked up once, not for every character).
inline std::string LowerCase(const std::string& name) {
    const std::locale global;
    const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(global);
    std::string lower(name);
    for (char& c : lower) c = ctype.tolower(c);
    return lower;
}

// The low 32 bits of a wire number as a signed number.
inline int32_t Low32(long long value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

inline void SetString(CNMessageBase& message, unsigned long typeKey, const ZoScsiServer::Wire::Field& field,
                      const std::string& value) {
    message.setstring(field.first, field.second, value, typeKey, field.key);
}

inline void SetInt64(CNMessageBase& message, unsigned long typeKey, const ZoScsiServer::Wire::Field& field,
                     long long value) {
    message.setint64(field.first, field.second, value, typeKey, field.key);
}

// The header object of `message` (request type key `typeKey`).
inline CNMessageBase* HeaderObject(CNMessageBase& message, unsigned long typeKey, bool write) {
    using namespace ZoScsiServer::Wire;
    return message.getObjectAccessor(true, write, kHeaderObject.first, kHeaderObject.second, typeKey,
                                     kHeaderObject.key, kGroup, kHeaderId);
}

// Writes the header object: headerValue, then opCtxFlags, then fabric, taking
// the accessor anew for each field.
inline void WriteHeader(CNMessageBase& message, unsigned long typeKey,
                        const ZoScsiSrvClientRequest::RequestHeader& header) {
    using namespace ZoScsiServer::Wire;
    SetInt64(*HeaderObject(message, typeKey, true), kHeaderType, kHeaderValue, header.headerValue);
    SetInt64(*HeaderObject(message, typeKey, true), kHeaderType, kHeaderOpCtxFlags, header.opCtxFlags);
    SetInt64(*HeaderObject(message, typeKey, true), kHeaderType, kHeaderFabric,
             static_cast<uint32_t>(header.fabric));
}

}  // namespace ZoScsiSrvClientInternal
