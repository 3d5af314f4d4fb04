#!/bin/sh
# Whole-program throughput: the same file of 80-column target output pushed
#  1. into a serial pseudo-terminal that oxel-cli has open as COM3, timed
#     until oxel-cli has shown every byte (its standard output), and
#  2. into tmux (a headless terminal with 1200 lines of scroll-back) through
#     its pane's pseudo-terminal, timed until tmux has read it all.
# Usage: bench/pty_throughput.sh [oxel-cli path] [megabytes]
set -eu
CLI=${1:-build/oxel-cli}
MB=${2:-100}
export CLI MB
exec python3 - <<'PYTHON'
import os, subprocess, sys, tempfile, threading, time, tty, shutil

cli = os.path.abspath(os.environ["CLI"])
mb = int(os.environ["MB"])
work = tempfile.mkdtemp(prefix="oxel_pty_bench_")
marker = b"@@END-OF-BENCH@@"

def make_file(path, size):
    lines = []
    for n in range(1000):
        if n % 10 == 0:
            s = "[%6d.%03d] \x1b[1;32mOK\x1b[0m  service netd started, pid %5d, mem %7d kB ok" % (n, n, n * 7, n * 37)
        else:
            s = "[%6d.%03d] kernel: usb 1-1.%d: new high-speed device number %3d using ehci" % (n, n, n % 8, n % 128)
        lines.append(s[:78].ljust(78) + "\r\n")
    block = "".join(lines).encode()
    with open(path, "wb") as f:
        left = size
        while left > 0:
            chunk = block[:left]
            f.write(chunk)
            left -= len(chunk)
        f.write(b"\r\n" + marker + b"\r\n")

data_path = os.path.join(work, "target.txt")
make_file(data_path, mb * 1000 * 1000)
size = os.path.getsize(data_path)

def bench_oxel():
    master, slave = os.openpty()
    tty.setraw(slave)
    dev = os.ttyname(slave)
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    with open(os.path.join(home, "defcfg.ct"), "w") as f:
        f.write("###################################################\n#\n# Oxel configuration file\n#\n"
                "COMPORT 3\nBAUDRATE 115200\nVT100_EMULATION TRUE\n")
    env = dict(os.environ, OXEL_HOME=home, CONSOLE_ROWS="40", CONSOLE_COLS="80")
    proc = subprocess.Popen([cli, "-D", "COMDEV_3=" + dev], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    time.sleep(1.0)   # let it open the port
    seen = 0
    tail = b""
    done = threading.Event()

    def reader():
        nonlocal seen, tail
        while True:
            chunk = proc.stdout.read1(1 << 16)
            if not chunk:
                break
            seen += len(chunk)
            tail = (tail + chunk)[-64:]
            if marker in tail:
                done.set()
                break

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    def writer():
        with open(data_path, "rb") as f:
            while True:
                buf = f.read(1 << 16)
                if not buf:
                    break
                view = memoryview(buf)
                while view:
                    n = os.write(master, view)
                    view = view[n:]

    start = time.monotonic()
    threading.Thread(target=writer, daemon=True).start()
    # Give up when nothing new has been shown for 10 seconds.
    last, last_change = -1, time.monotonic()
    ok = False
    while not ok:
        ok = done.wait(timeout=0.5)
        if seen != last:
            last, last_change = seen, time.monotonic()
        elif time.monotonic() - last_change > 10:
            break
    elapsed = time.monotonic() - start
    proc.terminate()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
    os.close(master)
    os.close(slave)
    if not ok:
        print("oxel-cli: did not show all bytes (%d of %d seen); is the COM port backend built?" % (seen, size))
        return None
    return size / elapsed / 1e6

def bench_tmux():
    if not shutil.which("tmux"):
        print("tmux: not installed")
        return None
    sock = "oxelbench%d" % os.getpid()
    conf = os.path.join(work, "tmux.conf")
    with open(conf, "w") as f:
        f.write("set -g history-limit 1200\nset -g status off\n")
    cmd = "cat %s; tmux -L %s wait-for -S done; sleep 30" % (data_path, sock)
    start = time.monotonic()
    subprocess.run(["tmux", "-L", sock, "-f", conf, "new-session", "-d", "-x", "80", "-y", "40", cmd], check=True)
    subprocess.run(["tmux", "-L", sock, "wait-for", "done"], check=True, timeout=max(120, mb * 2))
    elapsed = time.monotonic() - start
    subprocess.run(["tmux", "-L", sock, "kill-server"], stderr=subprocess.DEVNULL)
    return size / elapsed / 1e6

try:
    oxel = bench_oxel()
    tm = bench_tmux()
    print("file: %.1f MB of 80-column text with colour sequences" % (size / 1e6))
    print("oxel-cli (serial pty, VT100 on): %s MB/s" % ("%.1f" % oxel if oxel else "n/a"))
    print("tmux (1200 lines scroll-back):   %s MB/s" % ("%.1f" % tm if tm else "n/a"))
    if oxel and tm:
        print("ratio oxel/tmux: %.2f" % (oxel / tm))
finally:
    shutil.rmtree(work, ignore_errors=True)
PYTHON
