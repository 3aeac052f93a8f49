#include "backend/tgt/TgtConfig.h"

#include "common/Names.h"

#include <arpa/inet.h>

#include <initializer_list>

namespace zoscsi::tgt {
namespace {

bool Integer(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

// iqn./eui./naa. and then lower case letters, digits, '.', '-', ':'.
bool GoodPrefix(const std::string& prefix) {
    if (prefix.size() < 5 || prefix.size() > 100 || prefix.back() == ':') return false;
    const std::string kind = prefix.substr(0, 4);
    if (kind != "iqn." && kind != "eui." && kind != "naa.") return false;
    for (char c : prefix)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':')) return false;
    return true;
}

bool ParsePortal(const std::string& text, std::string& address, int& port) {
    std::string host, portText;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        in6_addr a6;
        char canonical[INET6_ADDRSTRLEN];
        if (inet_pton(AF_INET6, host.c_str(), &a6) != 1 ||
            !inet_ntop(AF_INET6, &a6, canonical, sizeof canonical))
            return false;
        host = canonical;  // as tgtd writes it back
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        in_addr a4;
        if (inet_pton(AF_INET, host.c_str(), &a4) != 1) return false;
    }
    long value = 0;
    if (!Integer(portText, 1, 65535, value)) return false;
    address = host;
    port = static_cast<int>(value);
    return true;
}

bool OneOf(const std::string& text, std::initializer_list<const char*> words) {
    for (const char* word : words)
        if (text == word) return true;
    return false;
}

}  // namespace

std::string TgtConfig::Portal() const {
    const bool v6 = portalAddress.find(':') != std::string::npos;
    return (v6 ? "[" + portalAddress + "]" : portalAddress) + ":" + std::to_string(portalPort);
}

bool LoadTgtConfig(const SettingReader& setting, TgtConfig& config, std::string& error) {
    TgtConfig loaded;
    std::string text;
    auto has = [&](const char* key) { return setting && setting(key, text) && !text.empty(); };
    auto bad = [&](const char* key, const char* what) {
        error = std::string(key) + " \"" + text + "\" is not " + what;
        return false;
    };
    long n = 0;
    if (has("TgtIqnPrefix")) {
        if (!GoodPrefix(text)) return bad("TgtIqnPrefix", "an iSCSI name prefix (iqn./eui./naa., a-z 0-9 . - :, up to 100 bytes)");
        loaded.iqnPrefix = text;
    }
    if (has("TgtPortal") && !ParsePortal(text, loaded.portalAddress, loaded.portalPort))
        return bad("TgtPortal", "ADDRESS:PORT with a numeric IPv4 address or [IPv6]:PORT");
    if (has("TgtControlPort")) {
        if (!Integer(text, 0, 32767, n)) return bad("TgtControlPort", "a number 0..32767 (tgtd's range)");
        loaded.controlPort = static_cast<int>(n);
    }
    if (has("TgtStartDaemon") && !ParseFlag(text, loaded.startDaemon)) return bad("TgtStartDaemon", "true or false");
    if (has("TgtStopOnExit") && !ParseFlag(text, loaded.stopOnExit)) return bad("TgtStopOnExit", "true or false");
    if (has("TgtAdmPath")) {
        if (text[0] != '/') return bad("TgtAdmPath", "an absolute path");
        loaded.tgtadmPath = text;
    }
    if (has("TgtdPath")) {
        if (text[0] != '/') return bad("TgtdPath", "an absolute path");
        loaded.tgtdPath = text;
    }
    if (has("TgtCallTimeoutMs")) {
        if (!Integer(text, 100, 600000, n)) return bad("TgtCallTimeoutMs", "a number of milliseconds 100..600000");
        loaded.callLimit = std::chrono::milliseconds(n);
    }
    if (has("TgtStartTimeoutMs")) {
        if (!Integer(text, 100, 600000, n)) return bad("TgtStartTimeoutMs", "a number of milliseconds 100..600000");
        loaded.startLimit = std::chrono::milliseconds(n);
    }
    if (has("TgtBackingStore")) {
        if (!OneOf(text, {"rdwr", "aio"})) return bad("TgtBackingStore", "rdwr or aio");
        loaded.backingStore = text;
    }
    if (has("TgtBackingStoreFlags")) {
        if (!OneOf(text, {"none", "sync", "direct", "sync:direct"}))
            return bad("TgtBackingStoreFlags", "none, sync, direct or sync:direct");
        loaded.backingFlags = text == "none" ? "" : text;
    }
    if (loaded.backingStore == "aio" && !loaded.backingFlags.empty()) {
        text = loaded.backingFlags;  // tgtd's aio store opens every file O_DIRECT and takes no flags
        return bad("TgtBackingStoreFlags", "none with TgtBackingStore=aio");
    }
    if (has("TgtIoThreads")) {
        if (!Integer(text, 1, 128, n)) return bad("TgtIoThreads", "a number of threads 1..128");
        loaded.ioThreads = static_cast<int>(n);
    }
    if (has("TgtRestoreWaitMs")) {
        if (!Integer(text, 0, 3600000, n)) return bad("TgtRestoreWaitMs", "a number of milliseconds 0..3600000");
        loaded.restoreWait = std::chrono::milliseconds(n);
    }
    if (has("TgtParallelCalls")) {
        if (!Integer(text, 1, 32, n)) return bad("TgtParallelCalls", "a number 1..32");
        loaded.parallelCalls = static_cast<int>(n);
    }
    if (has("TgtClaimDir")) {
        if (text[0] != '/') return bad("TgtClaimDir", "an absolute path");
        loaded.claimDir = text;
    }
    config = loaded;
    return true;
}

}  // namespace zoscsi::tgt
