// Sign-widening character routine of the fixed strings.
#include "xdr/sxchar.h"

#include <cstdint>

extern "C" bool_t xdr_sxchar(XDR *xdrs, sxchar *cp)
{
    switch (xdrs->x_op) {
    case XDR_ENCODE: {
        int unit = static_cast<int8_t>(static_cast<unsigned char>(*cp));
        return xdr_int(xdrs, &unit);
    }
    case XDR_DECODE: {
        int unit = 0;
        if (!xdr_int(xdrs, &unit))
            return FALSE;
        *cp = static_cast<char>(static_cast<unsigned char>(unit & 0xFF));
        return TRUE;
    }
    case XDR_FREE:
        return TRUE;
    }
    return FALSE;
}
