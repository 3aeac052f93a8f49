#include "backend/InventoryBackend.h"

namespace zoscsi {
namespace {

class InventoryBackend final : public Backend {
public:
    const char* Name() const override { return "inventory"; }

    BackendStatus Start(uint32_t, const InventorySnapshot&) override { return BackendStatus::Ok(); }
    BackendStatus Resync(const InventorySnapshot&) override { return BackendStatus::Ok(); }
    BackendStatus CreateTarget(const TargetRecord&) override { return BackendStatus::Ok(); }
    BackendStatus DeleteTarget(const TargetRecord&) override { return BackendStatus::Ok(); }
    BackendStatus CreateLun(const LunRecord&) override { return BackendStatus::Ok(); }
    BackendStatus OpenLun(const LunRecord&) override { return BackendStatus::Ok(); }
    BackendStatus CloseLun(const LunRecord&) override { return BackendStatus::Ok(); }
    BackendStatus DeleteLun(const LunRecord&) override { return BackendStatus::Ok(); }
    BackendStatus MapHost(const LunRecord&, const std::string&, const std::vector<std::string>&) override {
        return BackendStatus::Ok();
    }
    BackendStatus UnmapHost(const LunRecord&, const std::string&, const std::vector<std::string>&) override {
        return BackendStatus::Ok();
    }
    void Stop() override {}
};

}  // namespace

std::unique_ptr<Backend> MakeInventoryBackend(const BackendContext&, std::string&) {
    return std::make_unique<InventoryBackend>();
}

}  // namespace zoscsi
