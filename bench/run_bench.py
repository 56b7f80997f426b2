#!/usr/bin/env python3
"""Times the tool against the floor program and the script peer on synthetic
machines, and its fingerprint against md5sum; checks that they agree. Called
by scripts/bench, which builds the programs first.
"""

import argparse
import hashlib
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BENCH = os.path.join(SOURCE, "build", "bench")
GENERATOR = os.path.join(SOURCE, "bench", "gen_machine.py")
PEER = os.path.join(SOURCE, "bench", "peer.py")
STAND_IN = os.path.join(SOURCE, "tests", "stand-in-payload.exe")
ANSWERS = b"y\nn\n"  # start the scan; do not remove anything
DANGER_TAG = "[危险任务]".encode("gbk")
DANGER_REPORT = DANGER_TAG + " 文件路径=".encode("gbk")

WINE_LOADER = "/usr/lib/wine/wine64"
WINE_SERVER = "/usr/lib/wine/wineserver64"


def fail(message):
    print("bench: " + message, file=sys.stderr)
    sys.exit(1)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(argv, cwd=None, stdin=b"", stdout=None, env=None):
    """Runs argv to completion: (seconds of wall time, exit status). The
    processor time it took is left in run.cpu."""
    with tempfile.TemporaryFile() as given:
        given.write(stdin)
        given.seek(0)
        out = open(stdout, "wb") if stdout else subprocess.DEVNULL
        try:
            cpu = children_cpu()
            started = time.perf_counter()
            status = subprocess.call(argv, cwd=cwd, stdin=given, stdout=out,
                                     stderr=subprocess.STDOUT if stdout else subprocess.DEVNULL,
                                     env=env)
            seconds = time.perf_counter() - started
            run.cpu = children_cpu() - cpu
        finally:
            if stdout:
                out.close()
    return seconds, status


def timed(argv, repetitions, **kwargs):
    """One untimed run to warm the caches, then the medians of repetitions:
    (wall seconds, processor seconds of the program and its children; under
    Wine that leaves out the server). The fastest run's wall seconds are
    left in timed.fastest."""
    run(argv, **kwargs)
    results = []
    for _ in range(repetitions):
        seconds, status = run(argv, **kwargs)
        if status != 0:
            fail("%s exited with %d" % (argv[0], status))
        results.append((seconds, run.cpu))
    timed.fastest = min(r[0] for r in results)
    return (statistics.median(r[0] for r in results),
            statistics.median(r[1] for r in results))


def peak_mib(argv, **kwargs):
    """Peak resident memory of one run, as /usr/bin/time sees it. (Python's
    own rusage of a child counts the interpreter it was forked from.)"""
    with tempfile.NamedTemporaryFile("r") as report:
        _, status = run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, **kwargs)
        if status != 0:
            fail("%s exited with %d" % (argv[0], status))
        return int(report.read().split()[-1]) / 1024.0


def machine(count, folder, layout="native"):
    """The machine for count definitions, made unless the cached one was made
    by the same generator and stand-in payload."""
    stamp = hashlib.sha256()
    for path in (GENERATOR, STAND_IN):
        stamp.update(open(path, "rb").read())
    stamp = "%s %d %s\n" % (stamp.hexdigest(), count, layout)
    stamp_path = os.path.join(folder, "stamp")
    if os.path.exists(stamp_path) and open(stamp_path).read() == stamp:
        return folder
    if layout == "native" and os.path.exists(folder):
        shutil.rmtree(folder)
    print("bench: generating %d definitions in %s" % (count, os.path.relpath(folder, SOURCE)),
          flush=True)
    subprocess.run([sys.executable, GENERATOR, "--count", str(count), "--out", folder,
                    "--layout", layout], check=True)
    with open(stamp_path, "w") as f:
        f.write(stamp)
    return folder


def manifest(folder):
    """(counts line, sorted URIs of the dangerous tasks)."""
    lines = open(os.path.join(folder, "manifest.tsv"), encoding="utf-8").read().splitlines()
    dangerous = sorted(l.split("\t")[1] for l in lines[1:] if l.startswith("dangerous\t"))
    return lines[0][2:], dangerous


def tool_dangers(output_path):
    """The URIs of the tool's closing list of dangerous tasks, sorted."""
    uris = []
    for line in open(output_path, "rb").read().split(b"\n"):
        if line.startswith(DANGER_TAG) and not line.startswith(DANGER_REPORT):
            uris.append(line[len(DANGER_TAG):].rstrip(b"\r").decode("utf-8"))
    return sorted(uris)


def check_floor(floor, folder, md5, env=None, wine=(), keys=True):
    """The floor program must count what the machine holds (without its
    registry keys when keys is false)."""
    expected, _ = manifest(folder)
    if not keys:
        words = expected.split()
        words[words.index("registry") + 2] = "0"
        expected = " ".join(words)
    argv = list(wine) + [floor, "-v", md5] + (["C:\\windows\\system32\\Tasks"] if wine else [])
    # Output to a file, not a pipe: a Wine server started here would hold a
    # pipe open long after the program ends.
    with tempfile.NamedTemporaryFile("rb") as out:
        _, status = run(argv, cwd=folder, env=env, stdout=out.name)
        got = out.read().decode(errors="replace").strip()
    if status != 0 or got != expected:
        fail("floor program counted '%s', the machine has '%s'" % (got, expected))


def native_sizes(options, md5, rows):
    env = dict(os.environ, SYSTEMROOT="C:\\Windows")
    for count in options.sizes:
        folder = machine(count, os.path.join(BENCH, "machines", "n%d" % count))
        _, expected = manifest(folder)
        output = os.path.join(BENCH, "tool-out-n%d.txt" % count)
        peer_out = os.path.join(BENCH, "peer-out-n%d.txt" % count)
        check_floor(options.floor, folder, md5)
        repetitions = options.reps
        tool_s, tool_cpu = timed([options.tool], repetitions, cwd=folder, stdin=ANSWERS, stdout=output,
                       env=env)
        tool_mib = peak_mib([options.tool], cwd=folder, stdin=ANSWERS, stdout=output, env=env)
        floor_s, floor_cpu = timed([options.floor, md5], repetitions, cwd=folder)
        peer_s, _ = timed([sys.executable, PEER, md5], repetitions, cwd=folder, stdout=peer_out)
        found = tool_dangers(output)
        peer_found = sorted(open(peer_out, encoding="utf-8").read().split("\n")[:-1])
        if found != peer_found or found != expected:
            fail("N=%d: the tool found %s, the peer %s, the machine holds %s"
                 % (count, found, peer_found, expected))
        rows.append((count, tool_s, floor_s, peer_s, tool_mib, tool_cpu, floor_cpu))
        print("bench: N=%d done (%d dangerous tasks, all three agree)" % (count, len(found)),
              flush=True)


def fingerprint(options):
    big = os.path.join(BENCH, "fingerprint-256MiB.bin")
    if not os.path.exists(big) or os.path.getsize(big) != 256 << 20:
        block = hashlib.sha256(b"vorkel").digest() * (1 << 15)  # 1 MiB
        with open(big + ".part", "wb") as f:
            for i in range(256):
                f.write(bytes([i]) + block[1:])
        os.replace(big + ".part", big)
    tool_digest = subprocess.run([options.fingerprint, big], capture_output=True,
                                 check=True).stdout.split()[0]
    md5sum_digest = subprocess.run(["md5sum", big], capture_output=True,
                                   check=True).stdout.split()[0]
    if tool_digest != md5sum_digest:
        fail("fingerprint %s, md5sum %s" % (tool_digest, md5sum_digest))
    tool_s, _ = timed([options.fingerprint, big], options.reps)
    md5sum_s, _ = timed(["md5sum", big], options.reps)
    return tool_s, md5sum_s, peak_mib([options.fingerprint, big])


def wine_environment(prefix):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=", LANG="zh_CN.UTF-8",
                LC_ALL="zh_CN.UTF-8", DISPLAY="")


def under_wine(options, md5):
    prefix = tempfile.mkdtemp(prefix="wine-", dir=BENCH)
    env = wine_environment(prefix)
    try:
        print("bench: making a Wine prefix", flush=True)
        # A server that stays up between runs, as on a running Windows; it
        # has to be started so, before anything else starts one.
        subprocess.run([WINE_SERVER, "-p"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINE_LOADER, "wineboot", "-i"], env=env, check=True, timeout=600,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        tasks = os.path.join(prefix, "drive_c", "windows", "system32", "Tasks")
        if os.path.isdir(tasks) and os.listdir(tasks):
            fail("the new Wine prefix already holds tasks")
        machine(options.wine_size, prefix, layout="wine")
        _, expected = manifest(prefix)
        output = os.path.join(BENCH, "tool-out-wine-n%d.txt" % options.wine_size)
        # First the definitions alone, then with the keys imported, to tell
        # what reading the registry's copy costs.
        times = []
        for keys in (False, True):
            if keys:
                print("bench: importing the registry keys", flush=True)
                started = time.perf_counter()
                _, status = run([WINE_LOADER, "regedit", "/S", "C:\\tasks.reg"], cwd=prefix,
                                env=env, stdout=os.path.join(BENCH, "regedit-out.txt"))
                if status != 0:
                    fail("regedit could not import the keys")
                print("bench: imported in %.1f s" % (time.perf_counter() - started), flush=True)
            check_floor(options.wine_floor, prefix, md5, env=env, wine=[WINE_LOADER], keys=keys)
            tool_s, _ = timed([WINE_LOADER, options.wine_tool], options.reps, cwd=prefix,
                           stdin=ANSWERS, stdout=output, env=env)
            tool_fastest = timed.fastest
            floor_s, _ = timed([WINE_LOADER, options.wine_floor, md5,
                                "C:\\windows\\system32\\Tasks"], options.reps, cwd=prefix, env=env)
            found = tool_dangers(output)
            if found != expected:
                fail("under Wine the tool found %s, the machine holds %s" % (found, expected))
            times.append((tool_s, floor_s, tool_fastest, timed.fastest))
        return times
    finally:
        subprocess.run([WINE_SERVER, "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--fingerprint", required=True)
    parser.add_argument("--wine-tool")
    parser.add_argument("--wine-floor")
    parser.add_argument("--sizes", default="1000,10000,100000")
    parser.add_argument("--wine-size", type=int, default=10000)
    parser.add_argument("--reps", type=int, default=5)
    options = parser.parse_args()
    options.sizes = [int(n) for n in options.sizes.split(",") if n]
    os.makedirs(BENCH, exist_ok=True)
    md5 = hashlib.md5(open(STAND_IN, "rb").read()).hexdigest()

    rows = []
    launch_s, _ = timed(["true"], options.reps)
    native_sizes(options, md5, rows)
    fp = fingerprint(options)
    wine = under_wine(options, md5) if options.wine_tool else None

    print()
    print("Medians of %d runs after one warm-up; seconds of wall time. Microseconds per"
          % options.reps)
    print("definition leave out starting a process (%.1f ms, the median for 'true')."
          % (launch_s * 1e3))
    print("cpu: the median processor seconds (user and system), less swayed by a busy machine.")
    print("%8s %9s %9s %9s %10s %9s %11s %12s %10s %9s %10s %8s" % (
        "N", "tool", "floor", "peer", "tool/floor", "peer/tool", "tool us/def",
        "floor us/def", "tool MiB", "tool cpu", "floor cpu", "cpu t/f"))
    for count, tool_s, floor_s, peer_s, mib, tool_cpu, floor_cpu in rows:
        print("%8d %9.3f %9.3f %9.3f %10.2f %9.1f %11.2f %12.2f %10.1f %9.3f %10.3f %8.2f" % (
            count, tool_s, floor_s, peer_s, tool_s / floor_s, peer_s / tool_s,
            (tool_s - launch_s) / count * 1e6, (floor_s - launch_s) / count * 1e6, mib,
            tool_cpu, floor_cpu, tool_cpu / floor_cpu))
    tool_s, md5sum_s, mib = fp
    mib_s = 256.0
    print()
    print("fingerprint, 256 MiB: tool %.3f s (%.0f MiB/s, peak %.1f MiB), md5sum %.3f s "
          "(%.0f MiB/s): %.2f x md5sum's throughput" % (
              tool_s, mib_s / tool_s, mib, md5sum_s, mib_s / md5sum_s, md5sum_s / tool_s))
    if wine:
        # The fastest runs as well: a Wine program waits on the server for
        # every call, and so suffers most from other work on the machine.
        for (tool_s, floor_s, tool_fast, floor_fast), what in zip(
                reversed(wine), ("both stores", "definitions alone")):
            print("under Wine, N=%d, %s: tool %.3f s, floor %.3f s, tool/floor %.2f;"
                  " fastest runs %.3f s and %.3f s, %.2f" % (
                      options.wine_size, what, tool_s, floor_s, tool_s / floor_s, tool_fast,
                      floor_fast, tool_fast / floor_fast))
        both, alone = wine[1], wine[0]
        print("  the registry's copy costs the tool %.3f s (%.0f us a task; fastest runs %.3f s),"
              " the floor %.3f s (fastest runs %.3f s)" % (
                  both[0] - alone[0], (both[0] - alone[0]) / options.wine_size * 1e6,
                  both[2] - alone[2], both[1] - alone[1], both[3] - alone[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
