// The battery's checks, one file each; validator.cpp lists them. A check of its own kind gets
// the loaded plug-in and says what it found; it runs in the sandbox, and calls sandboxProgress()
// as it goes on. A check made of trials gives them, and the battery runs them.
#pragma once

#include "trial.h"
#include "validator.h"

#include <vector>

CheckFinding createDeleteInARow(const CheckContext& context);
CheckFinding nullHostLife(const CheckContext& context);
std::vector<Trial> changingConfiguration(const CheckContext& context);
std::vector<Trial> manyAlive(const CheckContext& context);
std::vector<Trial> independence(const CheckContext& context);
std::vector<Trial> determinism(const CheckContext& context);
std::vector<Trial> randomSequences(const CheckContext& context);
std::vector<Trial> repeatedMessages(const CheckContext& context);
std::vector<Trial> heldAnswers(const CheckContext& context);
std::vector<Trial> longAndOddTexts(const CheckContext& context);
std::vector<Trial> foreignTimers(const CheckContext& context);
std::vector<Trial> reportStorm(const CheckContext& context);
std::vector<Trial> deletedAnywhere(const CheckContext& context);
