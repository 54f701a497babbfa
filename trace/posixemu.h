// Hard links, the host description and whole-second pauses for the support library and the trace
// files. On this platform the system's own link(2), uname(2) and sleep(3) do the job, so this
// header only brings them in; nothing here defines a function of those names.
//
// What callers rely on:
//  - link(existing, new): 0 when the new name is a second entry of the existing file, else -1
//    (a missing existing file creates nothing);
//  - uname(&info): 0 and the description filled; callers use only info.nodename (the system and
//    machine fields say what this platform is, not what the Windows build reported);
//  - sleep(seconds): returns 0 after the pause, at once for 0.
#pragma once

#include <sys/utsname.h>
#include <unistd.h>
