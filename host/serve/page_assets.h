// The page of `vorn-host serve`, built into the program so that it works offline.
#pragma once

#include <string>

const std::string& pageHtml();
const std::string& pageScript();
const std::string& pageStyle();
