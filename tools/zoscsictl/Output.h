// Rendering of outcomes: aligned tables and plain lines for people, one JSON
// document for scripts, the error's one-line rendering on standard error.
#pragma once

#include "DetailedListing.h"
#include "Outcome.h"
#include "ZoScsiSrvClient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zoctl {

// Columns separated by two blanks, each as wide as its widest cell; the last
// column is not padded. Control bytes in cells are shown as \xNN.
std::string RenderTable(const Table& table);

// "2026-12-09 10:01:02" (UTC); "-" for 0 (a time the listing did not carry)
// or a value outside the calendar.
std::string FormatUtc(int64_t epochSeconds);
// "2026-12-09T10:01:02Z", or null like FormatUtc's "-".
Json IsoUtc(int64_t epochSeconds);

// A listing as the table TARGET LUN HOST CREATED, and as a JSON array of
// {"target","lun","host","created","created_utc"}.
Table LunTable(const std::vector<ZoScsiSrvClient::LunInfo>& luns);
Json LunArray(const std::vector<ZoScsiSrvClient::LunInfo>& luns);

// A size in binary units, one decimal when it is not whole: "512 B",
// "64 MiB", "1.5 GiB".
std::string HumanSize(uint64_t bytes);

// The detailed listing as the table TARGET LUN HOST STATE SIZE BYTES EXPORT
// CREATED, and as a JSON array of the same (docs/CLI.md).
Table LunDetailTable(const std::vector<LunDetail>& luns);
Json LunDetailArray(const std::vector<LunDetail>& luns);

// Targets with their counts: TARGET LUNS OPEN MAPPINGS CREATED.
Table TargetTable(const std::vector<TargetDetail>& targets);
Json TargetArray(const std::vector<TargetDetail>& targets);

// The "error" member of a failed --json document.
Json ErrorObject(const CYbError& error, ExitCode exit);

struct Printed {
    int exitCode = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

// The whole output of `command` (its words, "lun create") and its exit code.
// The --json document is the envelope {"ok", "command", "result" | "error"}.
Printed Render(const Outcome& outcome, const std::string& command, bool asJson);
// A command line that could not be parsed; `command` is empty when no
// command word was recognised (null in the document).
Printed RenderUsageError(const std::string& message, const std::string& command, bool asJson);

}  // namespace zoctl
