// crashutil.h: the checker run on a file after each kill.
#pragma once

#include <string>

// Checks the file with the checker's library; true when it is sound
// (failures are reported through the test framework).
bool crash_audit(const std::string &name);
