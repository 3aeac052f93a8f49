#include "Commands.h"

#include "FXErrorUtil.h"
#include "ListingCommands.h"
#include "Output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <initializer_list>
#include <utility>

namespace zoctl {

namespace {

using Req = ZoScsiSrvClientRequest::RequestHeader;
using LunInfo = ZoScsiSrvClient::LunInfo;

#define ZOCTL_HERE(command) FXCodeLocation("zoscsictl", "zoscsictl " command, __LINE__)

Req DefaultHeader() { return Req(1, ZoScsiServer::ISCSI, 0); }

Json Fields(std::initializer_list<std::pair<const char*, Json>> fields) {
    Json object = Json::object();
    for (const auto& [key, value] : fields) object[key] = value;
    return object;
}

// The common tail of every mutation: the error, or one confirmation line
// and the JSON members.
Outcome Done(const CYbError& error, std::string line, Json result) {
    if (error.IsError()) return Outcome::Failed(error);
    Outcome outcome;
    outcome.lines.push_back(std::move(line));
    outcome.result = std::move(result);
    return outcome;
}

std::string Lun(int32_t id) { return "LUN " + std::to_string(id); }

Outcome RunStart(ZoScsiSrvClient& client, const Args& a) {
    const ZoScsiSrvClientRequest::StartServiceRequest request(DefaultHeader());
    return Done(client.StartScsiService(request), "started the SCSI service (iSCSI) for client " + a.client,
                Fields({{"client", a.client}, {"fabric", "iscsi"}}));
}

Outcome RunReload(ZoScsiSrvClient& client, const Args& a) {
    return Done(client.ReloadConfiguration(a.command), "reloaded (" + a.command + ")",
                Fields({{"command", a.command}}));
}

// A detail of the service's status as JSON: numbers as numbers, yes and no
// as booleans, anything else as text.
Json DetailValue(const std::string& value) {
    if (value == "yes" || value == "no") return value == "yes";
    if (!value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<long long>(std::stoll(value));
    return value;
}

// JSON keys are lower case with underscores: "open-luns" becomes "open_luns".
std::string JsonKey(std::string key) {
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

// The service's own "status" word answers "key=value" lines (version, pid,
// backend, counts). They are extra detail: a service that does not know the
// word is still up, so a refusal only leaves them out.
void AddServiceDetails(ZoScsiSrvClient& client, const Args& a, Outcome& outcome) {
    std::vector<std::string> lines;
    if (client.ListLuns("status", "-h " + a.client, lines).IsError()) return;
    size_t width = 0;
    std::vector<std::pair<std::string, std::string>> details;
    for (const auto& line : lines) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        details.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        width = std::max(width, eq);
    }
    Json service = Json::object();
    for (const auto& [key, value] : details) {
        outcome.lines.push_back("  " + key + ":" + std::string(width - key.size() + 1, ' ') + value);
        service[JsonKey(key)] = DetailValue(value);
    }
    outcome.result["service"] = std::move(service);
}

Outcome RunStatus(ZoScsiSrvClient& client, const Args& a) {
    if (!client.IsZoScsiServiceUp(a.validate)) {
        const CYbError error = FXErrorUtil::ErrorErrNo(
            ZOCTL_HERE("status"), ENOTCONN, "ZoScsiSrv for client %s is not up%s", a.client.c_str(),
            a.validate ? " (session validation failed)" : "");
        return Outcome::Failed(error, Stage::Connect);
    }
    Outcome outcome = Done(CYbError::Success(),
                           "ZoScsiSrv for client " + a.client + ": up" + (a.validate ? ", session validated" : ""),
                           Fields({{"client", a.client}, {"up", true}, {"validated", a.validate}}));
    AddServiceDetails(client, a, outcome);
    return outcome;
}

Outcome RunRestart(ZoScsiSrvClient& client, const Args& a) {
    const std::string stopped = a.stoppedPid > 0 ? "stopped pid " + std::to_string(a.stoppedPid) : "none was running";
    Outcome outcome = Done(CYbError::Success(), "restarted ZoScsiSrv for client " + a.client + " (" + stopped + ")",
                           Fields({{"client", a.client},
                                   {"stopped_pid", a.stoppedPid > 0 ? Json(a.stoppedPid) : Json()},
                                   {"force", a.force}}));
    AddServiceDetails(client, a, outcome);
    return outcome;
}

Outcome RunTargetAdd(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::CreateTargetRequest request;
    request.targetName = a.name;
    request.targetParams = a.params;
    const std::string name = Lower(a.name);
    return Done(client.AddTarget(request), "created target " + name,
                Fields({{"target", name}, {"params", a.params}}));
}

Outcome RunTargetRm(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::DeleteTargetRequest request;
    request.targetName = a.target;
    const std::string name = Lower(a.target);
    return Done(client.DeleteTarget(request), "removed target " + name, Fields({{"target", name}}));
}

// The option text of a new LUN: "-s SIZE" first, then the caller's own.
std::string LunOptions(const Args& a) {
    std::string text;
    if (a.Given(Param::Size)) text = "-s " + a.size;
    if (!a.options.empty()) text += (text.empty() ? "" : " ") + a.options;
    return text;
}

Outcome RunLunCreate(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::CreateLunRequest request;
    request.targetName = a.target;
    request.lunSetting = a.setting;
    request.options = LunOptions(a);
    std::string lunName;
    int32_t id = -1;
    const CYbError error = client.CreateLun(request, lunName, id);
    const std::string target = Lower(a.target);
    return Done(error, "created " + Lun(id) + " (" + lunName + ") in target " + target,
                Fields({{"target", target}, {"lun", id}, {"name", lunName}, {"options", request.options}}));
}

Outcome RunLunOpen(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::OpenLunRequest request;
    request.lunId = a.lun;
    request.targetName = a.target;
    request.lunSetting = a.setting;
    std::string lunName;
    const CYbError error = client.OpenLun(request, lunName);
    const std::string target = Lower(a.target);
    return Done(error, "opened " + Lun(a.lun) + " (" + lunName + ") in target " + target,
                Fields({{"target", target}, {"lun", a.lun}, {"name", lunName}}));
}

Outcome RunLunClose(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::CloseLunRequest request;
    request.header.opCtxFlags = ZoScsiServer::Wire::kOpCtxCloseLun;
    request.lunId = a.lun;
    request.targetName = a.target;
    const std::string target = Lower(a.target);
    return Done(client.CloseLun(request), "closed " + Lun(a.lun) + " in target " + target,
                Fields({{"target", target}, {"lun", a.lun}}));
}

Outcome RunLunRm(ZoScsiSrvClient& client, const Args& a) {
    ZoScsiSrvClientRequest::DeleteLunRequest request;
    request.lunId = a.lun;
    request.targetName = a.target;
    const std::string target = Lower(a.target);
    return Done(client.DeleteLun(request), "removed " + Lun(a.lun) + " from target " + target,
                Fields({{"target", target}, {"lun", a.lun}}));
}

Json MappingFields(const Args& a, const char* hostKey, const std::string& host) {
    return Fields({{"target", Lower(a.target)}, {"lun", a.lun}, {hostKey, host}});
}

Outcome RunMap(ZoScsiSrvClient& client, const Args& a) {
    const ZoScsiSrvClientRequest::MapHostRequest request(a.lun, a.target, a.host, DefaultHeader());
    return Done(client.MapHost(request),
                "mapped " + Lun(a.lun) + " of target " + Lower(a.target) + " to host " + a.host,
                MappingFields(a, "host", a.host));
}

Outcome RunUnmap(ZoScsiSrvClient& client, const Args& a) {
    const ZoScsiSrvClient::UnmapHostRequest request(a.lun, a.target, a.host, DefaultHeader());
    return Done(client.UnmapHost(request),
                "unmapped " + Lun(a.lun) + " of target " + Lower(a.target) + " from host " + a.host,
                MappingFields(a, "host", a.host));
}

// Whether the LUN is mapped to `host`, by the service's listing.
CYbError IsMapped(ZoScsiSrvClient& client, const Args& a, const std::string& host, bool& mapped) {
    std::vector<LunInfo> luns;
    const CYbError error = client.ListLunsByTarget(Lower(a.target), luns);
    const std::string id = std::to_string(a.lun);
    mapped = std::any_of(luns.begin(), luns.end(),
                         [&](const LunInfo& l) { return l.lun == id && l.host == host; });
    return error;
}

// A remap is an unmap and then a map. When the map is refused the library
// leaves the LUN unmapped from FROM; a tool should not leave a host cut off
// because the new one was misspelt, so the old mapping is put back.
void RestoreAfterFailedRemap(ZoScsiSrvClient& client, const Args& a, CYbError& error) {
    bool stillMapped = true;
    if (IsMapped(client, a, a.from, stillMapped).IsError() || stillMapped) return;
    const ZoScsiSrvClientRequest::MapHostRequest back(a.lun, a.target, a.from, DefaultHeader());
    const CYbError restore = client.MapHost(back);
    if (restore.IsError()) {
        error.Push(ZOCTL_HERE("remap"), "LUN %d stays unmapped from host %s: %s", a.lun, a.from.c_str(),
                   restore.ToString().c_str());
    } else {
        error.Push(ZOCTL_HERE("remap"), "mapping of LUN %d to host %s restored", a.lun, a.from.c_str());
    }
}

Outcome RunRemap(ZoScsiSrvClient& client, const Args& a) {
    bool wasMapped = false;
    const bool known = !IsMapped(client, a, a.from, wasMapped).IsError();
    ZoScsiSrvClientRequest::RemapHostRequest request;
    request.lunId = a.lun;
    request.targetName = a.target;
    request.fromHostName = a.from;
    request.toHostName = a.to;
    CYbError error = client.RemapLun2Host(request);
    if (error.IsError() && known && wasMapped) RestoreAfterFailedRemap(client, a, error);
    return Done(error,
                "remapped " + Lun(a.lun) + " of target " + Lower(a.target) + " from host " + a.from +
                    " to host " + a.to,
                Fields({{"target", Lower(a.target)}, {"lun", a.lun}, {"from", a.from}, {"to", a.to}}));
}

}  // namespace

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Args::Given(Param p) const { return std::find(given.begin(), given.end(), p) != given.end(); }

Outcome DownOutcome(const std::string& clientName) {
    return Outcome::Failed(FXErrorUtil::ErrorErrNo(ZOCTL_HERE("status"), ESRCH,
                                                   "ZoScsiSrv for client %s is down: no instance runs (status starts "
                                                   "none; any other command starts one)",
                                                   clientName.c_str()),
                           Stage::Connect);
}

const std::vector<CommandRow>& CommandTable() {
    using P = Param;
    static const std::vector<CommandRow> table = {
        {"start", "Start the SCSI service (iSCSI) on the node", {},
         "  zoscsictl start\n  zoscsictl --client node7 start", RunStart},
        {"reload", "Have the service reload its configuration and resynchronise its fabric", {P::Command},
         "  zoscsictl reload           (the same as: zoscsictl reload reload)\n"
         "  zoscsictl reload WORD      (another reload word of the service, passed unchanged)",
         RunReload},
        {"status", "Tell whether the service is up for this client; never starts it", {P::Validate},
         "  zoscsictl status\n  zoscsictl status --validate --json", RunStatus, {}, Reach::RunningOnly},
        {"restart", "Stop the running instance (it is asked to; with --force, killed) and start a fresh one",
         {P::Force},
         "  zoscsictl restart\n"
         "  zoscsictl restart --force   (for an instance that is stopped or hung; its pid is verified first)",
         RunRestart, {}, Reach::Restart},
        {"target add", "Create a target", {P::Name, P::Params},
         "  zoscsictl target add iqn.2026-12.com.example:tgt01\n"
         "  zoscsictl target add tgt01 --params 'description=scratch'",
         RunTargetAdd},
        {"target rm", "Remove a target", {P::Target}, "  zoscsictl target rm tgt01", RunTargetRm},
        {"target ls", "List the targets with their counts of LUNs and mappings", {},
         "  zoscsictl target ls\n  zoscsictl targets --json", RunTargets, {"targets"}},
        {"lun create", "Create a LUN in a target; the service picks its id", {P::Target, P::Size, P::Setting, P::Options},
         "  zoscsictl lun create tgt01 --size 64M\n  zoscsictl lun create tgt01 --size 10G --setting 1",
         RunLunCreate},
        {"lun open", "Open (export again) a LUN of a target under its id", {P::Target, P::Id, P::Setting},
         "  zoscsictl lun open tgt01 1", RunLunOpen},
        {"lun close", "Close a LUN: stop exporting it, keep its data", {P::Target, P::Id},
         "  zoscsictl lun close tgt01 1", RunLunClose},
        {"lun rm", "Remove a LUN and its data", {P::Target, P::Id}, "  zoscsictl lun rm tgt01 1", RunLunRm},
        {"map", "Map a LUN to a host (initiator)", {P::Target, P::Lun, P::Host},
         "  zoscsictl map tgt01 1 iqn.2026-12.com.example:host01", RunMap},
        {"unmap", "Unmap a LUN from a host", {P::Target, P::Lun, P::Host},
         "  zoscsictl unmap tgt01 1 iqn.2026-12.com.example:host01", RunUnmap},
        {"remap", "Move a LUN's mapping from one host to another", {P::Target, P::Lun, P::From, P::To},
         "  zoscsictl remap tgt01 1 host01 host02\n"
         "  (when the new host is refused, the mapping to FROM is put back)",
         RunRemap},
        {"ls", "List LUNs with their hosts, optionally filtered; -l adds size, state and export",
         {P::TargetFilter, P::HostFilter, P::Long},
         "  zoscsictl ls\n  zoscsictl ls -l --target tgt01\n  zoscsictl ls --host host01 --json\n"
         "  zoscsictl ls --target tgt01 --host host01",
         RunLs},
    };
    return table;
}

}  // namespace zoctl
