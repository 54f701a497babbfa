#!/bin/sh
# Runs a test program in a private network and mount namespace with a tmpfs on /run, so that a
# portmapper started there owns port 111 and /run without touching the machine's own ones.
# Exits 77 (reported as skipped) when such a namespace cannot be made here; where the environment
# variable CI is set (a run as root with iproute2) it fails instead, so that the portmapper query
# cannot go untested.
if ! command -v unshare >/dev/null 2>&1 || ! command -v ip >/dev/null 2>&1; then
    if [ -n "${CI:-}" ]; then
        echo "FAILED: unshare or ip (iproute2) is missing, and CI is set: the test cannot skip"
        exit 1
    fi
    echo "SKIPPED: unshare or ip (iproute2) is missing"
    exit 77
fi
if ! unshare -n -m --propagation private true 2>/dev/null; then
    if [ -n "${CI:-}" ]; then
        echo "FAILED: a private network and mount namespace (unshare -n -m) is not permitted here, and CI is set: the test cannot skip"
        exit 1
    fi
    echo "SKIPPED: a private network and mount namespace (unshare -n -m) is not permitted here"
    exit 77
fi
exec unshare -n -m --propagation private sh -c \
    'mount -t tmpfs tmpfs /run && ip link set lo up && TELA_PRIVATE_NETNS=1 exec "$@"' sh "$@"
