#include "checks.h"

#include "lives.h"
#include "sandbox.h"
#include "session.h"

namespace {
std::string join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += "  " + l + "\n";
    return all;
}
} // namespace

// Components made and deleted in a row, each in a session of its own: every life with the same
// folder sends the same commands, so nothing is carried over from one to the next.
CheckFinding createDeleteInARow(const CheckContext& context) {
    std::vector<std::string> first[2];
    for (int i = 0; i < 1000; ++i) {
        sandboxProgress();
        const std::string where = "life " + std::to_string(i) + ": ";
        Session session(context.plugin, Facility());
        std::vector<std::string> commands;
        auto take = [&](const std::vector<StepFailure>& failures) {
            for (const HostEvent& e : session.members().front().host->events)
                if (e.kind == HostEvent::Command) commands.push_back(e.text);
            return failures.empty() ? std::string() : where + failures.front().text();
        };
        std::string problem = take(session.apply(Step{steps::Create{i % 2 ? "" : "p"}, "", 0}));
        if (problem.empty()) problem = take(session.end());
        if (!problem.empty()) return problem;
        if (i < 2)
            first[i] = commands;
        else if (commands != first[i % 2])
            return where + "commands differ from the first such life; expected:\n" +
                   join(first[i % 2]) + "  actual:\n" + join(commands);
    }
    return {};
}
