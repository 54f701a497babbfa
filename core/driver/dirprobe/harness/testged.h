// The test harness of dirprobe: stands in for the telephony driver. It provides the driver
// interface function GetLineIDInfo (forwarded to the process's one Resolver) and the driver's
// view of one extension, GetExtensionData, which the tool's printing calls. One thread only.
#pragma once

#include "drvif/drvif.h"

class Resolver;

// The resolver GetLineIDInfo forwards to; set by main before the first extension.
void SetHarnessResolver(Resolver *resolver);

// Set by GetExtensionData when the user's language comes from the directory.
extern int globalLanguageByLDAP;
// The language text that went with it (at most 127 characters).
const char *HarnessLanguage();

[[nodiscard]] GdResult LocalGetExtensionData(const char *extension, int namesWanted, LineIDInfo *info);
[[nodiscard]] GdResult LocalGetUserProperty2(const UserInfo *user, const char *name, char *value);

// Resolves the extension (names wanted when flag is 2) and prints the driver's view of it on
// the standard output: the header line, "User not found", the language, the voice timeouts of
// GD_VRREC and GD_VRSIL, "AcceptAll".
[[nodiscard]] GdResult GetExtensionData(const char *extension, LineIDInfo *info, int flag);
