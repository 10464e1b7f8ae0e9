// The battery's checks, one file each; validator.cpp lists them. A check gets the loaded plug-in
// and returns what it found wrong, or empty; it runs in the sandbox, and calls sandboxProgress()
// as it goes on.
#pragma once

#include "validator.h"

#include <string>

std::string createDeleteInARow(const CheckContext& context);
std::string nullHostLife(const CheckContext& context);
std::string manyAlive(const CheckContext& context);
std::string independence(const CheckContext& context);
std::string randomSequences(const CheckContext& context);
