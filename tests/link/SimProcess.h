#pragma once
#include "support/SimProcess.h" // moved to the test kit
