#!/bin/sh
# TFTP read throughput on 127.0.0.1: the same file fetched with atftp from
# oxel-cli's TFTP server and from tftpd-hpa (in.tftpd), with blksize 512 and
# 1468. Each get is timed from start to the client's exit and the files are
# compared. The two servers take turns, three rounds; the best round of each
# is reported, so a busy machine's pauses do not decide the comparison.
# Usage: bench/tftp_get.sh [oxel-cli path] [megabytes]
set -eu
CLI=${1:-build/oxel-cli}
MB=${2:-50}
export CLI MB
exec python3 - <<'PYTHON'
import filecmp, os, shutil, socket, subprocess, sys, tempfile, time

cli = os.path.abspath(os.environ["CLI"])
mb = int(os.environ["MB"])
work = tempfile.mkdtemp(prefix="oxel_tftp_bench_")
serve = os.path.join(work, "serve")
home = os.path.join(work, "home")
os.makedirs(serve)
os.makedirs(home)
with open(os.path.join(serve, "image.bin"), "wb") as f:
    f.write(os.urandom(mb << 20))

def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port

def ready(port):
    # A request for a missing file is answered once the server listens.
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(0.1)
    for _ in range(100):
        s.sendto(b"\0\1no-such-file\0octet\0", ("127.0.0.1", port))
        try:
            s.recvfrom(2048)
            return True
        except socket.timeout:
            pass
    return False

with open(os.path.join(home, "t.ct"), "w") as f:
    f.write("###################################################\n#\n# Oxel configuration file\n#\n")
    f.write('TFTPSRVR_ENABLED TRUE\nTFTP_START_DIR "%s"\n' % serve)

oxel_port, hpa_port = free_port(), free_port()
oxel = subprocess.Popen([cli, "-D", "TFTPSRVR_PORT=%d" % oxel_port, os.path.join(home, "t.ct")],
                        env=dict(os.environ, OXEL_HOME=home, OXEL_ANSWERS="YES"),
                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
hpa = subprocess.Popen(["/usr/sbin/in.tftpd", "-L", "-l", "-4", "-u", "root", "-a",
                        "127.0.0.1:%d" % hpa_port, "-s", serve])
try:
    if not ready(oxel_port) or not ready(hpa_port):
        sys.exit("a server did not come up")
    print("TFTP get of %d MiB on 127.0.0.1 (atftp client)" % mb)
    for blksize in (512, 1468):
        best = {}
        for _ in range(3):
            for name, port in (("oxel-cli", oxel_port), ("tftpd-hpa", hpa_port)):
                out = os.path.join(work, "got_%s_%d" % (name, blksize))
                t0 = time.monotonic()
                subprocess.run(["atftp", "--option", "blksize %d" % blksize, "-g", "-r", "image.bin", "-l", out,
                                "127.0.0.1", str(port)], check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                dt = time.monotonic() - t0
                if not filecmp.cmp(out, os.path.join(serve, "image.bin"), shallow=False):
                    sys.exit("%s: the file fetched differs" % name)
                best[name] = min(best.get(name, dt), dt)
                os.remove(out)
        for name in ("oxel-cli", "tftpd-hpa"):
            print("  blksize %5d  %-10s %7.2f s  %7.1f MiB/s" % (blksize, name, best[name], mb / best[name]))
finally:
    hpa.terminate()
    oxel.terminate()
    hpa.wait()
    oxel.wait()
    shutil.rmtree(work)
PYTHON
