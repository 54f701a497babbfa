// Counted bytes from a server: the length is checked before anything is allocated.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "xdr/records.h"

namespace {

// A pageb_res of found 1, count 0 and a data length of `length`, followed by `body` bytes.
std::vector<char> PageAnswer(uint32_t length, size_t body)
{
    std::vector<char> wire(12 + body, 'x');
    uint32_t units[3] = {htonl(1), htonl(0), htonl(length)};
    std::memcpy(wire.data(), units, sizeof units);
    return wire;
}

bool Decode(std::vector<char> &wire, pageb_res &res)
{
    std::memset(&res, 0, sizeof res);
    XDR x;
    xdrmem_create(&x, wire.data(), static_cast<u_int>(wire.size()), XDR_DECODE);
    bool ok = xdr_pageb_res(&x, &res);
    xdr_destroy(&x);
    return ok;
}

TEST(CountedBytes, ALengthAboveTheBoundFailsBeforeAnyAllocation)
{
    struct Case {
        uint32_t length;
        size_t body;
        bool ok;
    };
    const Case cases[] = {
        {5, 8, true},                 // 5 bytes and their fill
        {0, 0, true},                 // empty
        {16u << 20, 0, false},        // within the bound, but the bytes are missing
        {(16u << 20) + 1, 0, false},  // above the bound
        {0xFFFFFFF0u, 0, false},      // a 12-byte answer asking for 4 GiB
    };
    for (const Case &c : cases) {
        auto wire = PageAnswer(c.length, c.body);
        pageb_res res;
        EXPECT_EQ(Decode(wire, res), c.ok) << c.length;
        if (c.ok) {
            EXPECT_EQ(res.data.blob_len, c.length);
        }
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_pageb_res), reinterpret_cast<char *>(&res));
    }
}

}  // namespace
