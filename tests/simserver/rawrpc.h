// A test-side ONC RPC client that builds its bytes by hand: the server's wire form is checked
// without the system's own record routines.
#pragma once

#include <cstdint>
#include <string>

namespace rawrpc {

// Big-endian units, written by hand.
class Wire {
public:
    Wire &U32(uint32_t v);
    Wire &I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    // A short travels as one unit widened with its sign.
    Wire &I16(int16_t v) { return I32(v); }
    // A fixed string of n characters: one unit per character, widened with its sign, zeros
    // behind the text.
    Wire &Str(const std::string &text, size_t n);
    Wire &Bytes(const std::string &b)
    {
        data_ += b;
        return *this;
    }
    const std::string &data() const { return data_; }
    size_t size() const { return data_.size(); }

private:
    std::string data_;
};

struct Reply {
    bool received = false;    // a whole reply record came back
    uint32_t replyStat = 0;   // 0 accepted, 1 denied
    uint32_t acceptStat = 0;  // 0 success, 1 program unavailable, 3 procedure unavailable, 4 garbage
    std::string result;       // the result's bytes
};

// One call over TCP to 127.0.0.1:port with AUTH_NONE; waits at most timeoutMs for the reply.
Reply Call(int port, uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args,
           int timeoutMs = 10000);

// Reading a result: big-endian units from the start.
class Reader {
public:
    explicit Reader(const std::string &b) : b_(b) {}
    bool U32(uint32_t &v);
    int32_t I32();
    // The text of a fixed string of n characters (low 8 bits of each unit, up to the first NUL).
    std::string Str(size_t n);
    size_t left() const { return b_.size() - pos_; }

private:
    const std::string &b_;
    size_t pos_ = 0;
};

std::string Hex(const std::string &bytes);

}  // namespace rawrpc
