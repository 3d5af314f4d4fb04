#!/usr/bin/env python3
"""A WebSocket peer for the e2e tests, on Debian's python3-websockets.

  ws_client.py session URL [ORIGIN]
      Connects; prints "OPEN" (or "REFUSED <status>"), then every message
      received as "MSG <json string>". Each line on standard input is sent as
      a text message; end of input closes. Prints "CLOSED" when the server
      closes first.
  ws_client.py raw HOST PORT HEX
      Opens a plain socket, does the handshake, sends the bytes given in hex
      and prints "CLOSED <n>" when the server closes the connection (n bytes
      received after the handshake) or "OPEN" when it is still open after
      five seconds.
"""
import asyncio
import base64
import json
import os
import socket
import sys
import time

import websockets


async def session(url, origin):
    try:
        ws = await websockets.connect(url, origin=origin, max_size=None, ping_interval=None,
                                      open_timeout=10)
    except websockets.exceptions.InvalidStatusCode as e:
        print("REFUSED", e.status_code, flush=True)
        return
    print("OPEN", flush=True)
    loop = asyncio.get_running_loop()

    async def reader():
        try:
            async for m in ws:
                print("MSG", json.dumps(m), flush=True)
        except websockets.exceptions.ConnectionClosed:
            pass
        print("CLOSED", flush=True)

    task = asyncio.create_task(reader())
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            break
        try:
            await ws.send(line.rstrip("\n"))
        except websockets.exceptions.ConnectionClosed:
            break
    await ws.close()
    await asyncio.wait_for(task, 10)


def raw(host, port, data):
    s = socket.create_connection((host, port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall(("GET / HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (host, port, key)).encode())
    reply = b""
    while b"\r\n\r\n" not in reply:
        chunk = s.recv(1)
        if not chunk:
            print("NO HANDSHAKE", flush=True)
            return
        reply += chunk
    s.sendall(data)
    s.settimeout(0.5)
    got = 0
    end = time.monotonic() + 5
    while time.monotonic() < end:
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            continue
        except ConnectionResetError:
            chunk = b""
        if not chunk:
            print("CLOSED", got, flush=True)
            return
        got += len(chunk)
    print("OPEN", flush=True)


def main():
    if sys.argv[1] == "session":
        asyncio.run(session(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None))
    elif sys.argv[1] == "raw":
        raw(sys.argv[2], int(sys.argv[3]), bytes.fromhex(sys.argv[4]))


if __name__ == "__main__":
    main()
