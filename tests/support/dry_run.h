// What quorvane-plan --json says the board will be sent for a file, read back from its output:
// per row the report bytes 0..11 of every report and the positions after the row.
#pragma once

#include "tools/plan_tool.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using ReportBytes = std::array<int, 12>;

struct DryRunRow {
    std::vector<ReportBytes> reports;
    std::array<std::string, 3> position;
    bool approach = false; // a move of the approach before the row "Run from here" starts on
};

// `fromRow`: as "Run from here" on that row (from 1) with the displays at the load position.
inline std::vector<DryRunRow> DryRun(const std::string& gcodePath,
                                     const std::string& configPath = {}, std::size_t fromRow = 0) {
    tools::PlanOptions options;
    options.json = true;
    options.gcodePath = gcodePath;
    options.configPath = configPath;
    options.fromRow = fromRow;
    tools::StringSink out;
    tools::StringSink err;
    tools::RunPlan(options, out, err);
    EXPECT_EQ(err.text_, "");
    std::vector<DryRunRow> rows;
    std::istringstream lines(out.text_);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t reports = line.find("\"reports\": [");
        const std::size_t position = line.find("\"position\": [");
        if (reports == std::string::npos || position == std::string::npos) {
            continue;
        }
        DryRunRow row;
        row.approach = line.starts_with("{\"approach\"");
        const char* p = line.c_str() + reports + 12;
        while (*p != ']') {
            if (*p == '[') {
                ReportBytes bytes{};
                char* end = nullptr;
                ++p;
                for (int& b : bytes) {
                    b = static_cast<int>(std::strtol(p, &end, 10));
                    p = end + (*end == ',' ? 1 : 0);
                }
                row.reports.push_back(bytes);
            }
            ++p;
        }
        std::size_t q = position + 13;
        for (std::string& axis : row.position) {
            const std::size_t open = line.find('"', q);
            const std::size_t close = line.find('"', open + 1);
            axis = line.substr(open + 1, close - open - 1);
            q = close + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

inline std::vector<ReportBytes> AllReports(const std::vector<DryRunRow>& rows) {
    std::vector<ReportBytes> all;
    for (const DryRunRow& row : rows) {
        all.insert(all.end(), row.reports.begin(), row.reports.end());
    }
    return all;
}
