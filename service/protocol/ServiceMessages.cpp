#include "protocol/ServiceMessages.h"

namespace zoscsi {
namespace {

namespace W = ZoScsiServer::Wire;
using R = ServiceRequest;

const FieldHolder kInMessage{};
const FieldHolder kInHeader{true, W::kHeaderObject, W::kHeaderType, W::kHeaderId};
const FieldHolder kInOptionObject{true, W::kCreateLunOptions, W::kOptionType, W::kOptionId};

// Every request starts with the header object.
std::vector<RequestField> WithHeader(std::vector<RequestField> fields) {
    std::vector<RequestField> all = {
        {"header value", kInHeader, W::kHeaderValue, &R::headerValue, true},
        {"header opCtxFlags", kInHeader, W::kHeaderOpCtxFlags, &R::opCtxFlags, true},
        {"header fabric", kInHeader, W::kHeaderFabric, &R::fabric, true},
    };
    all.insert(all.end(), fields.begin(), fields.end());
    return all;
}

}  // namespace

namespace schema {

const MessageSchema kStartScsiService{"StartScsiService", W::kStartScsiService, WithHeader({}), {}};

const MessageSchema kIoctl{"Ioctl",
                           W::kIoctl,
                           WithHeader({
                               {"command word", kInMessage, W::kIoctlCommand, &R::command, true},
                               {"command arguments", kInMessage, W::kIoctlArguments, &R::arguments, false},
                           }),
                           {{W::kIoctlOutput, &ServiceReply::lines}}};

const MessageSchema kCreateTarget{"CreateTarget",
                                  W::kCreateTarget,
                                  WithHeader({
                                      {"target name", kInMessage, W::kTargetName, &R::target, true},
                                      {"target parameters", kInMessage, W::kTargetParams, &R::params, false},
                                  }),
                                  {}};

const MessageSchema kDeleteTarget{"DeleteTarget",
                                  W::kDeleteTarget,
                                  WithHeader({{"target name", kInMessage, W::kTargetName, &R::target, true}}),
                                  {}};

const MessageSchema kCreateLun{"CreateLun",
                               W::kCreateLun,
                               WithHeader({
                                   {"target name", kInMessage, W::kCreateLunTarget, &R::target, true},
                                   {"LUN setting", kInMessage, W::kCreateLunSetting, &R::lunSetting, true},
                                   {"LUN options", kInOptionObject, W::kOptionText, &R::optionText, true},
                               }),
                               {{W::kCreateLunName, &ServiceReply::lunName}, {W::kCreateLunId, &ServiceReply::lunId}}};

const MessageSchema kDeleteLun{"DeleteLun",
                               W::kDeleteLun,
                               WithHeader({
                                   {"target name", kInMessage, W::kDeleteLunTarget, &R::target, true},
                                   {"LUN id", kInMessage, W::kDeleteLunId, &R::lunId, true},
                               }),
                               {}};

namespace {
const std::vector<RequestField> kMappingFields = WithHeader({
    {"target name", kInMessage, W::kMapTarget, &R::target, true},
    {"LUN id", kInMessage, W::kMapLunId, &R::lunId, true},
    {"host name", kInMessage, W::kMapHost, &R::host, true},
});
}  // namespace

const MessageSchema kMapLun2Host{"MapLun2Host", W::kMapLun2Host, kMappingFields, {}};
const MessageSchema kUnMapLun2Host{"UnMapLun2Host", W::kUnMapLun2Host, kMappingFields, {}};

const MessageSchema kUnknownRequest{"UnknownRequest", W::kUnknownRequest, {}, {}};

}  // namespace schema
}  // namespace zoscsi
