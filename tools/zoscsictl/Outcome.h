// What a command hands back to be printed: the error (or success), the human
// rendering (an optional table, then plain lines) and the `result` member of
// the --json document.
#pragma once

#include "CYbError.h"
#include "ExitCodes.h"
#include "Json.h"

#include <optional>
#include <string>
#include <vector>

namespace zoctl {

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

struct Outcome {
    CYbError error;
    Stage stage = Stage::Operation;
    std::optional<Table> table;
    std::vector<std::string> lines;
    Json result = Json::object();

    static Outcome Failed(const CYbError& error, Stage stage = Stage::Operation) {
        Outcome o;
        o.error = error;
        o.stage = stage;
        return o;
    }
};

}  // namespace zoctl
