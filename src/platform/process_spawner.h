// A helper process that starts programs for this process from a small descriptor table.
//
// A started program must inherit none of our descriptors, and closing them costs the child
// time for each one (a shared record's descriptor holds a lock, which the kernel releases
// with a walk of the record's locks). A manager with 2,000 maps holds some 10,000 of them,
// so every start from the manager itself would cost milliseconds more than the start of
// the same program from a small process. The helper is forked once, closes what it
// inherited, and starts each program with the manager as its parent (clone with
// CLONE_PARENT), so the started program is our child exactly as if we had started it:
// ours to reap, watch and signal through its pidfd.
#pragma once

#include <sys/types.h>

namespace platform::spawner {

// Whether starting through the helper pays: this process holds many descriptors.
bool Worthwhile();

// Starts `program` with `argv` and `envp` in `dir` ("" = the current one) in a session of
// its own, with no signal blocked and every signal at its default. Returns 0 with `*pid`,
// an errno value when the program could not be executed, or -1 when the helper is not
// there (the caller starts the program itself).
int Spawn(const char* program, char* const argv[], char* const envp[], const char* dir, pid_t* pid);

}  // namespace platform::spawner
