#include "protocol/MessageCodec.h"

namespace zoscsi {
namespace {

namespace W = ZoScsiServer::Wire;

const char* KindName(CNFieldKind kind) {
    switch (kind) {
        case CNFieldKind::Int64: return "an integer";
        case CNFieldKind::String: return "a string";
        case CNFieldKind::StringList: return "a list of strings";
        case CNFieldKind::Object: return "an object";
    }
    return "of an unknown kind";
}

// The message or nested object that holds `field`; null when absent.
ServiceStatus FindHolder(const CNMessageBase& message, const MessageSchema& schema, const RequestField& field,
                         const CNMessageBase*& holder, unsigned long& type) {
    holder = &message;
    type = schema.message.requestType;
    if (!field.holder.nested) return ServiceStatus::Ok();
    const CNField* object = message.FindField(type, field.holder.object.key);
    holder = nullptr;
    if (!object) return ServiceStatus::Ok();
    if (object->kind != CNFieldKind::Object || !object->object)
        return Invalid(std::string(schema.name) + ": the object holding the " + field.label + " is " +
                       KindName(object->kind));
    holder = object->object.get();
    type = field.holder.type;
    return ServiceStatus::Ok();
}

struct Assign {
    ServiceRequest& request;
    const CNField& wire;
    bool operator()(int64_t ServiceRequest::*member) const {
        if (wire.kind != CNFieldKind::Int64) return false;
        request.*member = wire.i64;
        return true;
    }
    bool operator()(std::string ServiceRequest::*member) const {
        if (wire.kind != CNFieldKind::String) return false;
        request.*member = wire.str;
        return true;
    }
};

struct Write {
    CNMessageBase& message;
    unsigned long type;
    const W::Field& field;
    ServiceReply& reply;
    void operator()(int64_t ServiceReply::*member) const {
        message.setint64(field.first, field.second, reply.*member, type, field.key);
    }
    void operator()(std::string ServiceReply::*member) const {
        message.setstring(field.first, field.second, reply.*member, type, field.key);
    }
    void operator()(std::vector<std::string> ServiceReply::*member) const {
        message.setliststring(field.first, field.second, std::move(reply.*member), type, field.key);
    }
};

}  // namespace

ServiceStatus DecodeRequest(const CNMessageBase& message, const MessageSchema& schema, ServiceRequest& request) {
    for (const RequestField& field : schema.request) {
        const CNMessageBase* holder = nullptr;
        unsigned long type = 0;
        ServiceStatus status = FindHolder(message, schema, field, holder, type);
        if (!status.ok()) return status;
        const CNField* wire = holder ? holder->FindField(type, field.field.key) : nullptr;
        if (!wire) {
            if (field.required) return Invalid(std::string(schema.name) + ": the " + field.label + " is missing");
            continue;
        }
        if (!std::visit(Assign{request, *wire}, field.member))
            return Invalid(std::string(schema.name) + ": the " + field.label + " is " + KindName(wire->kind));
    }
    return ServiceStatus::Ok();
}

std::unique_ptr<CNMessageBase> EncodeReply(const MessageSchema& schema, ServiceReply&& reply) {
    const W::Message& def = schema.message;
    auto message = std::make_unique<CNMessageBase>(W::kGroup, def.responseId);
    CNMessageBase* status = message->getObjectAccessor(true, true, def.statusFirst, def.statusSecond, def.responseType,
                                                       W::kStatusKey, W::kGroup, W::kStatusId);
    status->setint64(W::kStatusErrorNumber.first, W::kStatusErrorNumber.second, reply.status.number, W::kStatusType,
                     W::kStatusErrorNumber.key);
    status->setstring(W::kStatusErrorText.first, W::kStatusErrorText.second, reply.status.text, W::kStatusType,
                      W::kStatusErrorText.key);
    if (reply.status.ok()) {
        for (const ReplyField& field : schema.reply)
            std::visit(Write{*message, def.responseType, field.field, reply}, field.member);
    }
    return message;
}

}  // namespace zoscsi
