/*
 * The element routine of the fixed strings (str11 ... str81 and the character fields of the
 * further interfaces). Usable from C: the generated record routines call it.
 *
 * Encoding widens the character with its sign: 0x00-0x7F go out as 00 00 00 cc, 0x80-0xFF
 * as FF FF FF cc, whatever the signedness of plain char on the platform. Decoding keeps the
 * low 8 bits of the unit and ignores the rest. Freeing does nothing and succeeds (xdr_vector
 * calls the element routine on free too).
 */
#ifndef TELA_XDR_SXCHAR_H
#define TELA_XDR_SXCHAR_H

#include <rpc/types.h>
#include <rpc/xdr.h>

typedef char sxchar;

#ifdef __cplusplus
extern "C" {
#endif

bool_t xdr_sxchar(XDR *xdrs, sxchar *cp);

#ifdef __cplusplus
}
#endif

#endif
