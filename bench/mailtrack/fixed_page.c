/* The cheapest CGI program there is: the same header as the report program and a fixed page of
 * PAGE_BYTES bytes (from the environment, default 2048, at most 1 MiB). The benchmark serves it
 * beside the report to show what starting a process under the web server costs by itself.
 *
 * Built with FIXED_PAGE_RPC it also calls the RPC library's trivial XDR routine, so that the
 * library is loaded and bound as for any client of the alpha and omega servers: the floor of
 * every client program. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef FIXED_PAGE_RPC
#include <rpc/xdr.h>
#endif

enum { MAX_PAGE = 1 << 20 };

static char page[MAX_PAGE];

int main(void)
{
#ifdef FIXED_PAGE_RPC
    if (!xdr_void())
        return 1;
#endif
    const char *text = getenv("PAGE_BYTES");
    long size = text != NULL ? strtol(text, NULL, 10) : 2048;
    if (size < 0 || size > MAX_PAGE)
        size = 2048;
    memset(page, 'x', (size_t)size);
    if (size > 0)
        page[size - 1] = '\n';
    fputs("Content-type: text/html; charset=ISO-8859-15\r\n\r\n", stdout);
    fwrite(page, 1, (size_t)size, stdout);
    return 0;
}
