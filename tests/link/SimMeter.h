#pragma once
#include "support/SimMeter.h" // moved to the test kit
