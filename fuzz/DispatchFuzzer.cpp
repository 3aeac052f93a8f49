// The service's request handling: each input becomes a request, is
// dispatched against a throw-away inventory with the records-only backend,
// and answered. An input is either XML, decoded as the listener decodes it,
// or (first byte 0x00..0x08) a script that builds a request from the route
// table: the bytes pick a route and give each of its fields a value (now and
// then none, or one of the wrong kind), mostly from a small vocabulary of
// names, options and words so that requests meet each other's records. Checked after every input: nothing
// throws; exactly one answer comes back, of the response type the request's
// client reads, with its status object holding a known error number (and a
// text when it is a failure, never the "internal failure" of a handler that
// threw); the answer encodes within the frame limit and decodes again.
//
// The inventory lives in a fresh folder (under /dev/shm when there is one,
// so durable commits cost no disk flush) and is made anew every few thousand
// inputs, so that it stays small and listings stay fast.
#include "FuzzSupport.h"
#include "ZoScsiServer.h"
#include "backend/BackendFactory.h"
#include "inventory/Inventory.h"
#include "protocol/Dispatcher.h"
#include "zo/XmlCodec.h"

#include <cstdint>
#include <cstdlib>
#include <variant>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace W = ZoScsiServer::Wire;

constexpr long kInputsPerInventory = 4000;

const W::Message kMessages[] = {W::kIoctl,     W::kStartScsiService, W::kCreateTarget, W::kDeleteTarget,
                                W::kCreateLun, W::kDeleteLun,        W::kMapLun2Host,  W::kUnMapLun2Host};

// The answer a client of (group, id) reads.
const W::Message& AnswerOf(const CNMessageBase& request) {
    if (request.Group() == W::kGroup)
        for (const W::Message& message : kMessages)
            if (message.id == request.Id()) return message;
    return W::kUnknownRequest;
}

bool KnownNumber(long long number) {
    using namespace ZoScsiServer;
    switch (number) {
        case kErrNone: case kErrNotFound: case kErrBackend: case kErrAlreadyExists: case kErrBusy:
        case kErrInvalidArgument: case kErrLimit: case kErrUnknownRequest:
            return true;
        default:
            return false;
    }
}

class Service {
public:
    Service() {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/zo-fuzz-dispatch-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        m_folder = pattern;
        std::string error;
        m_backend = zoscsi::MakeBackend("inventory", zoscsi::BackendContext{"fuzz", m_folder, nullptr}, error);
        ZO_FUZZ_CHECK(m_backend != nullptr);
        m_store = std::make_unique<zoscsi::InventoryStore>(m_folder);
        m_inventory = std::make_unique<zoscsi::Inventory>(*m_store, *m_backend, [] { return int64_t{1700000000}; });
        ZO_FUZZ_CHECK(m_inventory->Start(ZoScsiServer::ISCSI).ok());
        m_core = std::make_unique<zoscsi::ServiceCore>(*m_inventory, zoscsi::ServiceIdentity{"fuzz", "0", 1, 0},
                                                       zoscsi::LunSizeSettings());
        m_dispatcher = std::make_unique<zoscsi::Dispatcher>(*m_core, zo::DecodeLimits().maxFrameBytes);
    }
    ~Service() {
        m_dispatcher.reset();
        m_core.reset();
        m_inventory->Stop();
        m_inventory.reset();
        m_store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    zoscsi::Dispatcher& dispatcher() { return *m_dispatcher; }

private:
    std::string m_folder;
    std::unique_ptr<zoscsi::Backend> m_backend;
    std::unique_ptr<zoscsi::InventoryStore> m_store;
    std::unique_ptr<zoscsi::Inventory> m_inventory;
    std::unique_ptr<zoscsi::ServiceCore> m_core;
    std::unique_ptr<zoscsi::Dispatcher> m_dispatcher;
};

class Script {
public:
    Script(const uint8_t* data, size_t size) : m_at(data), m_end(data + size) {}
    uint8_t Byte() { return m_at < m_end ? *m_at++ : 0; }
    std::string Bytes(size_t n) {
        n = std::min<size_t>(n, static_cast<size_t>(m_end - m_at));
        std::string out(reinterpret_cast<const char*>(m_at), n);
        m_at += n;
        return out;
    }

private:
    const uint8_t* m_at;
    const uint8_t* m_end;
};

const char* const kWords[] = {
    "tgt01", "tgt02", "iqn.2024-01.com.example:t1", "host-a", "host-b", "iqn.1993-08.org.example:h1", "-s 1M",
    "-s 64K", "-s 0", "-s 99T", " -li 1", "-li 2", "-li 16384", "-s 1M -li 1", "-h node1", "-h node1 -ti tgt01",
    "-h node1 -hi host-a", "-llt -ti tgt01", "-llh -hi host-a", "-ti", "-x", "", "ll", "llt", "llh", "lt", "status",
    "reload", "tgt01#x", "host a", "-host",
};

std::string Text(Script& script, const zoscsi::Route& route, const zoscsi::RequestField& field) {
    const uint8_t pick = script.Byte();
    if (field.field.key == W::kIoctlCommand.key && route.word && pick % 4 != 0) return route.word;
    if (pick % 8 == 7) return script.Bytes(script.Byte() % 48);
    std::string text = kWords[pick % (sizeof kWords / sizeof kWords[0])];
    if (pick % 8 == 6) text += std::string(" ") + kWords[script.Byte() % (sizeof kWords / sizeof kWords[0])];
    return text;
}

long long Number(Script& script) {
    const uint8_t pick = script.Byte();
    if (pick < 200) return pick % 5;
    long long value = 0;
    for (int i = 0; i < 8; ++i) value = static_cast<long long>((static_cast<unsigned long long>(value) << 8) | script.Byte());
    return value;
}

std::unique_ptr<CNMessageBase> Built(Script& script) {
    const std::vector<zoscsi::Route>& routes = zoscsi::Routes();
    const zoscsi::Route& route = routes[script.Byte() % routes.size()];
    const zoscsi::MessageSchema& schema = *route.schema;
    auto message = std::make_unique<CNMessageBase>(W::kGroup, schema.message.id);
    for (const zoscsi::RequestField& field : schema.request) {
        const uint8_t how = script.Byte() % 32;
        if (how == 0) continue;  // absent
        CNMessageBase* holder = message.get();
        unsigned long type = schema.message.requestType;
        if (field.holder.nested) {
            holder = message->getObjectAccessor(true, true, field.holder.object.first, field.holder.object.second, type,
                                                field.holder.object.key, W::kGroup, field.holder.id);
            type = field.holder.type;
        }
        const bool integer = std::holds_alternative<int64_t zoscsi::ServiceRequest::*>(field.member);
        if (integer != (how == 1))  // how == 1: the wrong kind
            holder->setint64(field.field.first, field.field.second, Number(script), type, field.field.key);
        else
            holder->setstring(field.field.first, field.field.second, Text(script, route, field), type, field.field.key);
    }
    return message;
}

std::unique_ptr<Service> g_service;
long g_inputs = 0;

void CheckAnswer(const CNMessageBase& request, const CNMessageBase& answer) {
    const W::Message& def = AnswerOf(request);
    ZO_FUZZ_CHECK(answer.Group() == W::kGroup);
    ZO_FUZZ_CHECK(answer.Id() == def.responseId);
    const CNField* status = answer.FindField(def.responseType, W::kStatusKey);
    ZO_FUZZ_CHECK(status && status->kind == CNFieldKind::Object && status->object);
    ZO_FUZZ_CHECK(status->pairFirst == def.statusFirst && status->pairSecond == def.statusSecond);
    const CNField* number = status->object->FindField(W::kStatusType, W::kStatusErrorNumber.key);
    const CNField* text = status->object->FindField(W::kStatusType, W::kStatusErrorText.key);
    ZO_FUZZ_CHECK(number && number->kind == CNFieldKind::Int64);
    ZO_FUZZ_CHECK(text && text->kind == CNFieldKind::String);
    if (!KnownNumber(number->i64)) {
        std::fprintf(stderr, "answered %lld: %s\nrequest: %s\n", number->i64, text->str.c_str(),
                     zo::DescribeMessage(request).c_str());
        ZO_FUZZ_CHECK(KnownNumber(number->i64));
    }
    ZO_FUZZ_CHECK(number->i64 == 0 || !text->str.empty());

    std::string encoded;
    zo::EncodeMessage(answer, encoded);
    ZO_FUZZ_CHECK(encoded.size() <= zo::DecodeLimits().maxFrameBytes);
    std::string error;
    ZO_FUZZ_CHECK(zo::DecodeMessage(encoded.data(), encoded.size(), zo::DecodeLimits(), error) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zofuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<CNMessageBase> request;
    if (size > 0 && data[0] <= 0x08) {
        Script script(data + 1, size - 1);
        request = Built(script);
    } else {
        std::string error;
        request = zo::DecodeMessage(reinterpret_cast<const char*>(data), size, zo::DecodeLimits(), error);
        if (!request) return 0;
    }
    if (!g_service || ++g_inputs % kInputsPerInventory == 0) {
        g_service.reset();
        g_service = std::make_unique<Service>();
    }
    std::unique_ptr<CNMessageBase> answer;
    try {
        answer = g_service->dispatcher().Handle(*request);
    } catch (...) {
        zofuzz::Broken(__FILE__, __LINE__, "Dispatcher::Handle threw");
    }
    ZO_FUZZ_CHECK(answer != nullptr);
    CheckAnswer(*request, *answer);
    return 0;
}
