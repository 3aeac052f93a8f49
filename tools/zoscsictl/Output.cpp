#include "Output.h"

#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>

namespace zoctl {

namespace {

constexpr const char* kProgram = "zoscsictl: ";

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool ToUtc(int64_t epochSeconds, std::tm& tm) {
    if (epochSeconds == 0) return false;
    const std::time_t t = static_cast<std::time_t>(epochSeconds);
    return gmtime_r(&t, &tm) != nullptr && tm.tm_year + 1900 <= 9999 && tm.tm_year + 1900 >= 0;
}

std::string Strftime(int64_t epochSeconds, const char* format) {
    std::tm tm{};
    if (!ToUtc(epochSeconds, tm)) return std::string();
    char buf[32];
    return std::strftime(buf, sizeof buf, format, &tm) ? std::string(buf) : std::string();
}

// A LUN as the service named it: a number when it is one, else the text.
Json LunValue(const std::string& lun) {
    if (!lun.empty() && lun.size() <= 18 && lun.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<long long>(std::strtoll(lun.c_str(), nullptr, 10));
    return lun;
}

Json Envelope(bool ok, const std::string& command) {
    Json doc = Json::object();
    doc["ok"] = ok;
    doc["command"] = command.empty() ? Json() : Json(command);
    return doc;
}

const char* SpaceName(FXErrorSpace space) {
    switch (space) {
    case FXErrorSpace::ErrNo: return "errno";
    case FXErrorSpace::Launch: return "launch";
    case FXErrorSpace::Host: break;
    }
    return "host";
}

}  // namespace

std::string RenderTable(const Table& table) {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(table.rows.size() + 1);
    cells.push_back(table.header);
    for (const auto& row : table.rows) {
        std::vector<std::string> shown;
        for (const auto& cell : row) shown.push_back(Printable(cell));
        cells.push_back(std::move(shown));
    }
    std::vector<size_t> widths(table.header.size(), 0);
    for (const auto& row : cells)
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());

    std::string out;
    for (const auto& row : cells) {
        std::string line;
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            if (i) line += "  ";
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size(), ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

std::string FormatUtc(int64_t epochSeconds) {
    const std::string text = Strftime(epochSeconds, "%Y-%m-%d %H:%M:%S");
    return text.empty() ? "-" : text;
}

Json IsoUtc(int64_t epochSeconds) {
    const std::string text = Strftime(epochSeconds, "%Y-%m-%dT%H:%M:%SZ");
    return text.empty() ? Json() : Json(text);
}

Table LunTable(const std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    Table table{{"TARGET", "LUN", "HOST", "CREATED (UTC)"}, {}};
    for (const auto& lun : luns)
        table.rows.push_back({lun.target, lun.lun, lun.host.empty() ? "-" : lun.host, FormatUtc(lun.creationTime)});
    return table;
}

Json LunArray(const std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    Json array = Json::array();
    for (const auto& lun : luns) {
        array.push_back({{"target", lun.target},
                         {"lun", LunValue(lun.lun)},
                         {"host", lun.host.empty() ? Json() : Json(lun.host)},
                         {"created", lun.creationTime == 0 ? Json() : Json(lun.creationTime)},
                         {"created_utc", IsoUtc(lun.creationTime)}});
    }
    return array;
}

std::string HumanSize(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    long double value = static_cast<long double>(bytes);
    size_t unit = 0;
    // The unit in which the value, rounded to a tenth, stays below 1024.
    while (unit + 1 < std::size(kUnits) && std::round(value * 10) / 10 >= 1024) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0Lf" : "%.1Lf", value);
    std::string shown(text);
    if (shown.size() > 2 && shown.compare(shown.size() - 2, 2, ".0") == 0) shown.resize(shown.size() - 2);
    return shown + " " + kUnits[unit];
}

Table LunDetailTable(const std::vector<LunDetail>& luns) {
    Table table{{"TARGET", "LUN", "HOST", "STATE", "SIZE", "BYTES", "EXPORT", "CREATED (UTC)"}, {}};
    for (const auto& lun : luns)
        table.rows.push_back({lun.target, lun.lun, lun.host.empty() ? "-" : lun.host, lun.open ? "open" : "closed",
                              HumanSize(lun.sizeBytes), std::to_string(lun.sizeBytes),
                              lun.exportedAt.empty() ? "-" : lun.exportedAt, FormatUtc(lun.created)});
    return table;
}

Json LunDetailArray(const std::vector<LunDetail>& luns) {
    Json array = Json::array();
    for (const auto& lun : luns) {
        Json exported;
        if (!lun.exportedAt.empty()) exported = {{"initiator", lun.host}, {"target_iqn", lun.exportedAt}};
        array.push_back({{"target", lun.target},
                         {"lun", LunValue(lun.lun)},
                         {"host", lun.host.empty() ? Json() : Json(lun.host)},
                         {"created", lun.created == 0 ? Json() : Json(lun.created)},
                         {"created_utc", IsoUtc(lun.created)},
                         {"size_bytes", lun.sizeBytes},
                         {"state", lun.open ? "open" : "closed"},
                         {"export", std::move(exported)}});
    }
    return array;
}

Table TargetTable(const std::vector<TargetDetail>& targets) {
    Table table{{"TARGET", "LUNS", "OPEN", "MAPPINGS", "CREATED (UTC)"}, {}};
    for (const auto& t : targets)
        table.rows.push_back({t.name, std::to_string(t.luns), std::to_string(t.openLuns), std::to_string(t.mappings),
                              FormatUtc(t.created)});
    return table;
}

Json TargetArray(const std::vector<TargetDetail>& targets) {
    Json array = Json::array();
    for (const auto& t : targets)
        array.push_back({{"name", t.name},
                         {"luns", t.luns},
                         {"open_luns", t.openLuns},
                         {"mappings", t.mappings},
                         {"created", t.created == 0 ? Json() : Json(t.created)},
                         {"created_utc", IsoUtc(t.created)}});
    return array;
}

Json ErrorObject(const CYbError& error, ExitCode exit) {
    Json trail = Json::array();
    for (const auto& frame : error.Trail())
        trail.push_back({{"file", frame.file}, {"function", frame.function}, {"line", frame.line}, {"text", frame.text}});
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", error.Code());
    const auto refusal = ServiceErrorOf(error);
    return {{"kind", ExitKind(exit)},
            {"exit", static_cast<int>(exit)},
            {"code", error.Code()},
            {"hex", hex},
            {"space", SpaceName(error.Space())},
            {"service_error", refusal ? Json(refusal->number) : Json()},
            {"service_text", refusal ? Json(refusal->text) : Json()},
            {"message", error.Message()},
            {"trail", std::move(trail)},
            {"text", error.ToString()}};
}

Printed Render(const Outcome& outcome, const std::string& command, bool asJson) {
    Printed printed;
    if (outcome.error.IsError()) {
        const ExitCode exit = ClassifyError(outcome.error, outcome.stage);
        printed.exitCode = exit;
        printed.err = kProgram + outcome.error.ToString() + "\n";
        // The reload and the listings keep a fixed message: the service's
        // reason is shown beside it.
        const auto refusal = ServiceErrorOf(outcome.error);
        if (refusal && !refusal->text.empty() && outcome.error.Message().find(refusal->text) == std::string::npos)
            printed.err += kProgram + std::string("the service answered ") + std::to_string(refusal->number) + ": " +
                           Printable(refusal->text) + "\n";
        if (asJson) {
            Json doc = Envelope(false, command);
            doc["error"] = ErrorObject(outcome.error, exit);
            printed.out = Dump(doc) + "\n";
        }
        return printed;
    }
    if (asJson) {
        Json doc = Envelope(true, command);
        doc["result"] = outcome.result;
        printed.out = Dump(doc) + "\n";
        return printed;
    }
    if (outcome.table) printed.out += RenderTable(*outcome.table);
    for (const auto& line : outcome.lines) printed.out += Printable(line) + "\n";
    return printed;
}

Printed RenderUsageError(const std::string& message, const std::string& command, bool asJson) {
    Printed printed;
    printed.exitCode = kExitUsage;
    printed.err = kProgram + message + "\n";
    if (asJson) {
        Json doc = Envelope(false, command);
        doc["error"] = {{"kind", ExitKind(kExitUsage)}, {"exit", static_cast<int>(kExitUsage)}, {"message", message}};
        printed.out = Dump(doc) + "\n";
    }
    return printed;
}

}  // namespace zoctl
