#!/usr/bin/env python3
"""Headless Chromium driven over its DevTools protocol, for the e2e tests.

  browser_driver.py URL PROFILE_DIR

Starts Debian's chromium on URL with a fresh profile, prints "READY" once the
page has loaded, then runs commands read from standard input, one a line:
  eval JS        prints "RESULT <json of the value>"
  type TEXT      focuses the line input, types TEXT and presses Enter; prints "TYPED"
  shot PATH      writes a PNG screenshot; prints "SHOT"
End of input closes the browser.
"""
import asyncio
import base64
import json
import os
import socket
import subprocess
import sys
import time
import urllib.request

import websockets

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--window-size=1100,720", "--hide-scrollbars"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Cdp:
    def __init__(self, ws):
        self.ws = ws
        self.next_id = 0

    async def call(self, method, **params):
        self.next_id += 1
        my_id = self.next_id
        await self.ws.send(json.dumps({"id": my_id, "method": method, "params": params}))
        while True:
            m = json.loads(await self.ws.recv())
            if m.get("id") == my_id:
                if "error" in m:
                    raise RuntimeError(m["error"])
                return m.get("result", {})


def page_target(port, deadline):
    while time.monotonic() < deadline:
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port, timeout=2) as r:
                for t in json.load(r):
                    if t.get("type") == "page":
                        return t["webSocketDebuggerUrl"]
        except OSError:
            pass
        time.sleep(0.2)
    raise RuntimeError("chromium did not open its debugging port")


async def run(url, profile):
    port = free_port()
    browser = subprocess.Popen(["chromium"] + FLAGS + ["--user-data-dir=" + profile,
                                                       "--remote-debugging-port=%d" % port, url],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        target = page_target(port, time.monotonic() + 60)
        async with websockets.connect(target, max_size=None, ping_interval=None) as ws:
            cdp = Cdp(ws)
            for _ in range(300):
                r = await cdp.call("Runtime.evaluate", expression="document.readyState", returnByValue=True)
                if r["result"].get("value") == "complete":
                    break
                await asyncio.sleep(0.1)
            print("READY", flush=True)
            loop = asyncio.get_running_loop()
            while True:
                line = await loop.run_in_executor(None, sys.stdin.readline)
                if not line:
                    break
                cmd, _, arg = line.rstrip("\n").partition(" ")
                if cmd == "eval":
                    r = await cdp.call("Runtime.evaluate", expression=arg, returnByValue=True)
                    print("RESULT", json.dumps(r["result"].get("value")), flush=True)
                elif cmd == "type":
                    await cdp.call("Runtime.evaluate", expression="document.getElementById('text').focus()")
                    await cdp.call("Input.insertText", text=arg)
                    for kind in ("keyDown", "keyUp"):
                        await cdp.call("Input.dispatchKeyEvent", type=kind, key="Enter", code="Enter",
                                       windowsVirtualKeyCode=13, text="\r" if kind == "keyDown" else "")
                    print("TYPED", flush=True)
                elif cmd == "shot":
                    r = await cdp.call("Page.captureScreenshot", format="png")
                    with open(arg, "wb") as f:
                        f.write(base64.b64decode(r["data"]))
                    print("SHOT", flush=True)
    finally:
        browser.terminate()
        try:
            browser.wait(15)
        except subprocess.TimeoutExpired:
            browser.kill()


if __name__ == "__main__":
    asyncio.run(run(sys.argv[1], sys.argv[2]))
