#include "checks.h"

#include "lives.h"

// Random lives, one after another, each in a session of its own; the first that fails is
// written as a scenario that replays it.
std::string randomSequences(const CheckContext& context) {
    Randomness rnd(context.seed, learnWords(*context.plugin));
    for (int i = 0; i < context.iterations; ++i) {
        const Life life = randomLife(rnd);
        LifeRun run(context.plugin, life);
        run.finish();
        if (!run.problem().empty()) {
            const std::string problem = "life " + std::to_string(i) + ", " + run.problem();
            const std::string replay = writeReplay(life, context.pluginPath, context.seed, i,
                                                   run.failedStep(), run.problem());
            return problem + (replay.empty()
                                  ? ""
                                  : "\n        replay: vorn-host run --plugin " +
                                        shellWord(context.pluginPath) + " " + shellWord(replay));
        }
    }
    return {};
}
