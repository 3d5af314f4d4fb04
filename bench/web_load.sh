#!/bin/sh
# Web servers under load: oxel-cli on a pseudo-terminal board with the HTTP and
# WebSocket servers on loopback. The board sends numbered lines as fast as the
# program takes them for SECONDS, first with no clients, then with 16
# WebSocket clients and 16 HTTP keep-alive clients. Reports the console's
# intake both times, what every WebSocket client received (lines missing or
# out of order, or dropped because it did not keep up) and the HTTP requests
# answered.
# Usage: bench/web_load.sh [oxel-cli path] [seconds]
set -eu
CLI=${1:-build/oxel-cli}
SECONDS_RUN=${2:-10}
export CLI SECONDS_RUN
exec /usr/bin/python3 - <<'PYTHON'
import asyncio, json, re, multiprocessing, os, socket, subprocess, tempfile, threading, time, tty

import websockets

cli = os.path.abspath(os.environ["CLI"])
run_s = float(os.environ["SECONDS_RUN"])
work = tempfile.mkdtemp(prefix="oxel_web_bench_")
home = os.path.join(work, "http")
os.mkdir(home)
with open(os.path.join(home, "index.html"), "w") as f:
    f.write("<HTML><HEAD><TITLE>load</TITLE></HEAD><BODY><!--#title--> ok</BODY></HTML>\n")

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

http_port, ws_port = free_port(), free_port()
master, slave = os.openpty()
tty.setraw(master)
with open(os.path.join(work, "load.ct"), "w") as f:
    f.write("########\nBACKEND 1\nCOMPORT 3\nBAUDRATE 115200\nHTTPSRVR_ENABLED TRUE\n"
            "HTTPSRVR_PORT %d\nWEBSOCSRVR_PORT %d\nHTTP_START_DIR \"%s\"\n" % (http_port, ws_port, home))
prog = subprocess.Popen([cli, "-D", "COMDEV_3=" + os.ttyname(slave), os.path.join(work, "load.ct")],
                        env=dict(os.environ, OXEL_HOME=work), stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
shown = [0]
def drain():
    while True:
        b = prog.stdout.read1(1 << 16)
        if not b:
            return
        shown[0] += len(b)
threading.Thread(target=drain, daemon=True).start()

for _ in range(200):
    try:
        socket.create_connection(("127.0.0.1", http_port), timeout=1).close()
        break
    except OSError:
        time.sleep(0.05)
# Output before start-up has finished is not shown: wait until it is.
while shown[0] == 0:
    os.write(master, b"warm-up\r\n")
    time.sleep(0.1)

seq = [0]
def board(seconds):
    """Numbered lines as fast as the program reads them; returns bytes written."""
    end = time.monotonic() + seconds
    written = 0
    while time.monotonic() < end:
        chunk = "".join("L%09d the quick brown fox jumps over the lazy dog 0123456789\r\n" % (seq[0] + i)
                        for i in range(64)).encode()
        seq[0] += 64
        os.write(master, chunk)
        written += len(chunk)
    return written

def ws_client(port, index, ready, results):
    async def run():
        async with websockets.connect("ws://127.0.0.1:%d/" % port, max_size=None, ping_interval=None) as ws:
            ready.put(index)
            text = []
            try:
                async for m in ws:
                    msg = json.loads(m)
                    if msg.get("type") == "dat":
                        text.append(msg["data"])
                        if "@@END@@" in msg["data"]:
                            break
                dropped = False
            except websockets.exceptions.ConnectionClosed:
                dropped = True
            nums = [int(l[1:10]) for l in "".join(text).split("\n") if re.match(r"L\d{9} ", l)]
            gaps = sum(1 for a, b in zip(nums, nums[1:]) if b != a + 1)
            results.put((index, len(nums), gaps, dropped, nums[0] if nums else -1, nums[-1] if nums else -1))
    asyncio.run(run())

def http_client(port, stop, counts, index):
    s = socket.create_connection(("127.0.0.1", port))
    req = b"GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n"
    n = 0
    buf = b""
    while not stop.is_set():
        s.sendall(req)
        while b"</HTML>\n" not in buf:
            chunk = s.recv(4096)
            if not chunk:
                counts[index] = (n, "closed")
                return
            buf += chunk
        buf = buf[buf.index(b"</HTML>\n") + 8:]
        n += 1
    counts[index] = (n, "ok")
    s.close()

def cpu_s():
    with open("/proc/%d/stat" % prog.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

c0 = cpu_s()
quiet_bytes = board(run_s)
quiet_cpu = cpu_s() - c0
quiet_rate = quiet_bytes / run_s

ready, results = multiprocessing.Queue(), multiprocessing.Queue()
procs = [multiprocessing.Process(target=ws_client, args=(ws_port, i, ready, results)) for i in range(16)]
for p in procs:
    p.start()
for _ in procs:
    ready.get(timeout=30)
stop = threading.Event()
counts = [None] * 16
threads = [threading.Thread(target=http_client, args=(http_port, stop, counts, i)) for i in range(16)]
for t in threads:
    t.start()
first = seq[0]
c0 = cpu_s()
loaded_bytes = board(run_s)
loaded_cpu = cpu_s() - c0
os.write(master, b"@@END@@\r\n")
stop.set()
for t in threads:
    t.join(30)
res = [results.get(timeout=60) for _ in procs]
for p in procs:
    p.join(10)
loaded_rate = loaded_bytes / run_s
lines_sent = seq[0] - first

print("console intake, no clients:        %8.2f MB/s" % (quiet_rate / 1e6))
print("console intake, 16 WS + 16 HTTP:   %8.2f MB/s  (slowed by a factor of %.2f)" %
      (loaded_rate / 1e6, quiet_rate / loaded_rate if loaded_rate else float("inf")))
print("oxel-cli CPU per MB taken in:      %8.3f s quiet, %.3f s loaded (2 cores shared with all clients)" %
      (quiet_cpu / (quiet_bytes / 1e6), loaded_cpu / (loaded_bytes / 1e6)))
print("lines sent while loaded: %d" % lines_sent)
for index, n, gaps, dropped, lo, hi in sorted(res):
    state = "dropped (did not keep up)" if dropped else "complete" if gaps == 0 and hi == seq[0] - 1 else "INCOMPLETE"
    print("ws client %2d: %8d lines, %d gaps, %s" % (index, n, gaps, state))
print("http requests answered: %d (%s)" % (sum(c[0] for c in counts if c),
      ", ".join(sorted(set(c[1] for c in counts if c)))))
prog.stdin.close()
prog.terminate()
prog.wait(15)
PYTHON
