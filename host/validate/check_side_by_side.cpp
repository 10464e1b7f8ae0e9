#include "checks.h"

#include "lives.h"

namespace {

Trial livesOf(const CheckContext& context, std::uint64_t seed, int count, Trial::Mode mode) {
    Randomness rnd(seed, learnWords(*context.plugin));
    Trial trial;
    trial.mode = mode;
    for (int i = 0; i < count; ++i) {
        trial.lives.push_back(randomLife(rnd));
        trial.lives.back().name = "component " + std::to_string(i);
    }
    return trial;
}

} // namespace

// Lives run side by side, each in its own host, a step of each in turn; deleted in an order
// unrelated to creation.
std::vector<Trial> manyAlive(const CheckContext& context) {
    return {livesOf(context, context.seed ^ 0x5a5a, 50, Trial::Mode::SideBySide)};
}

// The same, then each life again alone: a component beside others does what it does alone.
std::vector<Trial> independence(const CheckContext& context) {
    return {livesOf(context, context.seed ^ 0xa5a5, 8, Trial::Mode::AloneAndBeside)};
}

// Each life twice, in sessions of their own: the same life gives the same transcript.
std::vector<Trial> determinism(const CheckContext& context) {
    std::vector<Trial> trials;
    for (Life& life :
         livesOf(context, context.seed ^ 0xd0d0, 20, Trial::Mode::AloneAndBeside).lives) {
        Trial trial;
        trial.mode = Trial::Mode::AloneAndBeside; // one life beside none, then alone: twice
        life.name = "life " + std::to_string(trials.size());
        trial.lives.push_back(std::move(life));
        trials.push_back(std::move(trial));
    }
    return trials;
}
