// Seam of the installation environment for tests: an allocation of the environment that fails
// cannot be brought about on demand.
#pragma once

// Puts name=value into the environment as setenv(name, value, 1) does: 0, or -1 with errno set
// (ENOMEM when the text cannot be allocated).
using EnvPutter = int (*)(const char *name, const char *value);

// Installs putter for SetEnv and SetEnvFile (null restores setenv) and returns the one before.
EnvPutter SetEnvPutter(EnvPutter putter);
