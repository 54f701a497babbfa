// Internals of the OS utility library shared with the other sources of the platform layer.
#pragma once

#include <sys/types.h>

namespace tela::sysutil_internal {

// Starts program with argv and the current environment without waiting. 1 with *pid set, else
// 0 with errno set. The caller must hand the child to ReapInBackground (or wait for it).
int StartChild(const char *program, char *const argv[], pid_t *pid);
// Leaves the child to a reaper thread so that it does not stay a zombie. Until then the child's
// process id cannot name another process, even after the child has ended.
void ReapInBackground(pid_t pid);

}  // namespace tela::sysutil_internal
