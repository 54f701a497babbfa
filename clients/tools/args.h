// Option parser of the common LDAP tool options, filling tool_settings, and their help text.
#pragma once

#include "tools/common.h"

// What the program that embeds the LDAP tool code supplies to the parser: its own option
// letters (option-string form, ':' after a letter that takes an argument), a usage hook that
// prints the usage and ends the process, and a hook offered every letter the parser does not
// handle (0: not the program's either). Null hooks: the parser ends with status 1 in place of
// the usage, and no private letter is accepted.
struct ToolOptionHooks {
    const char *options;
    void (*usage)();
    int (*option)(int letter);
};
// Defined by the embedding program, not by this library, so that a program using the parser
// cannot be linked without them: in this system the LDAP query object (genldap) defines them.
extern ToolOptionHooks tool_option_hooks;

// The option letters the parser itself handles.
extern const char tool_common_options[];
// The version text of the tools.
extern const char tool_version[];

// Reads all options, checks the LDAP library's version and the combinations of options, and
// returns only when they are acceptable; every refusal ends the process with status 1, or
// goes through the usage hook.
void tool_parse_args(int argc, char **argv);

// "Common options:" and the help of each common option that is among the program's letters,
// on stderr; then frees the settings.
void tool_print_common_options();
