// Seam of the disk space check for tests: the free space of the file system holding a path
// cannot be chosen on a real file system.
#pragma once

#include <cstdint>

// Fills the space available to the caller and the total size, in bytes, of the file system
// holding path; returns 0, or -1 when it cannot be asked.
using DiskSpaceQuery = int (*)(const char *path, uint64_t *available, uint64_t *total);

// Installs query for CheckDiskSpace (null restores the system's) and returns the one before.
DiskSpaceQuery SetDiskSpaceQuery(DiskSpaceQuery query);
