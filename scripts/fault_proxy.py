#!/usr/bin/env python3
"""A TCP proxy for the PostgreSQL wire protocol, on loopback, that adds a
fixed delay each way and can cut a connection at a chosen point of a
chosen statement: the faults a server across a network has.

    fault_proxy.py --target HOST:PORT [--listen PORT] [--delay-ms N]

The first line on standard output is "listening PORT". Standard input takes
one order a line, answered "ok":

    delay MS            the delay each way from now on
    drop WHEN PATTERN   the next statement whose text matches the regular
                        expression PATTERN cuts its connection:
                        WHEN = before  (the statement never reaches the server)
                               during  (half of it reaches the server)
                               after   (the server ran it and answered; the
                                        answer never reaches the client)
    hold SECONDS PATTERN
                        the server's answer to the next statement matching
                        PATTERN reaches the client SECONDS later (the server
                        ran it at once: a write commits, its answer is late)
    stall PATTERN       the next statement matching PATTERN is kept from the
                        server until "release"; "stalled" is printed when it
                        arrives (a test stops the server meanwhile)
    release             sends the stalled statement on
    blackhole on|off    from "on", nothing passes either way on any connection
                        (new ones included), as over a network path that
                        died; a connection that saw it stays dead after
                        "off", new ones work again
    blackhole at PATTERN
                        "on" when the next statement matching PATTERN
                        arrives (that statement goes nowhere either)
    count               prints "cuts N": how many cuts have happened
    quit

A statement is a simple query ('Q') or the execution ('E') of a prepared
one, whose text the proxy learnt from its 'P' message. Written by hand
because it has to read the protocol's messages to know where a statement
and its answer are; nothing else it does is more than copying bytes.
"""
import argparse
import asyncio
import re
import struct
import sys


class Orders:
    def __init__(self, delay):
        self.delay = delay / 1000.0
        self.drop = None  # (when, compiled pattern)
        self.hold = None  # (seconds, compiled pattern)
        self.stall = None  # compiled pattern
        self.released = None  # an asyncio.Event while a statement is stalled
        self.cuts = 0
        self.blackhole = False
        self.blackhole_at = None  # compiled pattern


def messages(buffer, started):
    """Whole messages at the start of `buffer`: (type or None, bytes), and
    what is left. The first message of a connection has no type byte."""
    out = []
    while True:
        if not started:
            if len(buffer) < 4:
                break
            n = struct.unpack("!I", buffer[:4])[0]
            if len(buffer) < n:
                break
            out.append((None, bytes(buffer[:n])))
            code = struct.unpack("!I", buffer[4:8])[0] if n >= 8 else 0
            # An SSL or GSS request is answered with one byte, and the
            # real start-up message follows.
            started = code not in (80877103, 80877104)
            buffer = buffer[n:]
            continue
        if len(buffer) < 5:
            break
        n = struct.unpack("!I", buffer[1:5])[0]
        if len(buffer) < n + 1:
            break
        out.append((chr(buffer[0]), bytes(buffer[:n + 1])))
        buffer = buffer[n + 1:]
    return out, buffer, started


def statement_text(kind, message, prepared):
    if kind == "Q":
        return message[5:].split(b"\0", 1)[0].decode("utf-8", "replace")
    if kind == "P":
        name, rest = message[5:].split(b"\0", 1)
        prepared[name] = rest.split(b"\0", 1)[0].decode("utf-8", "replace")
    if kind == "B":
        portal, rest = message[5:].split(b"\0", 1)
        prepared[b"portal:" + portal] = prepared.get(rest.split(b"\0", 1)[0], "")
    if kind == "E":
        portal = message[5:].split(b"\0", 1)[0]
        return prepared.get(b"portal:" + portal, "")
    return None


async def pipe_later(queue, writer):
    """Writes what arrives on `queue` once its time has come."""
    loop = asyncio.get_running_loop()
    while True:
        item = await queue.get()
        if item is None:
            break
        due, data = item
        wait = due - loop.time()
        if wait > 0:
            await asyncio.sleep(wait)
        writer.write(data)
        await writer.drain()
    writer.close()


async def serve(client_reader, client_writer, target, orders):
    host, port = target
    try:
        server_reader, server_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    loop = asyncio.get_running_loop()
    to_server, to_client = asyncio.Queue(), asyncio.Queue()
    writers = [asyncio.create_task(pipe_later(to_server, server_writer)),
               asyncio.create_task(pipe_later(to_client, client_writer))]
    state = {"cut_after_answer": False, "closed": False, "bare_replies": 0, "raw": False, "hold": 0.0,
             "dead": orders.blackhole}

    def dead():
        state["dead"] = state["dead"] or orders.blackhole
        return state["dead"]

    def cut():
        if not state["closed"]:
            state["closed"] = True
            orders.cuts += 1
            for q in (to_server, to_client):
                q.put_nowait(None)
            server_writer.transport.abort()
            client_writer.transport.abort()

    async def from_client():
        buffer, started, prepared = b"", False, {}
        while not state["closed"]:
            data = await client_reader.read(65536)
            if not data:
                break
            if dead():
                continue
            buffer += data
            found, buffer, started = messages(buffer, started)
            for kind, message in found:
                if kind is None and len(message) == 8:
                    state["bare_replies"] += 1  # an SSL or GSS request: one byte comes back
                text = statement_text(kind, message, prepared)
                if text is not None and orders.blackhole_at and orders.blackhole_at.search(text):
                    orders.blackhole_at = None
                    orders.blackhole = True
                if dead():
                    break
                hold = orders.hold
                if text is not None and hold and hold[1].search(text):
                    orders.hold = None
                    state["hold"] = hold[0]
                if text is not None and orders.stall and orders.stall.search(text):
                    orders.stall = None
                    orders.released = asyncio.Event()
                    print("stalled", flush=True)
                    await orders.released.wait()
                    orders.released = None
                drop = orders.drop
                if text is not None and drop and drop[1].search(text):
                    orders.drop = None
                    if drop[0] == "before":
                        cut()
                        return
                    if drop[0] == "during":
                        to_server.put_nowait((loop.time() + orders.delay, message[:len(message) // 2]))
                        await asyncio.sleep(orders.delay + 0.05)
                        cut()
                        return
                    state["cut_after_answer"] = True
                to_server.put_nowait((loop.time() + orders.delay, message))
        to_server.put_nowait(None)

    async def from_server():
        buffer, started = b"", True
        while not state["closed"]:
            data = await server_reader.read(65536)
            if not data:
                break
            if dead():
                continue
            buffer += data
            while state["bare_replies"] and buffer and not state["raw"]:
                state["bare_replies"] -= 1
                # 'S': the rest is encrypted, and only copied.
                state["raw"] = buffer[:1] == b"S"
                to_client.put_nowait((loop.time() + orders.delay, buffer[:1]))
                buffer = buffer[1:]
            if state["raw"]:
                to_client.put_nowait((loop.time() + orders.delay, buffer))
                buffer = b""
                continue
            found, buffer, started = messages(buffer, started)
            for kind, message in found:
                if kind == "Z" and state["cut_after_answer"]:
                    # The server has answered the statement: nothing of the
                    # answer goes on.
                    cut()
                    return
                # A held answer: its messages, up to the server's "ready",
                # wait; what follows queues behind them.
                to_client.put_nowait((loop.time() + orders.delay + state["hold"], message))
                if kind == "Z":
                    state["hold"] = 0.0
        to_client.put_nowait(None)

    # Either side gone (closed, reset, or cut): the other goes too, as a
    # network connection does. Waiting for both would leave a client that
    # waits for an answer hanging on a connection whose server is gone.
    readers = [asyncio.create_task(from_client()), asyncio.create_task(from_server())]
    await asyncio.wait(readers, return_when=asyncio.FIRST_COMPLETED)
    cut_quietly(state, to_server, to_client)
    for task in readers:
        task.cancel()
    await asyncio.gather(*readers, *writers, return_exceptions=True)


def cut_quietly(state, to_server, to_client):
    if not state["closed"]:
        state["closed"] = True
        for q in (to_server, to_client):
            q.put_nowait(None)


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target", required=True)
    p.add_argument("--listen", type=int, default=0)
    p.add_argument("--delay-ms", type=float, default=0)
    args = p.parse_args()
    host, port = args.target.rsplit(":", 1)
    orders = Orders(args.delay_ms)
    server = await asyncio.start_server(lambda r, w: serve(r, w, (host, int(port)), orders), "127.0.0.1", args.listen)
    print(f"listening {server.sockets[0].getsockname()[1]}", flush=True)
    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    while True:
        line = (await reader.readline()).decode().strip()
        if not line or line == "quit":
            break
        words = line.split(" ", 2)
        if words[0] == "delay" and len(words) == 2:
            orders.delay = float(words[1]) / 1000.0
        elif words[0] == "drop" and len(words) == 3 and words[1] in ("before", "during", "after"):
            orders.drop = (words[1], re.compile(words[2], re.IGNORECASE))
        elif words[0] == "hold" and len(words) == 3:
            orders.hold = (float(words[1]), re.compile(words[2], re.IGNORECASE))
        elif words[0] == "stall" and len(words) >= 2:
            orders.stall = re.compile(line.split(" ", 1)[1], re.IGNORECASE)
        elif words[0] == "release" and len(words) == 1:
            if orders.released:
                orders.released.set()
        elif words[0] == "blackhole" and len(words) == 2 and words[1] in ("on", "off"):
            orders.blackhole = words[1] == "on"
        elif words[0] == "blackhole" and len(words) == 3 and words[1] == "at":
            orders.blackhole_at = re.compile(words[2], re.IGNORECASE)
        elif words[0] == "count":
            print(f"cuts {orders.cuts}", flush=True)
            continue
        else:
            print(f"error: {line}", flush=True)
            continue
        print("ok", flush=True)
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
