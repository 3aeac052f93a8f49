#include "Output.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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
json::Value LunValue(const std::string& lun) {
    if (!lun.empty() && lun.size() <= 18 &&
        lun.find_first_not_of("0123456789") == std::string::npos) {
        return json::Value(static_cast<long long>(std::strtoll(lun.c_str(), nullptr, 10)));
    }
    return json::Value(lun);
}

const char* SpaceName(FXErrorSpace space) { return space == FXErrorSpace::ErrNo ? "errno" : "host"; }

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

json::Value IsoUtc(int64_t epochSeconds) {
    const std::string text = Strftime(epochSeconds, "%Y-%m-%dT%H:%M:%SZ");
    return text.empty() ? json::Value() : json::Value(text);
}

Table LunTable(const std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    Table table{{"TARGET", "LUN", "HOST", "CREATED (UTC)"}, {}};
    for (const auto& lun : luns)
        table.rows.push_back({lun.target, lun.lun, lun.host.empty() ? "-" : lun.host, FormatUtc(lun.creationTime)});
    return table;
}

json::Value LunArray(const std::vector<ZoScsiSrvClient::LunInfo>& luns) {
    json::Value array = json::Value::Array();
    for (const auto& lun : luns) {
        json::Value item = json::Value::Object();
        item.Set("target", lun.target);
        item.Set("lun", LunValue(lun.lun));
        item.Set("host", lun.host.empty() ? json::Value() : json::Value(lun.host));
        item.Set("created", lun.creationTime == 0 ? json::Value() : json::Value(lun.creationTime));
        item.Set("created_utc", IsoUtc(lun.creationTime));
        array.Push(std::move(item));
    }
    return array;
}

json::Value ErrorObject(const CYbError& error, ExitCode exit) {
    json::Value trail = json::Value::Array();
    for (const auto& frame : error.Trail()) {
        json::Value f = json::Value::Object();
        f.Set("file", frame.file);
        f.Set("function", frame.function);
        f.Set("line", frame.line);
        f.Set("text", frame.text);
        trail.Push(std::move(f));
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", error.Code());
    const auto number = ServiceErrorNumber(error.Message());

    json::Value object = json::Value::Object();
    object.Set("kind", ExitKind(exit));
    object.Set("exit", static_cast<int>(exit));
    object.Set("code", error.Code());
    object.Set("hex", hex);
    object.Set("space", SpaceName(error.Space()));
    object.Set("service_error", number ? json::Value(*number) : json::Value());
    object.Set("message", error.Message());
    object.Set("trail", std::move(trail));
    object.Set("text", error.ToString());
    return object;
}

Printed Render(const Outcome& outcome, bool asJson) {
    Printed printed;
    if (outcome.error.IsError()) {
        const ExitCode exit = ClassifyError(outcome.error, outcome.stage);
        printed.exitCode = exit;
        printed.err = kProgram + outcome.error.ToString() + "\n";
        if (asJson) {
            json::Value doc = json::Value::Object();
            doc.Set("ok", false);
            doc.Set("error", ErrorObject(outcome.error, exit));
            printed.out = doc.Dump() + "\n";
        }
        return printed;
    }
    if (asJson) {
        json::Value doc = json::Value::Object();
        doc.Set("ok", true);
        doc.Merge(outcome.data);
        printed.out = doc.Dump() + "\n";
        return printed;
    }
    if (outcome.table) printed.out += RenderTable(*outcome.table);
    for (const auto& line : outcome.lines) printed.out += Printable(line) + "\n";
    return printed;
}

Printed RenderUsageError(const std::string& message, bool asJson) {
    Printed printed;
    printed.exitCode = kExitUsage;
    printed.err = kProgram + message + "\n";
    if (asJson) {
        json::Value error = json::Value::Object();
        error.Set("kind", ExitKind(kExitUsage));
        error.Set("exit", static_cast<int>(kExitUsage));
        error.Set("message", message);
        json::Value doc = json::Value::Object();
        doc.Set("ok", false);
        doc.Set("error", std::move(error));
        printed.out = doc.Dump() + "\n";
    }
    return printed;
}

}  // namespace zoctl
