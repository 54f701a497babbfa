// The road procedures that the reply target calls: each through the stub (or re-entrant
// wrapper) that the programs use, with a sample request. An input's first byte picks the call
// by its index here, so new rows go at the end: the seed corpus names calls by index.
#pragma once

#include <cstddef>
#include <cstring>

#include "rpcrt/rpcrt.h"
#include "samples.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"
#include "xdr/wrappers.h"

namespace xdrfuzz {

struct RoadCall {
    const char *name;
    rpcprog_t prog;
    rpcproc_t proc;
    // Makes the call on clnt and releases what the answer holds; false when the call failed.
    bool (*call)(CLIENT *clnt);
    // Encodes a sample answer (for the seeds); false when it does not fit.
    bool (*answer)(XDR *xdrs);
};

template <class T>
inline void FreeResult(bool_t (*proc)(XDR *, T *), T *res)
{
    xdr_free(reinterpret_cast<xdrproc_t>(proc), reinterpret_cast<char *>(res));
}

// A plain stub: its static result is released before the next call of the same stub.
template <class A, class R, R *(*Stub)(A *, CLIENT *), bool_t (*ResProc)(XDR *, R *), void (*Fill)(A &)>
inline bool StubCall(CLIENT *clnt)
{
    A arg;
    Fill(arg);
    R *res = Stub(&arg, clnt);
    if (res == nullptr)
        return false;
    FreeResult(ResProc, res);
    return true;
}

// A re-entrant wrapper: after a failure the result holds nothing to release, so releasing it
// anyway must be harmless.
template <class A, class R, uint32_t (*Wrapper)(CLIENT *, A *, R *), bool_t (*ResProc)(XDR *, R *),
          void (*Fill)(A &)>
inline bool WrapperCall(CLIENT *clnt)
{
    A arg;
    Fill(arg);
    R res;
    uint32_t rc = Wrapper(clnt, &arg, &res);
    FreeResult(ResProc, &res);
    return rc == 0;
}

template <class R, bool_t (*ResProc)(XDR *, R *), void (*Fill)(R &)>
inline bool SampleAnswer(XDR *xdrs)
{
    R res;
    Fill(res);
    bool ok = ResProc(xdrs, &res);
    FreeResult(ResProc, &res);
    return ok;
}

inline void FillVoid(char &c)
{
    c = 0;
}
inline void FillGroupId(str11 &id)
{
    std::memset(id, 0, sizeof id);
    std::memcpy(id, "sales", 5);
}
inline void FillJobKey(job_key &k)
{
    std::memset(&k, 0, sizeof k);
    std::memcpy(k.user, "jdoe", 4);
    k.kind = 2;
    k.job = 100;
}
inline void FillTextReq(text_req &r)
{
    static char key[] = "$EC_25:";
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.language, "english_us.8859", 15);
    r.key.blob_len = sizeof key;
    r.key.blob_val = key;
}
inline void FillText(blob &b)
{
    static const char text[] = "not found";
    b.blob_len = sizeof text;
    b.blob_val = static_cast<char *>(std::malloc(sizeof text));
    if (b.blob_val != nullptr)
        std::memcpy(b.blob_val, text, sizeof text);
    else
        b.blob_len = 0;
}

// Stubs whose argument is a fixed string or void take it as a pointer of their own type.
inline compat_rec *CompatStub(char *, CLIENT *clnt)
{
    return a_get_compat_1(nullptr, clnt);
}
inline group_rec *AlphaGroupStub(str11 *id, CLIENT *clnt)
{
    return a_get_o_group_1(*id, clnt);
}
inline group_rec *OmegaGroupStub(str11 *id, CLIENT *clnt)
{
    return o_get_group_1(*id, clnt);
}

inline constexpr rpcprog_t kAlpha = ALPHA_PROG;
inline constexpr rpcprog_t kOmega = OMEGA_PROG;

using namespace xdrsamples;

inline const RoadCall kRoadCalls[] = {
    {"a_apply_route_new_r1", kAlpha, 117,
     WrapperCall<route_req, route_res, a_apply_route_new_r1, xdr_route_res, FillRouteReqV2>,
     SampleAnswer<route_res, xdr_route_res, FillRouteResV1>},
    {"a_get_usrconf_new_r1", kAlpha, 144,
     WrapperCall<usrconf_new_req, usrconf_new_res, a_get_usrconf_new_r1, xdr_usrconf_new_res,
                 FillUsrconfNewReq>,
     SampleAnswer<usrconf_new_res, xdr_usrconf_new_res, FillUsrconfNewRes>},
    {"a_apply_route_new_1", kAlpha, 117,
     StubCall<route_req, route_res, a_apply_route_new_1, xdr_route_res, FillRouteReqV0>,
     SampleAnswer<route_res, xdr_route_res, FillRouteResV0>},
    {"a_get_compat_1", kAlpha, 75, StubCall<char, compat_rec, CompatStub, xdr_compat_rec, FillVoid>,
     SampleAnswer<compat_rec, xdr_compat_rec, FillCompat>},
    {"a_get_o_user_1", kAlpha, 35,
     StubCall<user_key, a_user_rec, a_get_o_user_1, xdr_a_user_rec, FillUserKey>,
     SampleAnswer<a_user_rec, xdr_a_user_rec, FillUserRec>},
    {"a_get_o_group_1", kAlpha, 150, StubCall<str11, group_rec, AlphaGroupStub, xdr_group_rec, FillGroupId>,
     SampleAnswer<group_rec, xdr_group_rec, FillGroupRec>},
    {"o_get_group_1", kOmega, 32, StubCall<str11, group_rec, OmegaGroupStub, xdr_group_rec, FillGroupId>,
     SampleAnswer<group_rec, xdr_group_rec, FillGroupRec>},
    {"a_get_pageb_1", kAlpha, 59, StubCall<pageb_req, pageb_res, a_get_pageb_1, xdr_pageb_res, FillPagebReq>,
     SampleAnswer<pageb_res, xdr_pageb_res, FillPagebRes1024>},
    {"a_get_pages_1", kAlpha, 20, StubCall<job_key, page_list, a_get_pages_1, xdr_page_list, FillJobKey>,
     SampleAnswer<page_list, xdr_page_list, FillPageList>},
    {"a_get_s_rec_new_1", kAlpha, 137,
     StubCall<s_rec_req, s_rec_res, a_get_s_rec_new_1, xdr_s_rec_res, FillSRecReq>,
     SampleAnswer<s_rec_res, xdr_s_rec_res, FillSRecResV1>},
    {"a_get_log_1", kAlpha, 72, StubCall<log_req, log_res, a_get_log_1, xdr_log_res, FillLogReq>,
     SampleAnswer<log_res, xdr_log_res, FillLogRes10>},
    {"a_get_text_1", kAlpha, 73, StubCall<text_req, blob, a_get_text_1, xdr_blob, FillTextReq>,
     SampleAnswer<blob, xdr_blob, FillText>},
};

inline constexpr std::size_t kRoadCallCount = sizeof kRoadCalls / sizeof kRoadCalls[0];

}  // namespace xdrfuzz
