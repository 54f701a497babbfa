#!/usr/bin/env python3
"""A hostile alpha server for tests: ONC RPC over TCP with record marking, on loopback only.

Usage: hostile_alpha.py MODE --program N [--port N] [--delay S] [--chunk N] [--lifetime S] [--recipient TEXT]
                        [--upstream PORT] [--split-proc N]

Prints the port it listens on (one line on stdout), then "call" for each call it reads, and serves every connection in a thread of
its own. It stops by itself after --lifetime seconds (120 by default). Modes:
  trickle  a valid answer to each call, sent --chunk bytes (default 1) every --delay seconds
           (default 1)
  foreign  answers with other transaction ids, one every 50 ms, for as long as it runs
  silent   reads the calls and never answers
  endless  begins an answer whose record never ends: a fragment that is not the last, every 50 ms
  slow     a valid answer to each call after --delay seconds; the log export never ends
           (every answer holds ten more lines)
  split    the first answer on each connection in two fragments (the first of 32 bytes): its
           first --chunk bytes at once, the rest after --delay seconds; later answers whole, at
           once
  proxy    passes every call on to the alpha server on 127.0.0.1:--upstream and its answer back;
           the first answer to procedure --split-proc goes as in split mode
Valid answers: procedure 137 (send record, version 1 arm, in progress, with --recipient) and
procedure 72 (log lines); any other procedure gets "procedure unavailable".
"""
import argparse
import socket
import struct
import sys
import threading
import time

# alpha's program number, from the command line (the test support has it from the system's table).
ALPHA_PROGRAM = 0


def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def text(value, width):
    """A fixed text field: one 4-byte unit per character, NUL-filled to its width."""
    raw = value.encode()[: width - 1].ljust(width, b"\0")
    return b"".join(struct.pack(">i", b if b < 128 else b - 256) for b in raw)


def send_record_reply(recipient):
    v1 = (
        u32(4711) + text("alice", 11) + u32(0) + u32(0x100) + u32(0) + text("hostile", 31)
        + u32(1000000000) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0)
        + u32(2) + u32(0) + u32(1) + text("", 21) + text(recipient, 31) + u32(0) + u32(0)
        + u32(0) + u32(0) + text("", 11) + u32(0) + text("", 11) + text("alice@example.com", 81)
        + text("", 11) + text("", 81) + text("", 36) + text("", 11) + text("", 11) + text("", 36)
        + text("", 11)
    )
    return u32(0) + u32(1) + v1  # final 0, version 1


def log_reply(first_line):
    body = u32(1) + u32(first_line + 10)
    for i in range(10):
        body += u32(1) + ("line %d" % (first_line + i)).encode().ljust(104, b"\0")
    return body + u32(0)


def reply(xid, results, accept_stat=0):
    return u32(xid) + u32(1) + u32(0) + u32(0) + u32(0) + u32(accept_stat) + results


def marked(record):
    return u32(0x80000000 | len(record)) + record


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_record(conn):
    record = b""
    while True:
        (header,) = struct.unpack(">I", read_exact(conn, 4))
        length = header & 0x7FFFFFFF
        if length > 1 << 20:
            raise EOFError
        record += read_exact(conn, length)
        if header & 0x80000000:
            return record


def answer(call, recipient):
    """(xid, the marked reply record) of one call."""
    xid, _mtype, _rpcvers, prog, _vers, proc = struct.unpack(">6I", call[:24])
    pos = 24
    for _ in range(2):  # credentials and verifier
        (length,) = struct.unpack(">I", call[pos + 4 : pos + 8])
        pos += 8 + (length + 3) // 4 * 4
    args = call[pos:]
    if prog == ALPHA_PROGRAM and proc == 137:
        return xid, marked(reply(xid, send_record_reply(recipient)))
    if prog == ALPHA_PROGRAM and proc == 72:
        (first_line,) = struct.unpack(">i", args[52:56])  # after user (44), kind, job
        return xid, marked(reply(xid, log_reply(first_line)))
    return xid, marked(reply(xid, b"", accept_stat=3))


def two_fragments(record):
    """The marked record sent again as a first fragment of 32 bytes and a last one."""
    body = record[4:]
    return u32(32) + body[:32] + marked(body[32:])


def send_split(conn, record, opts):
    """The record in two fragments: the first --chunk bytes now, the rest after --delay s."""
    record = two_fragments(record)
    conn.sendall(record[: opts.chunk])
    time.sleep(opts.delay)
    conn.sendall(record[opts.chunk :])


def proxy(conn, opts):
    split = True
    upstream = None
    try:
        upstream = socket.create_connection(("127.0.0.1", opts.upstream))
        while True:
            call = read_record(conn)
            (proc,) = struct.unpack(">I", call[20:24])
            upstream.sendall(marked(call))
            record = marked(read_record(upstream))
            if split and proc == opts.split_proc:
                split = False
                send_split(conn, record, opts)
            else:
                conn.sendall(record)
    except (EOFError, OSError):
        pass
    finally:
        if upstream is not None:
            upstream.close()
        conn.close()


def serve(conn, opts):
    if opts.mode == "proxy":
        proxy(conn, opts)
        return
    first = True
    try:
        while True:
            call = read_record(conn)
            # One line per call read, so that a test can wait until a call has arrived.
            print("call", flush=True)
            xid, record = answer(call, opts.recipient)
            if opts.mode == "trickle":
                for i in range(0, len(record), opts.chunk):
                    conn.sendall(record[i : i + opts.chunk])
                    time.sleep(opts.delay)
            elif opts.mode == "foreign":
                other = xid
                while True:
                    other = (other + 1) & 0xFFFFFFFF
                    conn.sendall(marked(reply(other, b"")))
                    time.sleep(0.05)
            elif opts.mode == "endless":
                # A reply header (of another id, so that the whole record must be passed over)
                # in a fragment that is not the last, then more such fragments.
                conn.sendall(u32(28) + reply(xid + 1, u32(0)))
                while True:
                    conn.sendall(u32(8) + u32(0) + u32(0))
                    time.sleep(0.05)
            elif opts.mode == "split":
                if first:
                    send_split(conn, record, opts)
                else:
                    conn.sendall(record)
            elif opts.mode == "silent":
                while conn.recv(4096):
                    pass
                return
            else:
                time.sleep(opts.delay)
                conn.sendall(record)
            first = False
    except (EOFError, OSError):
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["trickle", "foreign", "silent", "endless", "slow", "split", "proxy"])
    parser.add_argument("--program", type=int, required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--delay", type=float, default=1.0)
    parser.add_argument("--chunk", type=int, default=1)
    parser.add_argument("--lifetime", type=float, default=120.0)
    parser.add_argument("--recipient", default="bob@example.com")
    parser.add_argument("--upstream", type=int, default=0)
    parser.add_argument("--split-proc", type=int, default=-1)
    opts = parser.parse_args()
    global ALPHA_PROGRAM
    ALPHA_PROGRAM = opts.program
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", opts.port))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    end = time.monotonic() + opts.lifetime
    while True:
        left = end - time.monotonic()
        if left <= 0:
            break
        listener.settimeout(left)
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        threading.Thread(target=serve, args=(conn, opts), daemon=True).start()
    sys.exit(0)


if __name__ == "__main__":
    main()
