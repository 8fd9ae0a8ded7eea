#!/usr/bin/env python3
"""A TCP relay that delays every byte by a fixed one-way time in each direction.

Stands in for `tc netem` where the kernel has no netem: clients connect to
--listen, the relay connects to --target, and each chunk read on one side is
written to the other side DELAY milliseconds after it arrived, in order. A new
connection also pays one round trip before its first byte moves on, as the
TCP handshake would. Not modelled: slow start, loss, bandwidth limits.

Prints "ready" on stdout once it listens; stops on SIGTERM or SIGINT.
"""
import argparse
import queue
import signal
import socket
import sys
import threading
import time

CHUNK = 1 << 20


def pump(src, dst, delay, hold_until):
    """Copies src to dst, each chunk `delay` seconds after it was read."""
    pending = queue.SimpleQueue()

    def deliver():
        while True:
            due, data = pending.get()
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                if not data:
                    dst.shutdown(socket.SHUT_WR)
                    return
                dst.sendall(data)
            except OSError:
                return

    sender = threading.Thread(target=deliver, daemon=True)
    sender.start()
    buf = bytearray(CHUNK)
    while True:
        try:
            n = src.recv_into(buf)
        except OSError:
            n = 0
        pending.put((max(time.monotonic(), hold_until) + delay, bytes(buf[:n])))
        if n == 0:
            break
    sender.join()


def serve_connection(client, target, delay):
    # The client's first bytes could leave only after SYN and SYN-ACK.
    hold_until = time.monotonic() + 2 * delay
    try:
        upstream = socket.create_connection(target)
    except OSError:
        client.close()
        return
    for s in (client, upstream):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    back = threading.Thread(target=pump, args=(upstream, client, delay, 0.0), daemon=True)
    back.start()
    pump(client, upstream, delay, hold_until)
    back.join()
    client.close()
    upstream.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", required=True, help="HOST:PORT to accept on")
    parser.add_argument("--target", required=True, help="HOST:PORT to relay to")
    parser.add_argument("--delay-ms", type=float, required=True, help="one-way delay")
    args = parser.parse_args()
    lh, lp = args.listen.rsplit(":", 1)
    th, tp = args.target.rsplit(":", 1)
    delay = args.delay_ms / 1000.0

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        listener = socket.create_server((lh, int(lp)), reuse_port=False)
    except OSError as e:
        print(f"delayline: {e}", file=sys.stderr)
        return 1
    print("ready", flush=True)
    try:
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve_connection, args=(client, (th, int(tp)), delay),
                             daemon=True).start()
    except KeyboardInterrupt:
        return 0
    finally:
        listener.close()


if __name__ == "__main__":
    sys.exit(main())
