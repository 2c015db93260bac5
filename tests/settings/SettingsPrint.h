#pragma once
#include "support/MeterRecords.h" // moved to the test kit
