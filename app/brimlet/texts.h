#pragma once

#include "poll/options.h"

extern const ToolTexts kBrimletTexts;
