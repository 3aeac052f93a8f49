#include "ServiceClient.h"

#include "LogWriter.h"

#include <algorithm>
#include <cstdlib>

namespace zorel {
namespace {

constexpr unsigned kServiceRefused = 774;  // the library's code for an error number of the service
constexpr unsigned kAddTargetExists = 183;

}  // namespace

void PointRegistryAt(const ServiceProcess& service) {
    // The library logs every listed record at level 0; failures are enough here.
    g_ptrLogWriter.reset(new StderrLogWriter(-1));
    ::setenv("ZO_SERVICE_ZoScsiSrv", service.endpoint().c_str(), 1);
    ::setenv("ZO_SERVICE_ZoScsiSrv_SESSION", service.options().session.c_str(), 1);
}

std::unique_ptr<ZoScsiSrvClient> Attach(std::string& error) {
    auto client = std::make_unique<ZoScsiSrvClient>();
    const CYbError attached = client->Initialize("rel", "reliability", 0);
    if (attached.IsError()) {
        error = attached.ToString();
        return nullptr;
    }
    return client;
}

Outcome Classify(const CYbError& error) {
    Outcome outcome;
    if (!error.IsError()) {
        outcome.kind = Outcome::Done;
        outcome.number = 0;
        return outcome;
    }
    outcome.text = error.ToString();
    if (error.Code() == kAddTargetExists) {
        outcome.kind = Outcome::Refused;
        outcome.number = 7;
        return outcome;
    }
    const std::string message = error.Message();
    const size_t at = message.find(", errNum=");
    if (error.Code() == kServiceRefused && at != std::string::npos) {
        outcome.kind = Outcome::Refused;
        outcome.number = std::atoi(message.c_str() + at + 9);
        return outcome;
    }
    outcome.kind = Outcome::Lost;
    return outcome;
}

ZoScsiSrvClientRequest::CreateTargetRequest TargetRequest(const std::string& name, const std::string& params) {
    ZoScsiSrvClientRequest::CreateTargetRequest request;
    request.targetName = name;
    request.targetParams = params;
    return request;
}

ZoScsiSrvClientRequest::DeleteTargetRequest NoTargetRequest(const std::string& name) {
    ZoScsiSrvClientRequest::DeleteTargetRequest request;
    request.targetName = name;
    return request;
}

ZoScsiSrvClientRequest::CreateLunRequest LunRequest(const std::string& target, const std::string& options) {
    ZoScsiSrvClientRequest::CreateLunRequest request;
    request.targetName = target;
    request.options = options;
    return request;
}

ZoScsiSrvClientRequest::DeleteLunRequest NoLunRequest(const std::string& target, int id) {
    ZoScsiSrvClientRequest::DeleteLunRequest request;
    request.targetName = target;
    request.lunId = id;
    return request;
}

ZoScsiSrvClientRequest::MapHostRequest MapRequest(const std::string& target, int id, const std::string& host) {
    return ZoScsiSrvClientRequest::MapHostRequest(id, target, host,
                                                  ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0));
}

bool ReadInventory(ZoScsiSrvClient& client, InventoryView& view, std::string& error) {
    std::vector<ZoScsiSrvClient::LunInfo> luns;
    const CYbError listed = client.ListLuns(luns, "", "");
    if (listed.IsError()) {
        error = listed.ToString();
        return false;
    }
    view.clear();
    for (const auto& lun : luns) {
        char* end = nullptr;
        const long id = std::strtol(lun.lun.c_str(), &end, 10);
        if (lun.lun.empty() || *end != '\0') {
            error = "LUN id \"" + lun.lun + "\" of target " + lun.target + " is not a number";
            return false;
        }
        std::set<std::string>& hosts = view[lun.target][static_cast<int>(id)];
        if (!lun.host.empty()) hosts.insert(lun.host);
    }
    return true;
}

std::string Describe(const LunHosts& luns) {
    std::string text = "{";
    for (const auto& lun : luns) {
        text += (text.size() > 1 ? ", " : "") + std::to_string(lun.first) + ": [";
        std::string hosts;
        for (const std::string& host : lun.second) hosts += (hosts.empty() ? "" : " ") + host;
        text += hosts + "]";
    }
    return text + "}";
}

std::vector<std::string> ListingRecords(ZoScsiSrvClient& client, std::string& error) {
    std::vector<ZoScsiSrvClient::LunInfo> luns;
    const CYbError listed = client.ListLuns(luns, "", "");
    std::vector<std::string> records;
    if (listed.IsError()) {
        error = listed.ToString();
        return records;
    }
    for (const auto& lun : luns) records.push_back(lun.target + " " + (lun.host.empty() ? "-" : lun.host) + " " + lun.lun);
    std::sort(records.begin(), records.end());
    return records;
}

}  // namespace zorel
