// Hostile bytes against a real zoscsisrv: every malformed frame or document
// is answered with a protocol error that says what is wrong and the
// connection is closed, before and after a session was presented, while a
// client of good faith on another connection is served throughout, and the
// service's memory stays bounded however often it is fed.
#include "RawPeer.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include "CNSession.h"
#include "ZoScsiServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

using namespace zorel;

namespace {

constexpr uint32_t kRequestLimit = 1u << 20;  // the service's request bound (docs/SERVICE.md)
constexpr int kProtocolErrorNumber = 71;

struct HostileCase {
    const char* name;
    std::string bytes;
    const char* expect;        // part of the protocol error's text; null: the peer hung up, only the close is due
    bool hangUp = false;       // the peer ends its side after the bytes
    bool validFirst = false;   // the bytes start with a valid request, answered before the error
};

std::string Document(const std::string& body) { return "<msg v=\"1\" g=\"75\" id=\"20\">" + body + "</msg>"; }

std::string Framed(const std::string& payload) { return RawFrame(static_cast<uint32_t>(payload.size()), payload); }

std::string Nested(size_t depth) {
    std::string body;
    for (size_t i = 0; i < depth; ++i) body += "<o t=\"1\" k=\"1\" g=\"1\" id=\"1\">";
    for (size_t i = 0; i < depth; ++i) body += "</o>";
    return Document(body);
}

std::string ManyFields(size_t count) {
    std::string body;
    for (size_t i = 0; i < count; ++i) body += "<i t=\"1\" k=\"" + std::to_string(i) + "\" v=\"1\"/>";
    return Document(body);
}

std::vector<HostileCase> Cases() {
    const std::string entityBomb = "<!DOCTYPE msg [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">"
                                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;\">]>" +
                                   Document("<s t=\"1\" k=\"1\">&c;</s>");
    return {
        {"frame length 0", RawFrame(0, ""), "zero length"},
        {"frame length 1", RawFrame(1, "<"), "malformed XML"},
        {"frame length limit + 1", RawFrame(kRequestLimit + 1, "<msg"), "exceeds the limit"},
        {"frame length 0xFFFFFFFF", RawFrame(0xFFFFFFFFu, "<msg"), "exceeds the limit"},
        {"truncated header", std::string("\0\0", 2), nullptr, true},
        {"end of stream mid-body", RawFrame(200, "<msg v=\"1\" g=\"75\""), nullptr, true},
        {"trailing garbage in the payload", Framed(Document("") + "garbage"), "text outside the root"},
        {"garbage after a frame", FrameOf(*IoctlRequest("lt", "-h rel")) + "garbage!", "exceeds the limit", false, true},
        {"invalid UTF-8", Framed(Document("<s t=\"1\" k=\"1\">a\xC3\x28\xFF</s>")), "invalid UTF-8"},
        {"raw NUL byte in a name", Framed(Document(std::string("<s t=\"1\" k=\"1\">a\0b</s>", 22))), "NUL byte"},
        {"raw control character in a name", Framed(Document("<s t=\"1\" k=\"1\">a\x1b[2J</s>")), "control character"},
        {"DOCTYPE with entities", Framed(entityBomb), "entity"},
        {"DOCTYPE without entities", Framed("<!DOCTYPE msg>" + Document("")), "DOCTYPE"},
        {"external entity", Framed("<!DOCTYPE msg [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
                                   Document("<s t=\"1\" k=\"1\">&x;</s>")),
         "entity"},
        {"nesting 200,000 deep", Framed(Nested(200000)), "exceeds the limit"},
        {"nesting one above the bound", Framed(Nested(9)), "nested deeper than 8"},
        {"100,000 fields", Framed(ManyFields(100000)), "exceeds the limit"},
        {"fields one above the bound", Framed(ManyFields(4097)), "more than 4096 fields"},
        {"not XML", Framed("\x01\x02\x03garbage"), "control character"},
        {"wrong protocol version", Framed("<msg v=\"2\" g=\"75\" id=\"7\"/>"), "protocol version"},
    };
}

class HostileInput : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        ServiceOptions options;
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer holds freed memory back for a while, which would
        // pass for growth; its leak check at the exit (below) stands in.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options.environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                                      ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
#endif
        s_service = new ServiceProcess(options);
        std::string error;
        ASSERT_TRUE(s_service->Start(error)) << error;
        PointRegistryAt(*s_service);
        s_bystander = Attach(error).release();
        ASSERT_NE(s_bystander, nullptr) << error;
    }
    static void TearDownTestSuite() {
        delete s_bystander;
        s_bystander = nullptr;
        // A clean stop after all of it (and, under AddressSanitizer, no leak).
        EXPECT_EQ(s_service->Stop(), 0) << s_service->logText();
        delete s_service;
        s_service = nullptr;
    }

protected:
    // The client of good faith creates a target of a new name: it must be
    // served whatever the hostile peers did.
    static void BystanderIsServed(const std::string& tag) {
        static int serial = 0;
        const std::string name = "bystander-" + std::to_string(++serial);
        const Outcome outcome = Classify(s_bystander->AddTarget(TargetRequest(name)));
        EXPECT_EQ(outcome.kind, Outcome::Done) << tag << ": " << outcome.text;
    }

    // Feeds one case on a fresh connection, with or without a session first.
    static void Feed(const HostileCase& c, bool withSession) {
        RawPeer peer;
        ASSERT_TRUE(peer.Connect(s_service->socketPath()));
        if (withSession) {
            ASSERT_TRUE(peer.Handshake(s_service->options().session));
        }
        (void)peer.Send(c.bytes);  // the service may close before it has read everything
        if (c.hangUp) peer.ShutdownWrite();
        if (c.validFirst) {
            std::unique_ptr<CNMessageBase> first = peer.Read();
            ASSERT_NE(first, nullptr) << "the valid request before the garbage is answered";
            EXPECT_EQ(first->Group(), ZoScsiServer::Wire::kGroup);
        }
        if (c.expect) {
            std::unique_ptr<CNMessageBase> answer = peer.Read();
            ASSERT_NE(answer, nullptr) << "no answer";
            EXPECT_EQ(answer->Group(), CNSession::Wire::kGroup);
            EXPECT_EQ(answer->Id(), CNSession::Wire::kProtocolErrorId);
            long long number = 0;
            std::string text;
            ASSERT_TRUE(SessionGroupStatus(*answer, number, text));
            EXPECT_EQ(number, kProtocolErrorNumber);
            EXPECT_NE(text.find(c.expect), std::string::npos) << "the error says: " << text;
        }
        EXPECT_TRUE(peer.Closed()) << "the service closes the connection";
    }

    static ServiceProcess* s_service;
    static ZoScsiSrvClient* s_bystander;
};

ServiceProcess* HostileInput::s_service = nullptr;
ZoScsiSrvClient* HostileInput::s_bystander = nullptr;

TEST_F(HostileInput, EachIsAnsweredWithAClearErrorAndAClosedConnectionWhileOthersAreServed) {
    for (bool withSession : {true, false}) {
        for (const HostileCase& c : Cases()) {
            if (c.validFirst && !withSession) continue;  // a request before the session is refused as such
            const std::string tag = std::string(c.name) + (withSession ? " (after the session)" : " (first frame)");
            SCOPED_TRACE(tag);
            Feed(c, withSession);
            BystanderIsServed(tag);
            ASSERT_TRUE(s_service->Running()) << s_service->logText();
        }
    }
}

TEST_F(HostileInput, NamesWithNulOrLineBreaksInAValidMessageAreRefusedAndNothingIsStored) {
    const std::string names[] = {std::string("bad\0name", 8), "bad\nname", "bad#name", "-bad", "bad name",
                                 std::string("\xff\xfe", 2)};
    for (const std::string& name : names) {
        const Outcome target = Classify(s_bystander->AddTarget(TargetRequest(name)));
        EXPECT_EQ(target.kind, Outcome::Refused) << target.text;
        EXPECT_EQ(target.number, ZoScsiServer::kErrInvalidArgument) << target.text;
    }
    ASSERT_EQ(Classify(s_bystander->AddTarget(TargetRequest("named"))).kind, Outcome::Done);
    int32_t id = 0;
    std::string lunName;
    auto lun = LunRequest("named");
    ASSERT_EQ(Classify(s_bystander->CreateLun(lun, lunName, id)).kind, Outcome::Done);
    for (const std::string& host : {std::string("h\0st", 4), std::string("h\nst"), std::string("h#st"),
                                    std::string("-host"), std::string("h st"), std::string("h\x7fst")}) {
        const Outcome mapped = Classify(s_bystander->MapHost(MapRequest("named", id, host)));
        EXPECT_EQ(mapped.kind, Outcome::Refused) << mapped.text;
        EXPECT_EQ(mapped.number, ZoScsiServer::kErrInvalidArgument) << mapped.text;
    }
    std::string error;
    const std::vector<std::string> records = ListingRecords(*s_bystander, error);
    EXPECT_TRUE(error.empty()) << error;
    for (const std::string& record : records) {
        EXPECT_EQ(record.find('\0'), std::string::npos);
        EXPECT_EQ(record.find('\n'), std::string::npos);
    }
    EXPECT_NE(std::find(records.begin(), records.end(), "named - " + std::to_string(id)), records.end());
}

TEST_F(HostileInput, MemoryStaysBoundedHoweverOftenItIsFed) {
    constexpr int kPasses = 6;
    std::vector<long> rss;
    rss.push_back(s_service->RssKiB());
    for (int pass = 0; pass < kPasses; ++pass) {
        for (const HostileCase& c : Cases()) Feed(c, true);
        rss.push_back(s_service->RssKiB());
    }
    BystanderIsServed("after the passes");
    std::string figures;
    for (long kib : rss) figures += std::to_string(kib) + " ";
    std::printf("VmRSS (KiB) before and after each of %d passes of %zu hostile inputs: %s\n", kPasses, Cases().size(),
                figures.c_str());
    RecordProperty("rss_kib", figures);
    // The first pass may grow the allocator's pools; later passes must not.
    EXPECT_LT(rss.back() - rss[1], 8 * 1024) << figures;
    EXPECT_LT(rss.back(), 256 * 1024) << figures;
}

// The largest requests the service takes, from many connections at once:
// what it holds is bounded by connections x request bound, and is given back.
TEST_F(HostileInput, ManyLargestRequestsAtOnceCostBoundedMemory) {
    constexpr int kPeers = 64;
    namespace W = ZoScsiServer::Wire;
    std::unique_ptr<CNMessageBase> message = ServiceRequest(W::kCreateTarget);
    message->setstring(W::kTargetName.first, W::kTargetName.second, std::string(kRequestLimit - 400, 'a'),
                       W::kCreateTarget.requestType, W::kTargetName.key);
    const std::string frame = FrameOf(*message);
    ASSERT_LE(frame.size() - 4, kRequestLimit);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < kPeers; ++i) {
        peers.push_back(std::make_unique<RawPeer>());
        ASSERT_TRUE(peers.back()->Connect(s_service->socketPath()));
        ASSERT_TRUE(peers.back()->Handshake(s_service->options().session));
    }
    const long before = s_service->RssKiB();
    std::atomic<bool> sending{true};
    std::atomic<long> peak{before};
    std::thread sampler([&] {
        while (sending) {
            peak = std::max(peak.load(), s_service->RssKiB());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<std::thread> senders;
    std::atomic<int> answered{0};
    for (auto& peer : peers)
        senders.emplace_back([&, raw = peer.get()] {
            if (raw->Send(frame) && raw->Read(20000)) ++answered;
        });
    for (std::thread& sender : senders) sender.join();
    sending = false;
    sampler.join();
    peers.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long after = s_service->RssKiB();
    std::printf("%d requests of %zu bytes at once: VmRSS %ld KiB before, peak %ld KiB, %ld KiB after\n", kPeers,
                frame.size(), before, peak.load(), after);
    EXPECT_EQ(answered.load(), kPeers) << "each is answered (the name is refused as too long)";
    EXPECT_LT(peak.load() - before, kPeers * 8 * 1024L) << "at most a few times the request bound per connection";
    BystanderIsServed("after the large requests");
}

}  // namespace
