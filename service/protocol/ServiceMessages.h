// ServiceMessages: the service's view of the wire schema (ZoScsiServer.h).
//
// ServiceRequest holds every value any request can carry and ServiceReply
// every value any answer can carry. One MessageSchema per message binds the
// wire fields of ZoScsiServer::Wire to those members, so that one decoder and
// one encoder (MessageCodec.h) serve every message.
#pragma once

#include "ZoScsiServer.h"
#include "common/ServiceStatus.h"
#include "protocol/OptionText.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zoscsi {

struct ServiceRequest {
    int64_t headerValue = 0;
    int64_t fabric = 0;
    int64_t opCtxFlags = 0;
    std::string target;
    std::string params;      // CreateTarget
    int64_t lunSetting = 0;  // CreateLun
    std::string optionText;  // CreateLun's option object
    int64_t lunId = 0;       // DeleteLun, MapLun2Host, UnMapLun2Host
    std::string host;        // MapLun2Host, UnMapLun2Host
    std::string command;     // Ioctl
    std::string arguments;   // Ioctl
    ParsedOptions options;   // parsed from the route's option text
};

struct ServiceReply {
    ServiceReply() = default;
    // An answer that is only a status (most of them).
    ServiceReply(ServiceStatus status) : status(std::move(status)) {}  // NOLINT: implicit on purpose

    ServiceStatus status;
    std::string lunName;              // CreateLun, on success
    int64_t lunId = 0;                // CreateLun, on success
    std::vector<std::string> lines;   // Ioctl, on success
};

// Where a field lives: in the message itself, or in a nested object of it.
struct FieldHolder {
    bool nested = false;
    ZoScsiServer::Wire::Field object{0, 0, 0};  // the nested object's field in the message
    unsigned long type = 0;                      // the nested object's type key
    int id = 0;                                  // the nested object's message id (group 75)
};

struct RequestField {
    const char* label;  // names the field in error texts
    FieldHolder holder;
    ZoScsiServer::Wire::Field field;
    std::variant<int64_t ServiceRequest::*, std::string ServiceRequest::*> member;
    bool required;
};

struct ReplyField {
    ZoScsiServer::Wire::Field field;
    std::variant<int64_t ServiceReply::*, std::string ServiceReply::*, std::vector<std::string> ServiceReply::*> member;
};

struct MessageSchema {
    const char* name;  // for logs and error texts
    ZoScsiServer::Wire::Message message;
    std::vector<RequestField> request;
    std::vector<ReplyField> reply;  // written on success only
};

namespace schema {
extern const MessageSchema kStartScsiService;
extern const MessageSchema kIoctl;
extern const MessageSchema kCreateTarget;
extern const MessageSchema kDeleteTarget;
extern const MessageSchema kCreateLun;
extern const MessageSchema kDeleteLun;
extern const MessageSchema kMapLun2Host;
extern const MessageSchema kUnMapLun2Host;
// The answer to a request the service does not know.
extern const MessageSchema kUnknownRequest;
}  // namespace schema

}  // namespace zoscsi
