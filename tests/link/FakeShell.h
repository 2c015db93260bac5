#pragma once
#include "support/FakeShell.h" // moved to the test kit
