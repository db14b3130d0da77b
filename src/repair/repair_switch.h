// The launcher's own "/repair" switch, taken out of the command line the game receives. Free of
// Windows headers.
#pragma once
#include <cstddef>

// Removes every whitespace-separated "/repair" (any case) from `commandLine`, with the blank before
// it; true when there was one.
bool takeRepairSwitch(char* commandLine);
