// The list of rotating trace files, global rotation requests, the rotation thread (requested
// rotations, aging of old files, at least once a day) and the aging list.
//
// Lock order: trace lock, global rotate lock, rotate-list lock, then each file's flag and file
// locks. No trace line is written while the global rotate or rotate-list lock is held.
#pragma once

#include <cstdint>

class Rotate;

// Appends the object (not owned) and returns its index.
int RegisterRotate(Rotate *rotate);
int GetRotateCount();

void StartRotateThread();
// Wakes and joins the thread, empties the list (the objects stay with their owner).
void StopRotateThread();
void WakeRotateThread();
int IsRotateThreadStopped();

void InitGlobalRotate();
void ExitGlobalRotate();
void LockRotateList();
void UnlockRotateList();
void LockGlobalRotate();
void UnlockGlobalRotate();

// Requests that every registered object rotate (once, until the thread has done it); the notices
// go into the file of the object with the given index.
void GlobalWantRotate(int index);
// Every registered object writes a date banner before its next block.
void GlobalRefreshDate(int index);

// Aging list, ascending by modification time.
struct AgeEntry {
    AgeEntry *next;
    char *path;
    int64_t mtime;
};
// Returns the list with a new entry in place; the list is unchanged when out of memory.
AgeEntry *AddAgeEntry(const char *path, int64_t mtime, AgeEntry *list);
void FreeAgeList(AgeEntry *list);

// Passes the rotation thread has finished since the start of the process; waits until at least
// `count` are done or `milliseconds` have passed (tests). Returns the passes done.
int RotateThreadPasses();
int WaitRotateThreadPasses(int count, int milliseconds);
