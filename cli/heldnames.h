// Names to take away should the program be ended by a signal: hidden temporaries, and a key
// placed before the output that belongs with it was written.
#pragma once

#include <string>

namespace morvalen::cli {

// A slot for name in the folder open as folder, or -1 when none is free or the name is too long.
int holdName(int folder, const std::string& name);
// Frees slot and sets it to -1; nothing for -1.
void releaseName(int& slot);

} // namespace morvalen::cli
