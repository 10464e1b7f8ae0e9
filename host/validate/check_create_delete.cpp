#include "checks.h"

#include "lives.h"
#include "sandbox.h"
#include "session.h"

#include <fstream>

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

// Components made and deleted while their configuration file changes between them, as a
// facility engineer edits vorn.ini while panels run: each life starts by naming a file written
// for it, with its instances labelled otherwise (no label, short, long, other bytes, a
// quotation mark). A component reads the file as it is when it is made.
std::vector<Trial> changingConfiguration(const CheckContext& context) {
    static const std::string labels[] = {"", "Studio A", std::string(200, 'x'), "Régie é€ ü",
                                         "it's on air"};
    Randomness rnd(context.seed ^ 0xc0f1, learnWords(*context.plugin));
    Trial trial;
    for (int i = 0; i < 15; ++i) {
        Life life = randomLife(rnd);
        life.name = "life " + std::to_string(i);
        const std::string file = temporaryFolder() + "/vorn-validate-config-" +
                                 std::to_string(context.seed) + "-" + std::to_string(i) + ".ini";
        std::ofstream out(file);
        out << "# vorn-host validate: the configuration of " << life.name
            << " of the check 'changing-config'\n";
        writeInstances(out, life.facility, labels[i % 5]);
        life.steps.insert(life.steps.begin(), Step{steps::Config{file}, "", 0});
        trial.lives.push_back(std::move(life));
    }
    return {trial};
}
