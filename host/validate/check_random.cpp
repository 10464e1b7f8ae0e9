#include "checks.h"

#include "lives.h"

// Random lives, one after another, each in a session of its own.
std::vector<Trial> randomSequences(const CheckContext& context) {
    Randomness rnd(context.seed, learnWords(*context.plugin));
    std::vector<Trial> trials;
    for (int i = 0; i < context.iterations; ++i) {
        Trial trial;
        trial.lives.push_back(randomLife(rnd));
        trial.lives.back().name = "life " + std::to_string(i);
        trials.push_back(std::move(trial));
    }
    return trials;
}
