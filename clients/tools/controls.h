// Request controls built from the settings, and the printers of response controls. Printed
// controls go to stdout as LDIF-style lines; diagnostics to stderr.
#pragma once

#include "tools/common.h"

// Builds the request controls of the settings in their fixed order, then `extra` (count
// entries) and the settings' extra controls, and sets them as the session's server controls.
// Leaves the session untouched when there is nothing to set. Encoding failures end the process
// with status 1; a list the library refuses is reported, and ends the process only when one
// of its controls is critical.
void tool_set_server_controls(LDAP *ld, LDAPControl *extra, int count);

// Writes a "control" line for each control of the null-terminated list and hands it to the
// printer of its object identifier, when there is one.
void tool_print_controls(LDAP *ld, LDAPControl **ctrls);

// One line through the library's LDIF writer with the settings' width (kind LDIF_PUT_VALUE or
// LDIF_PUT_COMMENT; name may be null). 0, or -1 when the line could not be formatted.
int tool_write_ldif_line(int kind, const char *name, const char *value, ber_len_t length);

// The printers of response controls: 0 (or the length of the text written) on success, the
// library's code or 1 when the control did not parse.
using ToolControlPrinter = int (*)(LDAP *ld, LDAPControl *ctrl);
struct ResponseControlPrinter {
    const char *oid;
    int mask;  // tool kinds the printer is meant for; not tested by the lookup
    ToolControlPrinter print;
};
// Ended by an entry without object identifier.
extern const ResponseControlPrinter response_control_printers[];

// Last values parsed by the virtual-list-view printer.
extern int vlv_target_position;
extern int vlv_list_count;
extern struct berval vlv_context;
