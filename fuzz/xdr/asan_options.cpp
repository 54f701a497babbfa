// AddressSanitizer defaults of the wire-format fuzz targets.
//
// A counted-bytes field without bound (blob) makes libtirpc allocate the length that the
// sender claims, up to 4 GB, before it reads a single byte. Under AddressSanitizer such a block
// costs seconds, and libFuzzer reports it as out of memory. Here an allocation above 64 MB
// fails instead, as it may on a real host: the decode must then fail cleanly, release what it
// made and report the RPC library's out-of-memory line.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=64";
}
