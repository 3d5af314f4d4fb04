#!/bin/sh
# XMODEM-1K send throughput beside lrzsz.
#  1. oxel-cli sends a file with XMODEM send1k from COM3 (a pseudo-terminal)
#     to `rx` on the far side;
#  2. `sx -k` sends the same file to `rx` over the same kind of pair;
#  3. oxel-cli again, with the far side paced to 115200 baud (10 bits a byte),
#     against that line's rate.
# rx always sits behind pipes relayed to the pair's master, as in the tests.
# Usage: bench/xmodem_throughput.sh [oxel-cli path] [KiB for the pty runs] [KiB at 115200]
set -eu
CLI=${1:-build/oxel-cli}
KIB=${2:-4096}
SLOW_KIB=${3:-256}
export CLI KIB SLOW_KIB
exec python3 - <<'PYTHON'
import os, pty, select, subprocess, tempfile, time, tty

cli = os.path.abspath(os.environ["CLI"])
work = tempfile.mkdtemp(prefix="oxel_xmodem_bench_")

def make_file(kib):
    path = os.path.join(work, "payload_%d.bin" % kib)
    with open(path, "wb") as f:
        f.write(os.urandom(kib * 1024))
    return path

def relay(master, rx, rate=None, until=None):
    """Copies between the pair's master and rx's pipes until rx exits.
    rate: bytes a second allowed towards rx (None: unpaced)."""
    start = time.monotonic()
    sent = 0
    pending = b""
    while rx.poll() is None:
        r, _, _ = select.select([master, rx.stdout], [], [], 0.005)
        if master in r:
            try:
                pending += os.read(master, 65536)
            except OSError:
                pass
        if pending:
            n = len(pending)
            if rate:
                allowed = int((time.monotonic() - start) * rate) - sent
                n = max(0, min(n, allowed))
            if n:
                try:
                    rx.stdin.write(pending[:n]); rx.stdin.flush()
                except BrokenPipeError:
                    pass
                sent += n
                pending = pending[n:]
        if rx.stdout in r:
            data = os.read(rx.stdout.fileno(), 65536)
            if data:
                os.write(master, data)
    end = time.monotonic()
    rest = rx.stdout.read()   # rx's last answer (to EOT) still goes out
    if rest:
        os.write(master, rest)
    return end

def start_rx(dest):
    return subprocess.Popen(["rx", "-q", "-c", dest], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, cwd=work)

def oxel_run(payload, rate=None):
    master, slave = pty.openpty()
    tty.setraw(slave)
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, "scripts"), exist_ok=True)
    with open(os.path.join(home, "board.ct"), "w") as f:
        f.write("########\nBACKEND 1\nCOMPORT 3\nBAUDRATE 115200\nDELAY_BETWEEN_CHARS 0\nSTARTUP_SCRIPT \"b.scr\"\n")
    with open(os.path.join(home, "scripts", "b.scr"), "w") as f:
        f.write("SEND -n ready\nXMODEM -n send1k %s\nECHO RESULT=$XSTATE\nEXIT OXEL\n" % payload)
    name = os.ttyname(slave)
    env = dict(os.environ, OXEL_HOME=home)
    p = subprocess.Popen([cli, "-D", "COMDEV_3=" + name, os.path.join(home, "board.ct")], env=env,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    got = b""
    while b"ready" not in got:
        got += os.read(master, 4096)
    os.close(slave)
    dest = "oxel_out.bin"
    t0 = time.monotonic()
    rx = start_rx(dest)
    t1 = relay(master, rx, rate)
    out = p.communicate(timeout=120)[0]
    os.close(master)
    ok = b"RESULT=IDLE" in out and open(os.path.join(work, dest), "rb").read()[:os.path.getsize(payload)] == open(payload, "rb").read()
    return t1 - t0, ok

def sx_run(payload):
    master, slave = pty.openpty()
    tty.setraw(slave)
    dest = "sx_out.bin"
    t0 = time.monotonic()
    rx = start_rx(dest)
    sx = subprocess.Popen(["sx", "-q", "-k", payload], stdin=slave, stdout=slave, stderr=subprocess.DEVNULL)
    t1 = relay(master, rx)
    try:
        sx.wait(timeout=20)
    except subprocess.TimeoutExpired:
        sx.kill()
    os.close(master); os.close(slave)
    ok = open(os.path.join(work, dest), "rb").read()[:os.path.getsize(payload)] == open(payload, "rb").read()
    return t1 - t0, ok

kib = int(os.environ["KIB"]); slow_kib = int(os.environ["SLOW_KIB"])
big = make_file(kib)
small = make_file(slow_kib)
t_oxel, ok1 = oxel_run(big)
t_sx, ok2 = sx_run(big)
line = 115200 / 10.0
t_slow, ok3 = oxel_run(small, rate=line)
size = kib * 1024
print("pty pair, %d KiB:" % kib)
print("  oxel send1k -> rx : %8.0f KiB/s (%.2f s)%s" % (size / 1024 / t_oxel, t_oxel, "" if ok1 else "  FAILED"))
print("  sx -k       -> rx : %8.0f KiB/s (%.2f s)%s" % (size / 1024 / t_sx, t_sx, "" if ok2 else "  FAILED"))
print("  oxel / lrzsz      : %8.1f %%" % (100.0 * t_sx / t_oxel))
rate = slow_kib * 1024 / t_slow
print("115200 baud (%.0f bytes/s), %d KiB:" % (line, slow_kib))
print("  oxel send1k -> rx : %8.0f bytes/s (%.2f s)%s" % (rate, t_slow, "" if ok3 else "  FAILED"))
print("  of line rate      : %8.1f %%" % (100.0 * rate / line))
PYTHON
