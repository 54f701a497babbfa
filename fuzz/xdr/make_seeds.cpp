// Writes the seed corpus of the wire-format fuzz targets into the directory given:
// records-<name>: the record's index and a valid encoding of a sample (road_records.h);
// reply-<name>: the call's index, the accept status SUCCESS and a sample answer (road_calls.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "road_calls.h"
#include "road_records.h"
#include "samples.h"

namespace {

using namespace xdrsamples;

bool WriteSeed(const std::string &path, const std::vector<char> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

size_t RecordIndex(const char *name)
{
    for (size_t i = 0; i < xdrfuzz::kRoadRecordCount; ++i)
        if (std::strcmp(xdrfuzz::kRoadRecords[i].name, name) == 0)
            return i;
    return xdrfuzz::kRoadRecordCount;
}

// Encodes a sample record behind its selector byte.
template <class T>
bool RecordSeed(const std::string &dir, const char *type, const char *label, bool_t (*proc)(XDR *, T *),
                void (*fill)(T &))
{
    size_t index = RecordIndex(type);
    if (index == xdrfuzz::kRoadRecordCount)
        return false;
    std::vector<char> buf(1 << 16);
    buf[0] = static_cast<char>(index);
    T rec;
    fill(rec);
    XDR x;
    xdrmem_create(&x, buf.data() + 1, static_cast<u_int>(buf.size() - 1), XDR_ENCODE);
    bool ok = proc(&x, &rec);
    buf.resize(1 + xdr_getpos(&x));
    xdr_destroy(&x);
    xdr_free(reinterpret_cast<xdrproc_t>(proc), reinterpret_cast<char *>(&rec));
    return ok && WriteSeed(dir + "/records-" + label, buf);
}

// The accept status SUCCESS and the sample answer (the target sends the reply header itself).
bool ReplySeed(const std::string &dir, size_t index)
{
    std::vector<char> buf(1 << 16);
    buf[0] = static_cast<char>(index);
    XDR x;
    xdrmem_create(&x, buf.data() + 1, static_cast<u_int>(buf.size() - 1), XDR_ENCODE);
    int success = 0;
    bool ok = xdr_int(&x, &success) && xdrfuzz::kRoadCalls[index].answer(&x);
    buf.resize(1 + xdr_getpos(&x));
    xdr_destroy(&x);
    return ok && WriteSeed(dir + "/reply-" + xdrfuzz::kRoadCalls[index].name, buf);
}

void FillEmptyLog(log_res &r)
{
    FillLogRes(r, 0);
}
void FillLog3(log_res &r)
{
    FillLogRes(r, 3);
}
void FillPagebEnd(pageb_res &r)
{
    FillPagebRes(r, 0);
}
void FillPagebPiece(pageb_res &r)
{
    FillPagebRes(r, 5);
}

// A list answer of every node shape: route_list (link first), s_rec_list (link last) and
// a_p139_res (link first, unions inside).
void FillRouteList(route_list &r)
{
    std::memset(&r, 0, sizeof r);
    r.f1 = 2;
    for (int i = 0; i < 2; ++i) {
        auto *n = static_cast<route_node *>(std::calloc(1, sizeof(route_node)));
        if (n == nullptr)
            return;
        n->entry.vers = i;
        std::snprintf(n->entry.route_rec_u.v0.route_id, sizeof n->entry.route_rec_u.v0.route_id, "R%d", i);
        n->next = r.first;
        r.first = n;
    }
}

void FillSRecList(s_rec_list &r)
{
    std::memset(&r, 0, sizeof r);
    r.f1 = 2;
    for (int i = 0; i < 2; ++i) {
        auto *n = static_cast<s_rec_v0_node *>(std::calloc(1, sizeof(s_rec_v0_node)));
        if (n == nullptr)
            return;
        FillSRecCommon(n->entry);
        n->entry.job = 4711 + i;
        n->next = r.first;
        r.first = n;
    }
}

void FillSRecNodes(a_p139_res &r)
{
    std::memset(&r, 0, sizeof r);
    r.f2 = 2;
    for (int i = 0; i < 2; ++i) {
        auto *n = static_cast<s_rec_node *>(std::calloc(1, sizeof(s_rec_node)));
        if (n == nullptr)
            return;
        n->entry.vers = i;
        if (i == 0)
            FillSRecCommon(n->entry.s_rec_new_u.v0);
        else
            FillSRecCommon(n->entry.s_rec_new_u.v1);
        n->next = r.first;
        r.first = n;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = RecordSeed(dir, "compat_rec", "compat_rec", xdr_compat_rec, FillCompat) &&
              RecordSeed(dir, "route_req", "route_req_v0", xdr_route_req, FillRouteReqV0) &&
              RecordSeed(dir, "route_req", "route_req_v1", xdr_route_req, FillRouteReqV1) &&
              RecordSeed(dir, "route_req", "route_req_v2", xdr_route_req, FillRouteReqV2) &&
              RecordSeed(dir, "route_res", "route_res_v0", xdr_route_res, FillRouteResV0) &&
              RecordSeed(dir, "route_res", "route_res_v1", xdr_route_res, FillRouteResV1) &&
              RecordSeed(dir, "usrconf_new_req", "usrconf_new_req", xdr_usrconf_new_req, FillUsrconfNewReq) &&
              RecordSeed(dir, "usrconf_new_res", "usrconf_new_res", xdr_usrconf_new_res, FillUsrconfNewRes) &&
              RecordSeed(dir, "user_key", "user_key", xdr_user_key, FillUserKey) &&
              RecordSeed(dir, "a_user_rec", "a_user_rec", xdr_a_user_rec, FillUserRec) &&
              RecordSeed(dir, "group_rec", "group_rec", xdr_group_rec, FillGroupRec) &&
              RecordSeed(dir, "s_rec_req", "s_rec_req", xdr_s_rec_req, FillSRecReq) &&
              RecordSeed(dir, "s_rec_res", "s_rec_res_v0", xdr_s_rec_res, FillSRecResV0) &&
              RecordSeed(dir, "s_rec_res", "s_rec_res_v1", xdr_s_rec_res, FillSRecResV1) &&
              RecordSeed(dir, "log_req", "log_req", xdr_log_req, FillLogReq) &&
              RecordSeed(dir, "log_res", "log_res_empty", xdr_log_res, FillEmptyLog) &&
              RecordSeed(dir, "log_res", "log_res_3", xdr_log_res, FillLog3) &&
              RecordSeed(dir, "pageb_req", "pageb_req", xdr_pageb_req, FillPagebReq) &&
              RecordSeed(dir, "pageb_res", "pageb_res_end", xdr_pageb_res, FillPagebEnd) &&
              RecordSeed(dir, "pageb_res", "pageb_res_5", xdr_pageb_res, FillPagebPiece) &&
              RecordSeed(dir, "page_list", "page_list", xdr_page_list, FillPageList) &&
              RecordSeed(dir, "route_list", "route_list", xdr_route_list, FillRouteList) &&
              RecordSeed(dir, "s_rec_list", "s_rec_list", xdr_s_rec_list, FillSRecList) &&
              RecordSeed(dir, "a_p139_res", "a_p139_res", xdr_a_p139_res, FillSRecNodes);
    for (size_t i = 0; ok && i < xdrfuzz::kRoadCallCount; ++i)
        ok = ReplySeed(dir, i);
    if (!ok) {
        std::fprintf(stderr, "%s: could not write the seeds into %s\n", argv[0], dir.c_str());
        return 1;
    }
    return 0;
}
