// For tests only: forget the values that the host-variable functions read once per process, so
// that the next GetLocalHost / RpcProgramNumber reads the environment again.
#pragma once

void HostVarsResetCaches();
