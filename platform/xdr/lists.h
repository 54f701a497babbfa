// List nodes of the alpha and omega records.
//
// Every node record's routine (xdr_text_line, xdr_route_node, ...) walks its list in a loop
// instead of recursing once per node, with exactly the wire form of the recursive routine:
// - link first (most nodes): all presence units of the chain first, then the node bodies from
//   the last node to the first; decoding rebuilds the sender's order;
// - link last (s_rec_v0_node, a_p17_node, a_p18_node, o_p114_node): body, presence, body,
//   presence, ... 0.
// Decoding allocates each node zero-filled where the link is null, and links it before its
// body is read, so a failed decode leaves a chain that xdr_free releases whole. Freeing
// releases every node after the one passed in and nulls its link (the caller's xdr_pointer
// frees that first node, as for any optional record).
#pragma once

#include <cstddef>

namespace tela {

// Most nodes a decoded list may hold, and most memory its nodes may take (a presence unit of
// 4 bytes on the wire makes the decoder allocate a whole node). A longer answer fails to
// decode; nothing crashes, and the nodes decoded so far are released with the result. Such a
// failure, like a node that cannot be allocated, writes the RPC library's own line for a failed
// allocation to the standard error ("<program>: xdr_reference: out of memory").
inline constexpr std::size_t kMaxListNodes = 1u << 20;
inline constexpr std::size_t kMaxListBytes = std::size_t(256) << 20;

template <class Node>
inline constexpr std::size_t kListNodeLimit = kMaxListBytes / sizeof(Node) < kMaxListNodes
                                                  ? kMaxListBytes / sizeof(Node)
                                                  : kMaxListNodes;

// While an object of this class lives, every list that the constructing thread decodes holds at
// most `nodes` nodes (or its type's ceiling above, when that is lower); a longer one fails as
// past that ceiling, before its nodes take memory. A caller that knows how many entries an answer
// can usefully carry sets it around the call; nested objects keep the lower ceiling, and the
// previous one is back when the object goes.
class ListNodeCeiling {
public:
    explicit ListNodeCeiling(std::size_t nodes) noexcept;
    ~ListNodeCeiling();
    ListNodeCeiling(const ListNodeCeiling &) = delete;
    ListNodeCeiling &operator=(const ListNodeCeiling &) = delete;

private:
    std::size_t outer_;
};

}  // namespace tela
