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
import asyncio
import signal
import sys

CHUNK = 256 * 1024


async def relay(reader, writer, delay, setup_until):
    """Copies reader to writer, each chunk `delay` seconds late."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def collect():
        while True:
            try:
                data = await reader.read(CHUNK)
            except ConnectionError:
                data = b""
            due = max(loop.time(), setup_until) + delay
            queue.put_nowait((due, data))
            if not data:
                return

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
            except ConnectionError:
                return

    await asyncio.gather(collect(), deliver())


async def serve(listen_host, listen_port, target_host, target_port, delay):
    async def on_client(client_reader, client_writer):
        loop = asyncio.get_running_loop()
        # The client's first bytes could leave only after SYN and SYN-ACK.
        setup_until = loop.time() + 2 * delay
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, target_port)
        except OSError:
            client_writer.close()
            return
        try:
            await asyncio.gather(
                relay(client_reader, server_writer, delay, setup_until),
                relay(server_reader, client_writer, delay, 0.0),
            )
        finally:
            for w in (server_writer, client_writer):
                w.close()

    server = await asyncio.start_server(on_client, listen_host, listen_port, reuse_address=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print("ready", flush=True)
    async with server:
        await stop.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", required=True, help="HOST:PORT to accept on")
    parser.add_argument("--target", required=True, help="HOST:PORT to relay to")
    parser.add_argument("--delay-ms", type=float, required=True, help="one-way delay")
    args = parser.parse_args()
    lh, lp = args.listen.rsplit(":", 1)
    th, tp = args.target.rsplit(":", 1)
    try:
        asyncio.run(serve(lh, int(lp), th, int(tp), args.delay_ms / 1000.0))
    except OSError as e:
        print(f"delayline: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
