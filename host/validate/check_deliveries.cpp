#include "checks.h"

#include "lives.h"

#include <climits>

// Checks of what a host may deliver that random lives seldom or never reach: the same message
// twice in a row, many answers held at once and handed back out of order, texts of 64 KiB and
// of every byte value, ticks of timers the component did not start, and a storm of reports.

namespace {

Step step(StepKind kind) {
    return Step{std::move(kind), "", 0};
}

// One life on a facility with the one instance "A" (device 12, contact 3).
Trial oneLife(const std::string& name, std::vector<Step> steps) {
    Trial trial;
    Life life;
    life.name = name;
    life.facility.instances["A"] = FacilityInstance{12, 3, "", std::nullopt};
    life.steps = std::move(steps);
    trial.lives.push_back(std::move(life));
    return trial;
}

// The parent commands a component says it knows: each query, and each setting with a value of
// the kind it shows; then the host's own.
std::vector<std::string> knownCommands(const ComponentWords& words) {
    std::vector<std::string> texts;
    for (const ComponentWords::Entry& s : words.settings) {
        texts.push_back("return=" + s.name);
        texts.push_back(s.name + "=" +
                        (s.kind == ComponentWords::Kind::Truth    ? "true"
                         : s.kind == ComponentWords::Kind::Number ? "7"
                                                                  : "text"));
    }
    for (const char* host : {"return=all", "_events", "_commands", "instance=A"})
        texts.push_back(host);
    return texts;
}

} // namespace

// Random lives in which every message after the creation comes twice in a row: a parent
// command twice with nothing between (both answers kept, handed back later).
std::vector<Trial> repeatedMessages(const CheckContext& context) {
    Randomness rnd(context.seed ^ 0x7e7e, learnWords(*context.plugin));
    std::vector<Trial> trials;
    for (int i = 0; i < 20; ++i) {
        Trial trial;
        Life life = randomLife(rnd);
        life.name = "life " + std::to_string(i);
        std::vector<Step> twice = {life.steps.front()};
        for (std::size_t k = 1; k < life.steps.size(); ++k) {
            Step s = life.steps[k];
            if (const auto* parent = std::get_if<steps::Parent>(&s.kind))
                s.kind = steps::Hold{parent->text};
            twice.push_back(s);
            twice.push_back(s);
        }
        life.steps = std::move(twice);
        trial.lives.push_back(std::move(life));
        trials.push_back(std::move(trial));
    }
    return trials;
}

// 64 answers held at once, other messages between them, handed back in a scattered order, a
// quarter of them only at the component's end; bound and unbound.
std::vector<Trial> heldAnswers(const CheckContext& context) {
    const std::vector<std::string> texts = knownCommands(learnWords(*context.plugin));
    std::vector<Trial> trials;
    for (bool bound : {true, false}) {
        std::vector<Step> steps = {step(steps::Create{""})};
        if (bound) steps.push_back(step(steps::Parent{"instance=A"}));
        for (int i = 0; i < 64; ++i) {
            steps.push_back(step(steps::Hold{texts[static_cast<std::size_t>(i) % texts.size()]}));
            if (i % 4 == 3) {
                steps.push_back(step(steps::Report{12, 3, i % 8 == 3}));
                steps.push_back(step(steps::Message{0}));
            }
        }
        for (int i = 0; i < 48; ++i)
            steps.push_back(step(steps::Release{(i * 13) % 17}));
        trials.push_back(oneLife(bound ? "bound" : "unbound", std::move(steps)));
    }
    return trials;
}

// Parent commands of 64 KiB (as a name, a query, an instance and each setting's value, kept
// and handed back too), and of every byte value a text can hold.
std::vector<Trial> longAndOddTexts(const CheckContext& context) {
    const ComponentWords words = learnWords(*context.plugin);
    const std::string big(64 * 1024, 'x');
    std::vector<Step> steps = {step(steps::Create{""}), step(steps::Parent{big}),
                               step(steps::Parent{"return=" + big}),
                               step(steps::Parent{"instance=" + big}), step(steps::Hold{big})};
    for (const ComponentWords::Entry& s : words.settings)
        steps.push_back(step(steps::Parent{s.name + "=" + big}));
    steps.push_back(step(steps::Release{0}));
    for (int b = 1; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        steps.push_back(step(steps::Parent{c}));
        steps.push_back(step(steps::Parent{"a" + c + "=" + c}));
        if (!words.settings.empty())
            steps.push_back(step(steps::Parent{words.settings.front().name + "=" + c}));
    }
    return {oneLife("life 0", std::move(steps))};
}

// Ticks of timers the component did not start, unbound and bound: every number to 300 and
// the edges of the number types, then the clock run on.
std::vector<Trial> foreignTimers(const CheckContext&) {
    std::vector<std::int32_t> timers;
    for (std::int32_t t = -5; t <= 300; ++t)
        timers.push_back(t);
    for (std::int32_t t :
         {999, 1000, 1001, 4242, 9999, 32767, 32768, 65535, 65536, INT_MAX, INT_MIN, INT_MIN + 1})
        timers.push_back(t);
    std::vector<Step> steps = {step(steps::Create{""})};
    for (int bound = 0; bound < 2; ++bound) {
        if (bound) steps.push_back(step(steps::Parent{"instance=A"}));
        for (std::int32_t t : timers)
            steps.push_back(step(steps::Tick{t}));
        steps.push_back(step(steps::Advance{{60000}}));
    }
    return {oneLife("life 0", std::move(steps))};
}

// 100,000 reports to a bound component: its contacts turning on and off, and others'.
std::vector<Trial> reportStorm(const CheckContext& context) {
    const ComponentWords words = learnWords(*context.plugin);
    std::vector<Step> steps = {step(steps::Create{""}), step(steps::Parent{"instance=A"})};
    for (std::int32_t i = 0; i < 100000; ++i) {
        const bool other = i % 10 == 9;
        steps.push_back(
            step(steps::Report{other ? 13 : 12, other ? 3 : 3 + i % words.contactsPerInstance,
                               (i / words.contactsPerInstance) % 2}));
    }
    return {oneLife("life 0", std::move(steps))};
}

// One long life ended at every point: after each of its steps, the answers it kept are handed
// back and it is deleted.
std::vector<Trial> deletedAnywhere(const CheckContext& context) {
    Randomness rnd(context.seed ^ 0xdede, learnWords(*context.plugin));
    Life life = randomLife(rnd);
    const Life more = randomLife(rnd); // two lives' steps: 40 to 160
    life.steps.insert(life.steps.end(), more.steps.begin() + 1, more.steps.end());
    std::vector<Trial> trials;
    for (std::size_t k = 1; k <= life.steps.size(); ++k) {
        Trial trial;
        Life cut = life;
        cut.steps.resize(k);
        cut.name = "the life ended after step " + std::to_string(k);
        trial.lives.push_back(std::move(cut));
        trials.push_back(std::move(trial));
    }
    return trials;
}
