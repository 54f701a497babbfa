// Omega records as text: printers that write one record as one line of fixed-width columns,
// and readers that take one record from a text in which every field stands on a line of its
// own (the form used for listing and loading the omega tables).
//
// Printers: stream is an open text stream, separator the text written between two columns (a
// null separator writes nothing between them). A text field of N characters is left-justified
// and padded to N columns, never longer; numbers are the 32-bit values of the records in the
// columns of the table's format; booleans are J or N. The line ends with a newline. A null
// stream or record prints nothing.
//
// Readers: fill the record in place and return 1 when every field was read, 0 at the first
// field that cannot be read (end of the stream, a number that does not convert, or a version
// the record does not know). The fields read before a failure stay in the record. A null stream
// or record returns 0.
#pragma once

#include <cstdio>

#include "xdr/records.h"

void print_o_tab19_rec(FILE *stream, const o_tab19_rec *record, const char *separator);
// o_p47_item has the layout of o_tab19_rec and prints the same way.
void print_o_tab19_rec(FILE *stream, const o_p47_item *record, const char *separator);
void print_o_tab7_rec(FILE *stream, const o_tab7_rec *record, const char *separator);
void print_o_tab11_rec(FILE *stream, const o_tab11_rec *record, const char *separator);
void print_o_tab35_rec(FILE *stream, const o_tab35_rec *record, const char *separator);
void print_o_tab79_rec(FILE *stream, const o_tab79_rec *record, const char *separator);
// Version 0 prints arm 0, any other version arm 1; the version itself is not printed.
void print_o_tab97_rec(FILE *stream, const o_tab97_rec *record, const char *separator);
void print_o_tab15_rec(FILE *stream, const o_tab15_rec *record, const char *separator);
// Prints the version-0 arm whatever the version; the version is not printed.
void print_o_tab107_rec(FILE *stream, const o_tab107_rec *record, const char *separator);
void print_o_tab38_rec(FILE *stream, const o_tab38_rec *record, const char *separator);
// Versions 0 and 1; any other version prints nothing.
void print_route_rec(FILE *stream, const route_rec *record, const char *separator);
void print_o_tab67_rec(FILE *stream, const o_tab67_rec *record, const char *separator);
void print_o_tab72_rec(FILE *stream, const o_tab72_rec *record, const char *separator);
void print_o_tab43_rec(FILE *stream, const o_tab43_rec *record, const char *separator);
void print_o_tab58_rec(FILE *stream, const o_tab58_rec *record, const char *separator);
void print_o_tab62_rec(FILE *stream, const o_tab62_rec *record, const char *separator);
// One column; the separator is not used.
void print_o_tab23_rec(FILE *stream, const o_tab23_rec *record, const char *separator);
void print_o_tab27_rec(FILE *stream, const o_tab27_rec *record, const char *separator);
void print_user_rec(FILE *stream, const user_rec *record, const char *separator);
// The version first, then the fields of arm 0 or arm 1. For any other version only the version
// and one separator are written, without a newline.
void print_o_tab102_rec(FILE *stream, const o_tab102_rec *record, const char *separator);

// "allowed" for a nonzero flag, else "not allowed" (static texts).
const char *allowed_text(int flag);

int read_o_tab19_rec(FILE *stream, o_tab19_rec *record);
int read_o_tab7_rec(FILE *stream, o_tab7_rec *record);
int read_o_tab11_rec(FILE *stream, o_tab11_rec *record);
int read_o_tab15_rec(FILE *stream, o_tab15_rec *record);
int read_o_tab67_rec(FILE *stream, o_tab67_rec *record);
// The boolean is set from the J/Y character once it was read, also when the last field fails;
// when an earlier field fails it is left as it was.
int read_o_tab72_rec(FILE *stream, o_tab72_rec *record);
int read_o_tab58_rec(FILE *stream, o_tab58_rec *record);
int read_o_tab62_rec(FILE *stream, o_tab62_rec *record);
// A version line of 0 or 1 first (any other value returns 0 and leaves the version as it was),
// then the arm's three texts; the arm's number is not read.
int read_o_tab97_rec(FILE *stream, o_tab97_rec *record);
// A version line first, stored as the record's version, then the 33 fields of arm 0 or the 34
// of arm 1; any other version returns 0.
int read_o_tab102_rec(FILE *stream, o_tab102_rec *record);
// As read_o_tab102_rec, but the record becomes version 1 once the version line was read: a
// version-0 text fills arm 1 (its 34th field empty), a version-1 text fills it whole; any other
// version returns 0.
int read_o_tab102_rec_v1(FILE *stream, o_tab102_rec *record);
