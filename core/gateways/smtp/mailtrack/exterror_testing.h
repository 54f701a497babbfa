// For tests only: where the LDAP result texts of ErrorCodeText come from. The texts are the LDAP
// library's own, taken from the library loaded at the first LD text, so that the program does not
// load the library (and what it pulls in) at start.
#pragma once

// The run-time name of the LDAP library ("libldap-2.5.so.0"), fixed when the build is configured.
const char *LdapLibraryName();

// Makes the first LD text load `library` instead of the LDAP library (null: the LDAP library
// again). Takes effect only before the first LD text of the process: the library is looked up
// once and kept for the rest of the process.
void SetLdapLibraryName(const char *library);

// The LDAP library's text of an LDAP result code, or, when the library or its text function
// cannot be had, "LDAP result code <code> (<library> not loaded)" ("LDAP result code <code>"
// where the library gave no text). Never null or empty; the fallback is valid in the calling
// thread until its next call.
const char *LdapResultText(int code);
