// The service's request handling: each input is decoded as a request (the
// listener's limits), dispatched against a throw-away inventory with the
// records-only backend, and answered. Checked after every input: nothing
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
    std::string error;
    std::unique_ptr<CNMessageBase> request =
        zo::DecodeMessage(reinterpret_cast<const char*>(data), size, zo::DecodeLimits(), error);
    if (!request) return 0;
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
