// FakeTgtAdm: scripts helpers/FakeTgtAdm.cpp through its environment and
// reads back the argument vectors it was called with.
#pragma once

#include "backend/tgt/TgtAdm.h"
#include "service/TempFolder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef ZO_FAKE_TGTADM
#error "ZO_FAKE_TGTADM names the fake's path"
#endif

class FakeTgtAdm {
public:
    FakeTgtAdm() {
        Clear();
        ::setenv("ZO_FAKE_LOG", (m_folder / "calls").c_str(), 1);
    }
    ~FakeTgtAdm() {
        Clear();
        ::unsetenv("ZO_FAKE_LOG");
    }
    FakeTgtAdm(const FakeTgtAdm&) = delete;
    FakeTgtAdm& operator=(const FakeTgtAdm&) = delete;

    static std::string Path() { return ZO_FAKE_TGTADM; }
    const TempFolder& folder() const { return m_folder; }

    void Mode(const char* mode) { ::setenv("ZO_FAKE_MODE", mode, 1); }
    void Targets(const std::string& text) { Answer("ZO_FAKE_TARGETS", "targets", text); }
    void Portals(const std::string& text) { Answer("ZO_FAKE_PORTALS", "portals", text); }
    // Calls with an argument containing `needle` fail (the first `times` only, when given).
    void FailOn(const std::string& needle, const std::string& message, int times = -1) {
        ::setenv("ZO_FAKE_FAIL_ON", needle.c_str(), 1);
        ::setenv("ZO_FAKE_FAIL_MESSAGE", message.c_str(), 1);
        if (times >= 0) ::setenv("ZO_FAKE_FAIL_TIMES", std::to_string(times).c_str(), 1);
    }

    // Every call but a show takes `ms` longer.
    void Delay(int ms) { ::setenv("ZO_FAKE_DELAY_MS", std::to_string(ms).c_str(), 1); }

    zoscsi::tgt::TgtAdm Adm(int controlPort = 7, int limitMs = 5000) const {
        return zoscsi::tgt::TgtAdm({Path(), controlPort, std::chrono::milliseconds(limitMs)});
    }

    // Every call so far, argv[0] included.
    std::vector<std::vector<std::string>> Calls() const {
        std::ifstream log(m_folder / "calls", std::ios::binary);
        std::vector<std::vector<std::string>> calls;
        std::vector<std::string> call;
        while (log.peek() != EOF) {
            if (log.peek() == '\n') {
                log.get();
                calls.push_back(call);
                call.clear();
                continue;
            }
            size_t length = 0;
            char colon = 0;
            log >> length;
            log.get(colon);
            std::string arg(length, '\0');
            log.read(arg.data(), static_cast<std::streamsize>(length));
            call.push_back(arg);
        }
        return calls;
    }

    // The calls, each without argv[0] and the control port and driver words,
    // joined by spaces: "--mode target --op new --tid=1 ...".
    std::vector<std::string> Requests() const {
        std::vector<std::string> requests;
        for (const std::vector<std::string>& call : Calls()) {
            std::string text;
            for (size_t i = 3; i < call.size(); ++i) text += (i > 3 ? " " : "") + call[i];
            requests.push_back(text);
        }
        return requests;
    }

private:
    void Answer(const char* variable, const char* file, const std::string& text) {
        std::ofstream(m_folder / file, std::ios::binary) << text;
        ::setenv(variable, (m_folder / file).c_str(), 1);
    }
    static void Clear() {
        for (const char* name : {"ZO_FAKE_MODE", "ZO_FAKE_TARGETS", "ZO_FAKE_PORTALS", "ZO_FAKE_FAIL_ON",
                                 "ZO_FAKE_FAIL_MESSAGE", "ZO_FAKE_FAIL_TIMES", "ZO_FAKE_DELAY_MS"})
            ::unsetenv(name);
    }

    TempFolder m_folder;
};
