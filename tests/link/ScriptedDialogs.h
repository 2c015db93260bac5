#pragma once
#include "support/ScriptedDialogs.h" // moved to the test kit
