// Decodes one road record from arbitrary bytes through an xdrmem stream and releases it with
// xdr_free. The first byte picks the record (road_records.h), the rest is the wire form.
//
// Beyond a clean decode (no crash, no leak, including a failed decode's partial result):
// - a decoded record encodes again into exactly the bytes that decoding consumed;
// - that encoding is canonical: decoding and encoding it once more gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "road_records.h"

namespace {

struct Record {
    const xdrfuzz::RoadRecord &type;
    void *mem;

    explicit Record(const xdrfuzz::RoadRecord &t) : type(t), mem(std::calloc(1, t.size)) {}
    ~Record()
    {
        xdr_free(type.proc, static_cast<char *>(mem));
        std::free(mem);
    }
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
};

// Bytes consumed by a successful decode of data into rec, or -1.
long Decode(Record &rec, const uint8_t *data, size_t size)
{
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(const_cast<uint8_t *>(data)), static_cast<u_int>(size),
                  XDR_DECODE);
    long used = rec.type.proc(&x, rec.mem) ? static_cast<long>(xdr_getpos(&x)) : -1;
    xdr_destroy(&x);
    return used;
}

// The encoding of rec into exactly `size` bytes; empty when it needs another size.
std::vector<uint8_t> Encode(Record &rec, size_t size)
{
    std::vector<uint8_t> out(size + 4);
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(out.data()), static_cast<u_int>(out.size()), XDR_ENCODE);
    bool ok = rec.type.proc(&x, rec.mem) && xdr_getpos(&x) == size;
    xdr_destroy(&x);
    if (!ok)
        return {};
    out.resize(size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > (1u << 24))
        return 0;
    const xdrfuzz::RoadRecord &type = xdrfuzz::kRoadRecords[data[0] % xdrfuzz::kRoadRecordCount];
    Record first(type);
    long used = Decode(first, data + 1, size - 1);
    if (used < 0)
        return 0;  // a failed decode: the destructor releases what it left
    std::vector<uint8_t> once = Encode(first, static_cast<size_t>(used));
    if (once.empty() && used > 0)
        std::abort();  // a decoded record must encode into the size it came in
    Record second(type);
    if (Decode(second, once.data(), once.size()) != used)
        std::abort();
    std::vector<uint8_t> twice = Encode(second, static_cast<size_t>(used));
    if (twice != once)
        std::abort();
    return 0;
}
