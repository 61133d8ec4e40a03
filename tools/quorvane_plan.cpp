// quorvane-plan [--config FILE] [--json] GCODEFILE: see tools/plan_tool.h.
#include "tools/plan_tool.h"

#include <cstdio>

namespace {

// --help and --version go to standard output; a failed write is still an error.
int printAnswer(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        std::fputs("quorvane-plan: could not write the output\n", stderr);
        return tools::PlanExitUsage;
    }
    return tools::PlanExitDone;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    tools::PlanOptions options;
    std::string error;
    if (!tools::ParsePlanArguments(args, options, error)) {
        if (error.empty()) {
            return printAnswer(options.version ? tools::PlanVersion() : tools::PlanUsage());
        }
        std::fprintf(stderr, "quorvane-plan: %s\n%s", error.c_str(), tools::PlanUsage().c_str());
        return tools::PlanExitUsage;
    }
    tools::FileSink out(stdout);
    tools::FileSink err(stderr);
    const int status = tools::RunPlan(options, out, err);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("quorvane-plan: could not write the output\n", stderr);
        return tools::PlanExitUsage;
    }
    return status;
}
