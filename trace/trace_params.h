// Process-wide trace parameters: level, roll mode and period of rotating files, size limit,
// how many and how old trace files stay, kind of time stamp; trace.cfg reading and writing; the
// thread that re-reads trace.cfg every 10 minutes while a rotating trace file is open.
//
// Setters check first, swap the value under the parameter lock and write their messages as trace
// lines after leaving it (rejections at level 0, changes at level -1). Getters read without a
// lock (each value is atomic). The parameter lock is a leaf: nothing else is taken while it is
// held.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kTraceLevelDefault = 1;
constexpr int kTraceRollmodeSize = 0;
constexpr int kTraceRollmodeDate = 1;
constexpr int kTraceRollhourDefault = 24;
constexpr int kTraceRollhourMax = 744;
constexpr uint32_t kTraceFilesizeDefault = 52428800;
constexpr uint32_t kTraceFilesizeMin = 10240;
constexpr int kTraceMinfilesDefault = 10;
constexpr int kTraceMinageDefault = 10;
constexpr int kTraceStampDatetime = 0;
constexpr int kTraceStampDetailed = 1;

// The level is not checked: callers keep it in -2..4.
int GetTraceLevel();
void SetTraceLevel(int level);
// The trace.cfg letter of the level ("P" for -2 .. "O" for 4, "unknown" for 5 and any other).
const char *GetTraceLevelName();
const char *TraceLevelLetterOf(int level);

int IsTraceRotating();
void SetTraceRotating(int flag);

int GetTraceRollhour();
int IsTraceRollhourDefault();
// Only in roll mode "rolldate"; 1..744, else the default 24 with a message.
void SetTraceRollhour(int hours);

uint32_t GetTraceFilesize();
// At least 10240, else the default with a message.
void SetTraceFilesize(uint32_t bytes);

int GetTraceMinfiles();
// 0 switches aging off; a positive change wakes the rotation thread.
void SetTraceMinfiles(int count);
int GetTraceMinage();
void SetTraceMinage(int days);

// Always 0: nothing sets the minute flag.
int IsTraceRollMinutes();

int GetTraceRollmode();
const char *GetTraceRollmodeName();
int IsTraceRolldate();
// "rolldate" or "rollsize" in any case; null or empty gives "rolldate" silently.
void SetTraceRollmode(const char *name);

int GetTraceStamptype();
const char *GetTraceStamptypeName();
int IsTraceDatetime();
// "datetime" or "detailedtime" in any case; null or empty gives "datetime" silently.
void SetTraceStamptype(const char *name);

// Every parameter back to its default, the rotating flag to 0, without messages.
void ResetTraceParams();

// "<directory>/trace.cfg". A missing file is no error. Each line goes through the setters.
void ReadTraceConfig(const char *directory);
// Writes the current parameters; "cannot write %s\n" (level 0) when the file cannot be made.
void WriteTraceConfig(const char *directory);
// Splits one line into its first key word and first value word (both at most size-1
// characters); both empty when the line has none.
void ParseTraceConfigLine(const char *line, char *key, size_t keySize, char *value, size_t valueSize);

// The re-read thread: reads "<directory>/trace.cfg" at start and every 10 minutes. The directory
// text is copied. A second start while it runs does nothing.
void StartTraceConfigThread(const char *directory);
// Stops and joins the thread; nothing when none runs.
void StopTraceConfigThread();
int IsTraceConfigStopped();
void SetTraceConfigStopped(int flag);

void LockTraceParams();
void UnlockTraceParams();
