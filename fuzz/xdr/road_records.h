// The records that the decoder targets read from arbitrary bytes: every request and answer of
// the two programs' roads, and the list answers of every node shape (link first, link last,
// lists of unions). An input's first byte picks the record by its index here, so new rows go
// at the end: the seed corpus names records by index.
#pragma once

#include <cstddef>

#include <rpc/types.h>
#include <rpc/xdr.h>

#include "xdr/records.h"

// clang-format off
#define TELA_ROAD_RECORDS(X)                                                                  \
    X(compat_rec) X(route_req) X(route_res) X(usrconf_new_req) X(usrconf_new_res) X(user_key) \
    X(a_user_rec) X(group_rec) X(s_rec_req) X(s_rec_res) X(log_req) X(log_res) X(pageb_req) \
    X(pageb_res) X(page_list) X(job_key) X(text_req) X(blob) X(str81) X(str11)              \
    X(route_list) X(user_list) X(group_list) X(a_p112_res) X(a_p146_res) X(s_rec_list)      \
    X(a_p139_res) X(a_p17_list) X(a_p142_res) X(a_p18_list) X(a_p39_res) X(route_rec_res)   \
    X(usrconf_key) X(usrconf_rec) X(log_line_rec) X(pageb_rec)
// clang-format on

namespace xdrfuzz {

struct RoadRecord {
    const char *name;
    xdrproc_t proc;
    std::size_t size;  // bytes of the record in memory
};

#define TELA_ROAD_ROW(type) {#type, reinterpret_cast<xdrproc_t>(xdr_##type), sizeof(type)},
inline const RoadRecord kRoadRecords[] = {TELA_ROAD_RECORDS(TELA_ROAD_ROW)};
#undef TELA_ROAD_ROW

inline constexpr std::size_t kRoadRecordCount = sizeof kRoadRecords / sizeof kRoadRecords[0];

}  // namespace xdrfuzz
