// FakeBackend: a backend that records its calls and refuses (or throws on)
// the one a test names.
#pragma once

#include "backend/Backend.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

class FakeBackend final : public zoscsi::Backend {
public:
    // The call to refuse ("CreateLun", ...) and the text of the refusal.
    std::string failOn;
    std::string failText = "refused by the fake";
    int failNumber = 0;  // the refusal's error number; 0: a backend failure
    std::string throwOn;

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls;
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.clear();
        m_commits.clear();
    }
    size_t lastSnapshotLuns = 0;
    // What AwaitReady answers (a restore still running: a refusal with the busy number).
    zoscsi::BackendStatus ready = zoscsi::BackendStatus::Ok();

    const char* Name() const override { return "fake"; }
    zoscsi::BackendStatus Start(uint32_t fabric, const zoscsi::InventorySnapshot& inventory) override {
        lastSnapshotLuns = inventory.luns.size();
        return Record("Start", std::to_string(fabric));
    }
    zoscsi::BackendStatus Resync(const zoscsi::InventorySnapshot& inventory) override {
        lastSnapshotLuns = inventory.luns.size();
        return Record("Resync", std::to_string(inventory.luns.size()));
    }
    zoscsi::BackendStatus CreateTarget(const zoscsi::TargetRecord& t) override { return Record("CreateTarget", t.name); }
    zoscsi::BackendStatus DeleteTarget(const zoscsi::TargetRecord& t) override { return Record("DeleteTarget", t.name); }
    zoscsi::BackendStatus CreateLun(const zoscsi::LunRecord& l) override { return Record("CreateLun", LunText(l)); }
    zoscsi::BackendStatus OpenLun(const zoscsi::LunRecord& l) override { return Record("OpenLun", LunText(l)); }
    zoscsi::BackendStatus CloseLun(const zoscsi::LunRecord& l) override { return Record("CloseLun", LunText(l)); }
    zoscsi::BackendStatus DeleteLun(const zoscsi::LunRecord& l) override { return Record("DeleteLun", LunText(l)); }
    zoscsi::BackendStatus MapHost(const zoscsi::LunRecord& l, const std::string& host,
                                  const std::vector<std::string>& after) override {
        return Record("MapHost", LunText(l) + " " + host + " [" + Join(after) + "]");
    }
    zoscsi::BackendStatus UnmapHost(const zoscsi::LunRecord& l, const std::string& host,
                                    const std::vector<std::string>& after) override {
        return Record("UnmapHost", LunText(l) + " " + host + " [" + Join(after) + "]");
    }
    void Stop() override { Record("Stop", ""); }
    // Exported to each host of an open LUN, as "fake:TARGET/HOST".
    std::string ExportOf(const zoscsi::LunRecord& l, const std::string& host) const override {
        return l.open && !host.empty() ? "fake:" + l.target + "/" + host : std::string();
    }
    zoscsi::BackendStatus AwaitReady() override { return ready; }
    std::string State() const override { return ready.ok ? "ready" : ready.text; }
    // How many calls had been made at each Committed().
    std::vector<size_t> CommitsAfter() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_commits;
    }
    void Committed() override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_commits.push_back(m_calls.size());
    }

private:
    static std::string LunText(const zoscsi::LunRecord& l) {
        return l.target + "/" + std::to_string(l.id) + (l.open ? " open" : " closed");
    }
    static std::string Join(const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
        return text;
    }
    zoscsi::BackendStatus Record(const std::string& call, const std::string& detail) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_calls.push_back(detail.empty() ? call : call + " " + detail);
        }
        if (call == throwOn) throw std::runtime_error("the fake threw");
        if (call == failOn) return zoscsi::BackendStatus::Refuse(failNumber, failText);
        return zoscsi::BackendStatus::Ok();
    }

    mutable std::mutex m_lock;
    std::vector<std::string> m_calls;
    std::vector<size_t> m_commits;
};
