// zo::DecodeMessage and zo::EncodeMessage. Two kinds of input:
//   - XML (first byte above 0x08): decoded within small limits. When it is
//     accepted, decode(encode(decode(x))) must equal decode(x) field for
//     field, and encoding that again must give the same bytes. When it is
//     refused, the reason must be said.
//   - a build script (first byte 0x00..0x08): the bytes drive the writers of
//     CNMessageBase (integers, arbitrary byte strings, lists, nested
//     objects); the message must come back from its own encoding unchanged,
//     whatever bytes its strings hold.
#include "FuzzSupport.h"
#include "CNMessageBase.h"
#include "zo/XmlCodec.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool Same(const CNMessageBase& a, const CNMessageBase& b) {
    if (a.Group() != b.Group() || a.Id() != b.Id() || a.Fields().size() != b.Fields().size()) return false;
    for (size_t i = 0; i < a.Fields().size(); ++i) {
        const CNField& x = a.Fields()[i];
        const CNField& y = b.Fields()[i];
        if (x.kind != y.kind || x.typeKey != y.typeKey || x.fieldKey != y.fieldKey || x.pairFirst != y.pairFirst ||
            x.pairSecond != y.pairSecond)
            return false;
        switch (x.kind) {
            case CNFieldKind::Int64: if (x.i64 != y.i64) return false; break;
            case CNFieldKind::String: if (x.str != y.str) return false; break;
            case CNFieldKind::StringList: if (x.list != y.list) return false; break;
            case CNFieldKind::Object:
                if (!x.object || !y.object || !Same(*x.object, *y.object)) return false;
                break;
        }
    }
    return true;
}

// The round trip of an accepted message. Encoding may grow the text (hex
// strings), so the second decode has room for it; depth and field count
// cannot grow.
void CheckRoundTrip(const CNMessageBase& message, zo::DecodeLimits limits) {
    std::string encoded;
    zo::EncodeMessage(message, encoded);
    limits.maxFrameBytes = encoded.size() + 1;
    std::string error;
    std::unique_ptr<CNMessageBase> again = zo::DecodeMessage(encoded.data(), encoded.size(), limits, error);
    if (!again) {
        std::fprintf(stderr, "re-decode refused: %s\n%s\n", error.c_str(), encoded.c_str());
        ZO_FUZZ_CHECK(again != nullptr);
    }
    ZO_FUZZ_CHECK(Same(message, *again));
    std::string twice;
    zo::EncodeMessage(*again, twice);
    ZO_FUZZ_CHECK(twice == encoded);
    ZO_FUZZ_CHECK(!zo::DescribeMessage(*again).empty());
}

class Script {
public:
    Script(const uint8_t* data, size_t size) : m_at(data), m_end(data + size) {}
    bool More() const { return m_at < m_end; }
    uint8_t Byte() { return More() ? *m_at++ : 0; }
    std::string Bytes(size_t n) {
        n = std::min<size_t>(n, static_cast<size_t>(m_end - m_at));
        std::string out(reinterpret_cast<const char*>(m_at), n);
        m_at += n;
        return out;
    }
    long long Int() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | Byte();
        return static_cast<long long>(v);
    }

private:
    const uint8_t* m_at;
    const uint8_t* m_end;
};

constexpr unsigned kBuildDepth = 12;

// Keys come from few values so that writes often hit an existing field.
void Build(Script& script, CNMessageBase& message, unsigned depth) {
    while (script.More()) {
        const uint8_t op = script.Byte();
        const short pair = static_cast<short>(static_cast<int8_t>(script.Byte()));
        const unsigned long type = 0x4B000000ul | (script.Byte() & 0x7);
        const unsigned key = script.Byte() & 0xF;
        switch (op % 5) {
            case 0: message.setint64(pair, pair, script.Int(), type, key); break;
            case 1: message.setstring(pair, pair, script.Bytes(script.Byte()), type, key); break;
            case 2: {
                std::vector<std::string> items(script.Byte() % 8);
                for (std::string& item : items) item = script.Bytes(script.Byte() % 32);
                message.setliststring(pair, pair, std::move(items), type, key);
                break;
            }
            case 3: {
                if (depth >= kBuildDepth) break;
                CNMessageBase* object = message.getObjectAccessor(true, true, pair, pair, type, key, 75, op);
                if (object) Build(script, *object, depth + 1);
                break;
            }
            default: return;  // closes the current object
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zofuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] <= 0x08) {
        Script script(data + 1, size - 1);
        CNMessageBase message(75, data[0]);
        Build(script, message, 0);
        zo::DecodeLimits roomy;
        roomy.maxDepth = kBuildDepth + 1;
        CheckRoundTrip(message, roomy);
        return 0;
    }
    zo::DecodeLimits limits;
    limits.maxFrameBytes = 1u << 20;
    limits.maxDepth = 6;
    limits.maxFields = 2048;
    std::string error;
    std::unique_ptr<CNMessageBase> message =
        zo::DecodeMessage(reinterpret_cast<const char*>(data), size, limits, error);
    if (!message) {
        ZO_FUZZ_CHECK(!error.empty());
        return 0;
    }
    CheckRoundTrip(*message, limits);
    return 0;
}
