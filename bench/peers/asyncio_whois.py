#!/usr/bin/env python3
"""A minimal port-43 client in asyncio, as polite as quorvane-cli: at most one connection to a
server at a time, the delay between two requests to one server counted from the end of one to
the start of the next, at most PARALLEL servers busy at once. Each answer is written as one JSON
line (address, server, record) to standard output.

    asyncio_whois.py LIST MAP PARALLEL DELAY

LIST holds one address a line; MAP one "tld host:port" a line (the server each TLD is asked).
Prints nothing else; a failed lookup is a line with an "error" key.
"""
import asyncio
import json
import sys


async def ask(host, port, query):
    reader, writer = await asyncio.open_connection(host, port)
    try:
        writer.write(query.encode() + b"\r\n")
        await writer.drain()
        return await reader.read(-1)
    finally:
        writer.close()


async def server_worker(server, names, busy, delay, out):
    host, port = server.rsplit(":", 1)
    port = int(port)
    for i, name in enumerate(names):
        if i and delay > 0:
            await asyncio.sleep(delay)
        async with busy:
            line = {"address": name, "server": server}
            try:
                answer = await asyncio.wait_for(ask(host, port, name), 30)
                line["record"] = answer.decode("utf-8", "replace")
            except (OSError, asyncio.TimeoutError) as error:
                line["error"] = str(error) or type(error).__name__
            out.write(json.dumps(line) + "\n")


async def main():
    list_path, map_path, parallel, delay = sys.argv[1:5]
    servers = {}
    with open(map_path) as f:
        for row in f:
            tld, server = row.split()
            servers[tld] = server
    queues = {}
    with open(list_path) as f:
        for row in f:
            name = row.strip()
            if name:
                queues.setdefault(servers[name.rsplit(".", 1)[1]], []).append(name)
    busy = asyncio.Semaphore(int(parallel))
    out = sys.stdout
    await asyncio.gather(
        *(server_worker(s, names, busy, float(delay), out) for s, names in queues.items()))
    out.flush()


asyncio.run(main())
