// ServiceStatus: the outcome of one service operation as the client sees it:
// an error number of ZoScsiServer::ServiceErrorNumber and its text.
#pragma once

#include "ZoScsiServer.h"

#include <string>
#include <utility>

namespace zoscsi {

struct ServiceStatus {
    int number = ZoScsiServer::kErrNone;
    std::string text;

    bool ok() const { return number == ZoScsiServer::kErrNone; }

    static ServiceStatus Ok() { return {}; }
    static ServiceStatus Fail(int number, std::string text) { return {number, std::move(text)}; }
};

inline ServiceStatus NotFound(std::string text) { return ServiceStatus::Fail(ZoScsiServer::kErrNotFound, std::move(text)); }
inline ServiceStatus Invalid(std::string text) { return ServiceStatus::Fail(ZoScsiServer::kErrInvalidArgument, std::move(text)); }
inline ServiceStatus AlreadyExists(std::string text) { return ServiceStatus::Fail(ZoScsiServer::kErrAlreadyExists, std::move(text)); }
inline ServiceStatus Busy(std::string text) { return ServiceStatus::Fail(ZoScsiServer::kErrBusy, std::move(text)); }
inline ServiceStatus LimitReached(std::string text) { return ServiceStatus::Fail(ZoScsiServer::kErrLimit, std::move(text)); }

// The text of a client-supplied value inside an error text or a log line:
// quoted; bytes below 0x20, 0x7F and bytes that are not valid UTF-8 as \xNN;
// cut after 64 bytes (between characters).
std::string Quote(const std::string& value);

}  // namespace zoscsi
