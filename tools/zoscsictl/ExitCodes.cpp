#include "ExitCodes.h"

#include "ZoScsiSrvClient.h"

#include <cerrno>

namespace zoctl {

namespace {

// Library codes in the host's code space.
constexpr unsigned kHostTimeout = 258;
constexpr unsigned kHostAlreadyExists = 183;
constexpr unsigned kHostServiceFailure = 774;

ExitCode FromServiceNumber(int number) {
    switch (number) {
    case ZoScsiServer::kErrNotFound: return kExitNotFound;
    case ZoScsiServer::kErrAlreadyExists: return kExitAlreadyExists;
    case ZoScsiServer::kErrInvalidArgument: return kExitInvalidArgument;
    case ZoScsiServer::kErrBusy: return kExitBusy;
    default: return kExitFailure;
    }
}

// An errno from the connection itself: the service went away under us. The
// connection reports a send or receive that failed on a lost peer as EIO.
bool IsConnectionErrno(unsigned code) {
    switch (code) {
    case EIO:
    case EPIPE:
    case ECONNRESET:
    case ECONNREFUSED:
    case ECONNABORTED:
    case ENOTCONN:
        return true;
    default:
        return false;
    }
}

}  // namespace

std::optional<ServiceRefusal> ServiceErrorOf(const CYbError& error) {
    int32_t number = 0;
    std::string text;
    if (!ZoScsiSrvClient::GetServiceError(error, number, text)) return std::nullopt;
    return ServiceRefusal{number, text};
}

ExitCode ClassifyError(const CYbError& error, Stage stage) {
    if (!error.IsError()) return kExitOk;
    const unsigned code = error.Code();
    if (stage == Stage::Connect) {
        // A client name the launcher refuses is a value to correct, and an
        // instance whose every connection stayed taken is busy, not gone.
        if (error.Space() == FXErrorSpace::ErrNo && code == EINVAL) return kExitInvalidArgument;
        if (error.Space() == FXErrorSpace::Launch && code == EBUSY) return kExitBusy;
        return kExitUnreachable;
    }
    if (error.Space() == FXErrorSpace::ErrNo) {
        if (code == EINVAL) return kExitInvalidArgument;
        if (code == ENOENT) return kExitNotFound;
        if (code == ETIMEDOUT) return kExitTimeout;
        if (IsConnectionErrno(code)) return kExitUnreachable;
        return kExitFailure;
    }
    switch (code) {
    case kHostTimeout: return kExitTimeout;
    case kHostAlreadyExists: return kExitAlreadyExists;
    case kHostServiceFailure: {
        const auto refusal = ServiceErrorOf(error);
        return refusal ? FromServiceNumber(refusal->number) : kExitFailure;
    }
    default: return kExitFailure;
    }
}

const char* ExitKind(ExitCode code) {
    switch (code) {
    case kExitOk: return "ok";
    case kExitFailure: return "failure";
    case kExitUsage: return "usage";
    case kExitNotFound: return "not_found";
    case kExitAlreadyExists: return "already_exists";
    case kExitInvalidArgument: return "invalid_argument";
    case kExitTimeout: return "timeout";
    case kExitUnreachable: return "unreachable";
    case kExitBusy: return "busy";
    }
    return "failure";
}

}  // namespace zoctl
