#include "checks.h"

#include "lives.h"

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

// Lives run side by side, each in its own host, a step of each in turn; deleted in an order
// unrelated to creation.
std::string interleaved(const CheckContext& context, const std::vector<Life>& lives,
                        std::vector<std::unique_ptr<LifeRun>>& runs) {
    for (const Life& life : lives)
        runs.push_back(std::make_unique<LifeRun>(context.plugin, life));
    // Turns in a scattered order that still visits every run: a stride with no factor in
    // common with their number.
    std::size_t stride = 17;
    while (std::gcd(stride, runs.size()) != 1)
        ++stride;
    for (bool more = true; more;) {
        more = false;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            LifeRun& run = *runs[(k * stride) % runs.size()];
            if (run.done()) continue;
            run.step();
            more = true;
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (!runs[i]->problem().empty())
            return "component " + std::to_string(i) + ", " + runs[i]->problem();
    return {};
}

std::vector<Life> livesOf(const CheckContext& context, std::uint64_t seed, int count) {
    Randomness rnd(seed, learnWords(*context.plugin));
    std::vector<Life> lives;
    for (int i = 0; i < count; ++i)
        lives.push_back(randomLife(rnd));
    return lives;
}

} // namespace

std::string manyAlive(const CheckContext& context) {
    const std::vector<Life> lives = livesOf(context, context.seed ^ 0x5a5a, 50);
    std::vector<std::unique_ptr<LifeRun>> runs;
    return interleaved(context, lives, runs);
}

std::string independence(const CheckContext& context) {
    const std::vector<Life> lives = livesOf(context, context.seed ^ 0xa5a5, 8);
    std::vector<std::unique_ptr<LifeRun>> together;
    std::string problem = interleaved(context, lives, together);
    if (!problem.empty()) return problem;
    for (std::size_t i = 0; i < lives.size(); ++i) {
        LifeRun alone(context.plugin, lives[i]);
        alone.finish();
        if (!alone.problem().empty())
            return "component " + std::to_string(i) + " alone, " + alone.problem();
        const std::vector<std::string>& a = alone.transcript();
        const std::vector<std::string>& b = together[i]->transcript();
        const auto diff = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        if (diff.first != a.end() || diff.second != b.end())
            return "component " + std::to_string(i) + " behaved differently beside others, at " +
                   "event " + std::to_string(diff.first - a.begin()) + ": alone '" +
                   (diff.first != a.end() ? *diff.first : "(end)") + "', beside others '" +
                   (diff.second != b.end() ? *diff.second : "(end)") + "'";
    }
    return {};
}
