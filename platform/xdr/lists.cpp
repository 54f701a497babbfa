// Iterative routines of the list node records (see lists.h).
#include "xdr/lists.h"

#include "xdr/records.h"

#include <err.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// The ceiling that the innermost ListNodeCeiling of this thread sets; none by default.
thread_local std::size_t scopedNodeCeiling = SIZE_MAX;

template <class Node>
using BodyProc = bool_t (*)(XDR *, Node *);

// Decoding cannot have the memory for the list: said as the RPC library says it when the
// allocation of an optional record fails.
bool_t OutOfMemory()
{
    warnx("xdr_reference: out of memory");
    return FALSE;
}

// Allocates the node after `cur` when decoding finds a presence unit of 1 in a list that holds
// `count` nodes so far. At the ceiling of the list, or when no node can be had, it fails.
template <class Node>
bool_t LinkNext(Node *cur, std::size_t count)
{
    if (count >= tela::kListNodeLimit<Node> || count >= scopedNodeCeiling)
        return OutOfMemory();
    if (cur->next == nullptr) {
        cur->next = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        if (cur->next == nullptr)
            return OutOfMemory();
    }
    return TRUE;
}

// Releases the bodies of all nodes from `head` on and the nodes after `head`.
template <class Node, BodyProc<Node> Body>
bool_t FreeChain(XDR *xdrs, Node *head)
{
    Node *n = head;
    while (n != nullptr) {
        Node *next = n->next;
        Body(xdrs, n);
        if (n != head)
            std::free(n);
        n = next;
    }
    head->next = nullptr;
    return TRUE;
}

template <class Node, BodyProc<Node> Body>
bool_t LinkFirst(XDR *xdrs, Node *head)
{
    if (xdrs->x_op == XDR_FREE)
        return FreeChain<Node, Body>(xdrs, head);
    try {
        std::vector<Node *> chain;
        if (xdrs->x_op == XDR_ENCODE) {
            for (Node *n = head; n != nullptr; n = n->next)
                chain.push_back(n);
            for (Node *n : chain) {
                bool_t more = n->next != nullptr;
                if (!xdr_bool(xdrs, &more))
                    return FALSE;
            }
        } else {
            chain.push_back(head);
            for (;;) {
                Node *cur = chain.back();
                bool_t more = FALSE;
                if (!xdr_bool(xdrs, &more))
                    return FALSE;
                if (!more) {
                    cur->next = nullptr;
                    break;
                }
                if (!LinkNext(cur, chain.size()))
                    return FALSE;
                chain.push_back(cur->next);
            }
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            if (!Body(xdrs, *it))
                return FALSE;
        return TRUE;
    } catch (const std::bad_alloc &) {
        return xdrs->x_op == XDR_DECODE ? OutOfMemory() : FALSE;
    }
}

template <class Node, BodyProc<Node> Body>
bool_t LinkLast(XDR *xdrs, Node *head)
{
    if (xdrs->x_op == XDR_FREE)
        return FreeChain<Node, Body>(xdrs, head);
    std::size_t count = 1;
    for (Node *cur = head;; cur = cur->next, ++count) {
        if (!Body(xdrs, cur))
            return FALSE;
        bool_t more = cur->next != nullptr;
        if (!xdr_bool(xdrs, &more))
            return FALSE;
        if (!more) {
            cur->next = nullptr;
            return TRUE;
        }
        if (xdrs->x_op == XDR_DECODE && !LinkNext(cur, count))
            return FALSE;
    }
}

}  // namespace

tela::ListNodeCeiling::ListNodeCeiling(std::size_t nodes) noexcept : outer_(scopedNodeCeiling)
{
    if (nodes < scopedNodeCeiling)
        scopedNodeCeiling = nodes;
}

tela::ListNodeCeiling::~ListNodeCeiling()
{
    scopedNodeCeiling = outer_;
}

// One row per node record: its name, whether the link comes first or last, and its body.
#define TELA_LIST_NODE(node, shape, body)               \
    static bool_t node##_body(XDR *xdrs, node *n)       \
    {                                                   \
        return body;                                    \
    }                                                   \
    extern "C" bool_t xdr_##node(XDR *xdrs, node *objp) \
    {                                                   \
        return shape<node, node##_body>(xdrs, objp);    \
    }

TELA_LIST_NODE(route_node, LinkFirst, xdr_route_rec(xdrs, &n->entry))
TELA_LIST_NODE(user_node, LinkFirst, xdr_user_rec(xdrs, &n->entry))
TELA_LIST_NODE(group_node, LinkFirst, xdr_group_rec(xdrs, &n->entry))
TELA_LIST_NODE(usrconf_node, LinkFirst,
               xdr_str11(xdrs, n->user) && xdr_str11(xdrs, n->key) && xdr_str81(xdrs, n->value))
TELA_LIST_NODE(usrconf_new_node, LinkFirst, xdr_usrconf_new_rec(xdrs, &n->entry))
TELA_LIST_NODE(s_rec_v0_node, LinkLast, xdr_s_rec(xdrs, &n->entry))
TELA_LIST_NODE(s_rec_node, LinkFirst, xdr_s_rec_new(xdrs, &n->entry))
TELA_LIST_NODE(a_p17_node, LinkLast, xdr_a_p17_rec(xdrs, &n->entry))
TELA_LIST_NODE(a_p17_node_new, LinkFirst, xdr_a_p17_rec_new(xdrs, &n->entry))
TELA_LIST_NODE(a_p18_node, LinkLast, xdr_a_p18_rec(xdrs, &n->entry))
TELA_LIST_NODE(text_line, LinkFirst, xdr_opaque101(xdrs, n->text))
TELA_LIST_NODE(config_node, LinkFirst, xdr_config_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab7_node, LinkFirst, xdr_o_tab7_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab11_node, LinkFirst, xdr_o_tab11_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab102_node, LinkFirst, xdr_o_tab102_rec(xdrs, &n->entry))
TELA_LIST_NODE(str11_node, LinkFirst, xdr_str11(xdrs, n->name))
TELA_LIST_NODE(str21_node, LinkFirst, xdr_str21(xdrs, n->name))
TELA_LIST_NODE(o_tab15_node, LinkFirst, xdr_o_tab15_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab19_node, LinkFirst, xdr_o_tab19_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab23_node, LinkFirst, xdr_o_tab23_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab27_node, LinkFirst, xdr_o_tab27_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab35_node, LinkFirst, xdr_o_tab35_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab38_node, LinkFirst, xdr_o_tab38_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab43_node, LinkFirst, xdr_o_tab43_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_p47_node, LinkFirst, xdr_o_p47_item(xdrs, &n->entry))
TELA_LIST_NODE(o_tab58_node, LinkFirst, xdr_o_tab58_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab62_node, LinkFirst, xdr_o_tab62_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab67_node, LinkFirst, xdr_o_tab67_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab72_node, LinkFirst, xdr_o_tab72_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab79_node, LinkFirst, xdr_o_tab79_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab97_node, LinkFirst, xdr_o_tab97_rec(xdrs, &n->entry))
TELA_LIST_NODE(o_tab107_node, LinkFirst, xdr_o_tab107_rec(xdrs, &n->entry))
// each node of omega 53's answer carries a list of its own after its name
TELA_LIST_NODE(o_p53_node, LinkFirst,
               xdr_str36(xdrs, n->name) &&
                   xdr_pointer(xdrs, reinterpret_cast<char **>(&n->members), sizeof(str11_node),
                               reinterpret_cast<xdrproc_t>(xdr_str11_node)))
TELA_LIST_NODE(o_p114_node, LinkLast,
               xdr_str11(xdrs, n->f1) && xdr_int(xdrs, &n->f2) && xdr_int(xdrs, &n->f3))
TELA_LIST_NODE(a_p1006_node, LinkFirst,
               xdr_str11(xdrs, n->f1) && xdr_str81(xdrs, n->f2) && xdr_int(xdrs, &n->f3))
TELA_LIST_NODE(a_p1009_node, LinkFirst, xdr_a_p1009_rec(xdrs, &n->entry))
// the line of an interface A text node travels as 101 characters, one unit each
TELA_LIST_NODE(xa_text_node, LinkFirst,
               xdr_vector(xdrs, n->text, 101, sizeof(sxchar), reinterpret_cast<xdrproc_t>(xdr_sxchar)))
TELA_LIST_NODE(xa_entry_node, LinkFirst, xdr_xa_entry(xdrs, &n->entry))
