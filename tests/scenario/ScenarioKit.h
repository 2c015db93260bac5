#pragma once
#include "support/ScenarioKit.h" // moved to the test kit
