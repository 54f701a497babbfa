// Release of decoded results: what a call's decoding allocated inside a result is freed with
// xdr_free and the result type's own routine, on every way out of a scope.
//
// One holder serves both kinds of result:
// - a plain stub's result: the stub returns a pointer to its static result (nullptr when the
//   call failed); the holder frees what hangs off it, never the static object itself:
//     tela::XdrResult reply(a_get_log_1(&request, client), xdr_log_res);
//     if (!reply) ...
//   A holder that is used again makes the next call through Call, which lets go of the last
//   answer before the stub runs (the stub clears its static result first thing):
//     reply.Call([&] { return a_get_log_1(&request, client); });
// - a re-entrant wrapper's result: the caller's own object, which the holder watches:
//     route_res res;
//     tela::XdrResult held(&res, xdr_route_res);
//     a_apply_route_new_r1(client, &req, &res);
// Freeing a zeroed object frees nothing, so the holder may watch an object before any call
// filled it.
#pragma once

#include <rpc/rpc.h>

#include <cstring>

namespace tela {

// The XDR routine of a type T as rpcgen declares it.
template <typename T>
using XdrRoutine = bool_t (*)(XDR *, T *);

// Frees what decoding allocated inside *object (the object itself stays).
template <typename T>
void XdrFree(XdrRoutine<T> routine, T *object)
{
    xdr_free(reinterpret_cast<xdrproc_t>(routine), reinterpret_cast<char *>(object));
}

template <typename T>
class XdrResult {
public:
    // Holds result (nullptr: nothing) with the routine of its type.
    XdrResult(T *result, XdrRoutine<T> routine) : result_(result), routine_(routine) {}
    ~XdrResult() { Reset(); }
    XdrResult(const XdrResult &) = delete;
    XdrResult &operator=(const XdrResult &) = delete;

    T *get() const { return result_; }
    T *operator->() const { return result_; }
    T &operator*() const { return *result_; }
    explicit operator bool() const { return result_ != nullptr; }

    // Frees what is held now; nothing is held then.
    void Reset()
    {
        if (result_ != nullptr)
            XdrFree(routine_, result_);
        result_ = nullptr;
    }

    // Frees what is held now, then runs call (a stub's call, returning its result or nullptr)
    // and holds what it returns. The order matters when the holder has that stub's last
    // answer: the stub reuses its static object, so what hangs off it must be freed first.
    template <typename Stub>
    void Call(Stub &&call)
    {
        Reset();
        result_ = call();
    }

    // Frees what is held now and zeroes the object, which stays held: a caller's object that
    // the next call decodes into again.
    void Clear()
    {
        if (result_ == nullptr)
            return;
        XdrFree(routine_, result_);
        std::memset(static_cast<void *>(result_), 0, sizeof(T));
    }

private:
    T *result_;
    XdrRoutine<T> routine_;
};

}  // namespace tela
