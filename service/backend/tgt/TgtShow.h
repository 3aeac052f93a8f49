// TgtShow: reads tgtadm's "show" answers into plain records. Pure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zoscsi::tgt {

struct TgtLunState {
    int lun = 0;
    std::string path;    // "Backing store path" ("None" for the controller)
    std::string serial;  // "SCSI SN"
};

struct TgtNexusState {
    int64_t sid = 0;
    std::string initiator;
    std::vector<int> connections;
};

struct TgtTargetState {
    int tid = 0;
    std::string name;
    std::vector<TgtLunState> luns;       // LUN 0, the controller, included
    std::vector<std::string> acls;       // address and name rules alike (show does not tell them apart)
    std::vector<TgtNexusState> nexuses;  // sessions
};

// `--mode target --op show`. False with a reason on anything that is not
// that answer (an empty answer is no targets).
bool ParseTargets(const std::string& text, std::vector<TgtTargetState>& targets, std::string& error);

// `--mode portal --op show`: "ADDR:PORT" per portal ("[::]:3260" for IPv6).
bool ParsePortals(const std::string& text, std::vector<std::string>& portals, std::string& error);

}  // namespace zoscsi::tgt
