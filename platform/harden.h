// What both programs do to their own process at start, before any secret is in memory. Kept out
// of the core, which does no I/O and sets no process-wide policy; the programs call it from main.
#pragma once

namespace morvalen {

// Both programs' start: no core file, no reading of this process's memory by other programs of the
// same user, and no file opened under the number of a closed standard stream. Call once, first.
void hardenProcess() noexcept;

} // namespace morvalen
