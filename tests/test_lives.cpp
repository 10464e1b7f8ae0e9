#include "lives.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<Plugin> open(const char* path) {
    auto plugin = std::make_shared<Plugin>();
    std::string error;
    EXPECT_TRUE(plugin->open(path, error)) << error;
    return plugin;
}

std::string kinds(const ComponentWords& words) {
    std::string text;
    for (const ComponentWords::Entry& s : words.settings)
        text += s.name + ":" + "tns"[static_cast<int>(s.kind)] + " ";
    return text;
}

} // namespace

// What the battery learns of a component comes from its own answers and commands alone.
TEST(Words, LearnedFromWhatEachComponentAnswers) {
    const ComponentWords lamp = learnWords(*open(VORN_LAMP));
    EXPECT_EQ(kinds(lamp), "programLook:s previewLook:s idleLook:s tally:s ");
    EXPECT_EQ(lamp.events, (std::vector<std::string>{"TALLY"}));
    EXPECT_EQ(lamp.controls,
              (std::vector<std::pair<std::string, std::string>>{{"1", "MyTally_Lamp"}}));
    EXPECT_EQ(lamp.contactsPerInstance, 2);

    const ComponentWords tile = learnWords(*open(VORN_TILE));
    EXPECT_EQ(kinds(tile), "useButton:t sendGPI:t useText:t buttonText:s stateSheet:s offState:s "
                           "onState:s ");
    EXPECT_EQ(tile.events, (std::vector<std::string>{"GPIvalue"}));
    EXPECT_EQ(tile.contactsPerInstance, 1);
}

TEST(Words, KindsFromTheValuesShown) {
    std::vector<ComponentWords::Entry> settings;
    addSettings("a=[value]\nb=[value]\n=x\nnothing", settings);
    addSettings("a=-12\nb=FALSE\nc=false\nd=\n", settings);
    std::string text;
    for (const auto& s : settings)
        text += s.name + ":" + "tns"[static_cast<int>(s.kind)] + " ";
    EXPECT_EQ(text, "a:n b:s c:t d:s ");
}
