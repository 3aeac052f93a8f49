// The client library against a ServiceProcess: the launcher's registry is
// pointed at the running service through the environment (an endpoint
// entry with its session), and outcomes are sorted into what a model of the
// inventory needs to know.
#pragma once

#include "ServiceProcess.h"
#include "ZoScsiSrvClient.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zorel {

// Sets ZO_SERVICE_ZoScsiSrv and its session for `service` and lowers the
// library's log level to failures (process-wide: call it before starting
// client threads).
void PointRegistryAt(const ServiceProcess& service);

// An initialised client of the service the registry names; null with the
// reason when it could not attach.
std::unique_ptr<ZoScsiSrvClient> Attach(std::string& error);

struct Outcome {
    enum Kind {
        Done,     // acknowledged: the service did it
        Refused,  // the service answered with an error number
        Lost,     // no answer: the connection broke (the request may or may not have been carried out)
    };
    Kind kind = Lost;
    int number = -1;  // the service's error number when refused
    std::string text;
};

Outcome Classify(const CYbError& error);

// Request builders with the library's default header.
ZoScsiSrvClientRequest::CreateTargetRequest TargetRequest(const std::string& name, const std::string& params = "");
ZoScsiSrvClientRequest::DeleteTargetRequest NoTargetRequest(const std::string& name);
ZoScsiSrvClientRequest::CreateLunRequest LunRequest(const std::string& target, const std::string& options = "-s 1M");
ZoScsiSrvClientRequest::DeleteLunRequest NoLunRequest(const std::string& target, int id);
ZoScsiSrvClientRequest::MapHostRequest MapRequest(const std::string& target, int id, const std::string& host);

// What a listing says: target -> LUN id -> the hosts it is mapped to.
using LunHosts = std::map<int, std::set<std::string>>;
using InventoryView = std::map<std::string, LunHosts>;

// Every LUN of the inventory ("ll"); false with the reason on failure, or
// when a LUN id is listed that is not a number.
bool ReadInventory(ZoScsiSrvClient& client, InventoryView& view, std::string& error);
// "{1: [h1 h2], 2: []}" for failure texts.
std::string Describe(const LunHosts& luns);

// "target host lun" of every listed LUN, sorted; "-" for no host.
std::vector<std::string> ListingRecords(ZoScsiSrvClient& client, std::string& error);

}  // namespace zorel
