#!/usr/bin/env python3
"""Times tavrine-cli against other ISO 9660 + Joliet writers and against a plain copy floor.

    python3 bench/run_peers.py [--rounds N] [--inputs big,many,deep,long-names]
                               [--tavrine PATH] [--contenders a,b,...] [--scale F]
                               [--cold | --slow-share [--latency S]]
    python3 bench/run_peers.py --self-test

--cold (root only) empties the page cache (`sync`, `echo 3 > /proc/sys/vm/drop_caches`) before
every run. --slow-share serves each input through slow_share.py, a FUSE passthrough that waits
--latency seconds (0.0005) in every lookup, open, listing and read, mounted afresh before every
run (so that no run finds another's cached names) and unmounted after it. Both add a second
floor, eight readers in parallel into /dev/null: what a device that serves requests side by
side can give.

Each contender writes one image of each input folder (made by gen_inputs.py) with ISO 9660 and
Joliet names and no Rock Ridge. The floor is the least any of them can do: every input file
read once and written into one output file, by `cat` (through xargs) and by floor_copy.c's
read()/write() loop; the lower of the two medians is the floor.

Rounds are interleaved (round 1 runs every contender once, then round 2, ...), the page cache
is warm (the input is read once, untimed, before the first round), and between runs the output
is deleted and `sync` runs, untimed. Each run is measured whole-process: wall time here, user
and system time from wait4() of the measuring process, and peak resident memory from GNU time,
whose forked child is small; measuring the peak straight from this interpreter's wait4() would
report at least the interpreter's own size, because the kernel counts the parent's pages that
a forked child holds until its exec.

The first run of each contender on each input is checked: `isoinfo -d` must find a Joliet
volume, no Rock Ridge, and a volume that fits the file; `isoinfo -f` must list every input file
in both the ISO 9660 and the Joliet tree; a few files read back with `isoinfo -x` must equal
their sources. A contender that fails a check or exits with an error is marked FAILED and has
no time. The Markdown tables are printed and written to bench/results/.
"""

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import gen_inputs  # noqa: E402

RESULTS_DIR = os.path.join(HERE, "results")
DEFAULT_TAVRINE = os.path.join(REPO, "build-bench", "bin", "tavrine-cli")
GNU_TIME = "/usr/bin/time"
MIB = 1 << 20

# Targets for tavrine-cli, by mode: wall time as a multiple of the floor (the one-reader floor,
# or with "parallel" the eight readers), at least `peer` times faster than genisoimage where
# given, and peak memory in MiB (warm only).
TIME_TARGETS = {
    "warm": {"big": 1.10, "many": 1.30, "deep": 1.30, "long-names": 1.5},
    "cold": {"big": 1.05, "many": 1.05, "deep": 1.05},
    "slow-share": {"many": 1.3, "deep": 1.3},
}
PARALLEL_TARGETS = {"slow-share"}
PEER_TARGETS = {"slow-share": 2.0}
MEMORY_TARGETS = {"big": 12, "many": 25, "deep": 25}

ISO_CONTENDERS = ("tavrine-cli", "genisoimage", "xorriso")
FLOOR_CONTENDERS = ("floor cat", "floor read/write")
PARALLEL_FLOOR = "floor 8 readers"
PARALLEL_READERS = 8
# Not a floor: what listing the input and reading each file's size and date costs, which every
# image writer must do and the floor (given its file list) does not.
LISTING = "listing (find+stat)"
ALL_CONTENDERS = ISO_CONTENDERS + FLOOR_CONTENDERS + (PARALLEL_FLOOR, LISTING)
# xorriso takes minutes where every request waits: left out there unless asked for.
SLOW_DEFAULT_CONTENDERS = ("tavrine-cli", "genisoimage") + FLOOR_CONTENDERS + (
    PARALLEL_FLOOR, LISTING)


class Contender:
    def __init__(self, name, argv, stdout_to_out=False, output="image"):
        self.name = name
        self.argv = argv  # function (out, folder, list_file) -> argument list
        self.stdout_to_out = stdout_to_out
        self.output = output  # "image", "copy" (all input bytes) or "listing"


def make_contenders(tavrine, floor_program):
    return {
        "tavrine-cli": Contender("tavrine-cli", lambda out, d, lst: [tavrine, "-q", "-o", out, d]),
        "genisoimage": Contender(
            "genisoimage",
            lambda out, d, lst: ["genisoimage", "-quiet", "-J", "-joliet-long", "-o", out, d]),
        "xorriso": Contender(
            "xorriso",
            lambda out, d, lst: ["xorriso", "-as", "mkisofs", "-quiet", "--norock", "-J",
                                 "-joliet-long", "-o", out, d]),
        "floor cat": Contender("floor cat", lambda out, d, lst: ["xargs", "-0", "-a", lst, "cat"],
                               stdout_to_out=True, output="copy"),
        "floor read/write": Contender("floor read/write",
                                      lambda out, d, lst: [floor_program, out, lst],
                                      output="copy"),
        # Eight cat processes at a time, each given 1/64 of the sorted list.
        PARALLEL_FLOOR: Contender(PARALLEL_FLOOR, lambda out, d, lst: [
            "sh", "-c", 'n=$(tr -cd "\\0" < "$1" | wc -c); '
            'exec xargs -0 -a "$1" -P %d -n $(( (n + 63) / 64 )) cat > /dev/null'
            % PARALLEL_READERS, "sh", lst], output="none"),
        LISTING: Contender(LISTING,
                           lambda out, d, lst: ["find", d, "-type", "f", "-printf", "%s %T@ %p\n"],
                           stdout_to_out=True, output="listing"),
    }


def build_floor_program(results_dir):
    """Compiles floor_copy.c into the results folder unless an up-to-date build is there."""
    source = os.path.join(HERE, "floor_copy.c")
    program = os.path.join(results_dir, "floor_copy")
    if not os.path.exists(program) or os.path.getmtime(program) < os.path.getmtime(source):
        subprocess.run(["cc", "-O2", "-Wall", "-Wextra", "-o", program, source], check=True)
    return program


def input_files(folder):
    """Every file below folder, sorted as `find DIR -type f | sort` would (by bytes)."""
    paths = []
    for dirpath, dirnames, filenames in os.walk(folder):
        paths.extend(os.path.join(dirpath, name) for name in filenames)
    return sorted(paths, key=os.fsencode)


def warm_up(paths):
    """Reads every input file once so that all runs find it in the page cache."""
    buffer = bytearray(MIB)
    for path in paths:
        with open(path, "rb", buffering=0) as f:
            while f.readinto(buffer):
                pass


def run_measured(argv, stdout_path, scratch):
    """Runs argv under GNU time; returns (exit status, wall s, user s, sys s, peak KiB, stderr)."""
    time_out = os.path.join(scratch, "time.out")
    err_path = os.path.join(scratch, "stderr.txt")
    with open(err_path, "wb") as err:
        stdout = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        try:
            start = time.perf_counter()
            child = subprocess.Popen([GNU_TIME, "-f", "%M", "-o", time_out, "--"] + argv,
                                     stdout=stdout, stderr=err)
            _, status, usage = os.wait4(child.pid, 0)
            wall = time.perf_counter() - start
            child.returncode = os.waitstatus_to_exitcode(status)
        finally:
            if stdout_path:
                stdout.close()
    with open(err_path, "rb") as f:
        stderr = f.read().decode("utf-8", "replace")
    peak_kib = None
    with open(time_out) as f:
        lines = [line for line in f.read().splitlines() if line.strip()]
    # GNU time puts "Command exited with non-zero status N" before the format's line.
    if lines and lines[-1].strip().isdigit():
        peak_kib = int(lines[-1])
    return child.returncode, wall, usage.ru_utime, usage.ru_stime, peak_kib, stderr


def tool_output(argv):
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode, done.stdout.decode("utf-8", "replace"), \
        done.stderr.decode("utf-8", "replace")


def files_in_listing(listing):
    """Paths in an `isoinfo -f` listing that are files: those that no other path lies below.
    (The inputs have no empty folders, so every folder has an entry below it.)"""
    paths = [line.strip() for line in listing.splitlines() if line.strip()]
    parents = set()
    for path in paths:
        cut = path.rfind("/")
        while cut > 0:
            parents.add(path[:cut])
            cut = path.rfind("/", 0, cut)
    return [p for p in paths if p not in parents]


def check_image(image, info, paths):
    """Checks an image with isoinfo; returns None when it is sound, else what is wrong."""
    code, desc, err = tool_output(["isoinfo", "-d", "-i", image])
    if code != 0:
        return "isoinfo -d failed: " + err.strip()[:200]
    if "Joliet with UCS level" not in desc:
        return "no Joliet volume descriptor"
    if "Rock Ridge signatures" in desc:
        return "Rock Ridge present"
    blocks = [line.split(":")[1] for line in desc.splitlines() if line.startswith("Volume size is")]
    if not blocks or int(blocks[0]) * 2048 > os.path.getsize(image):
        return "volume size %s blocks does not fit the file of %d bytes" % (
            blocks[0].strip() if blocks else "?", os.path.getsize(image))
    joliet_files = None
    for tree, options in (("ISO 9660", []), ("Joliet", ["-J"])):
        code, listing, err = tool_output(["isoinfo", "-f"] + options + ["-i", image])
        if code != 0:
            return "isoinfo -f %s failed: %s" % (" ".join(options), err.strip()[:200])
        files = files_in_listing(listing)
        if len(files) != info["files"]:
            return "%s tree lists %d files, the input has %d" % (tree, len(files), info["files"])
        if tree == "Joliet":
            joliet_files = files
    # Read back the first, middle and last input file through their Joliet names. The image may
    # hold the input's folder or only its contents: match by the end of the path.
    samples = [paths[0], paths[len(paths) // 2], paths[-1]]
    for source in dict.fromkeys(samples):
        rel = "/" + os.path.relpath(source, info["path"]).replace(os.sep, "/")
        listed = [p for p in joliet_files if p.endswith(rel)]
        if len(listed) != 1:
            return "Joliet tree has %d entries for %s" % (len(listed), rel)
        done = subprocess.run(["isoinfo", "-J", "-i", image, "-x", listed[0]],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        with open(source, "rb") as f:
            if done.stdout != f.read():
                return "contents of %s differ from the input" % rel
    return None


def check_copy(out, info):
    size = os.path.getsize(out)
    if size != info["bytes"]:
        return "output has %d bytes, the input %d" % (size, info["bytes"])
    return None


def check_listing(out, info):
    with open(out, "rb") as f:
        lines = f.read().count(b"\n")
    if lines != info["files"]:
        return "listed %d files, the input has %d" % (lines, info["files"])
    return None


CHECKS = {"image": check_image, "copy": lambda out, info, paths: check_copy(out, info),
          "listing": lambda out, info, paths: check_listing(out, info),
          "none": lambda out, info, paths: None}


def sync():
    subprocess.run(["sync"], check=False)


def drop_caches():
    sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


class SlowShare:
    """The input folder served through slow_share.py at a mount point of its own."""

    def __init__(self, source, mountpoint, latency):
        self.source, self.mountpoint, self.latency = source, mountpoint, latency
        self.server = None
        os.makedirs(mountpoint, exist_ok=True)

    def mount(self):
        self.server = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "slow_share.py"), "--latency", str(self.latency),
             self.source, self.mountpoint], stderr=subprocess.PIPE)
        deadline = time.time() + 20
        while not os.path.ismount(self.mountpoint):
            if self.server.poll() is not None or time.time() > deadline:
                err = self.server.stderr.read().decode("utf-8", "replace") if \
                    self.server.poll() is not None else "timed out"
                self.unmount()
                sys.exit("run_peers: cannot mount the slow share: " + err.strip()[-500:])
            time.sleep(0.05)

    def unmount(self):
        if self.server is None:
            return
        if os.path.ismount(self.mountpoint):
            done = subprocess.run(["fusermount", "-u", self.mountpoint], check=False,
                                  stderr=subprocess.DEVNULL)
            if done.returncode != 0:
                subprocess.run(["umount", "-l", self.mountpoint], check=False)
        try:
            self.server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()
        self.server = None


def bench_input(info, contenders, rounds, scratch, log, mode="warm", latency=0.0005):
    """Runs every contender `rounds` times on one input; returns {name: result dict}."""
    share = None
    folder = info["path"]
    paths = input_files(folder)
    if mode == "slow-share":
        share = SlowShare(folder, os.path.join(scratch, "share"), latency)
        paths = [os.path.join(share.mountpoint, os.path.relpath(p, folder)) for p in paths]
        folder = share.mountpoint
        info = dict(info, path=folder)
    list_file = os.path.join(scratch, "inputs.list")
    with open(list_file, "wb") as f:
        f.write(b"".join(os.fsencode(p) + b"\0" for p in paths))
    if mode == "warm":
        warm_up(paths)
    out = os.path.join(scratch, "out.img")
    results = {c.name: {"runs": [], "status": "ok", "why": ""} for c in contenders}
    try:
        for round_no in range(1, rounds + 1):
            for c in contenders:
                result = results[c.name]
                if result["status"] != "ok":
                    continue
                if os.path.exists(out):
                    os.remove(out)
                if share:
                    share.mount()
                if mode == "cold":
                    drop_caches()
                else:
                    sync()
                load = os.getloadavg()[0]
                argv = c.argv(out, folder, list_file)
                code, wall, user, system, peak, stderr = run_measured(
                    argv, out if c.stdout_to_out else None, scratch)
                why = None
                if code != 0:
                    why = "exit status %d: %s" % (code, stderr.strip()[-300:])
                elif round_no == 1:
                    why = CHECKS[c.output](out, info, paths)
                if share:
                    share.unmount()
                if why:
                    result["status"], result["why"] = "FAILED", why
                    log("  %-16s FAILED: %s" % (c.name, why))
                else:
                    result["runs"].append({"wall": wall, "user": user, "sys": system,
                                           "peak_kib": peak, "load": load})
                    log("  round %d %-16s %8.3f s  user %.3f  sys %.3f  peak %s KiB  load %.2f"
                        % (round_no, c.name, wall, user, system, peak, load))
    finally:
        if share:
            share.unmount()
    if os.path.exists(out):
        os.remove(out)
    sync()
    return results


def summarise(results):
    """Adds medians, the floor and the ratios to each contender's result."""
    for r in results.values():
        runs = r["runs"]
        if r["status"] == "ok" and runs:
            r["wall"] = statistics.median(x["wall"] for x in runs)
            r["wall_min"] = min(x["wall"] for x in runs)
            r["wall_max"] = max(x["wall"] for x in runs)
            r["user"] = statistics.median(x["user"] for x in runs)
            r["sys"] = statistics.median(x["sys"] for x in runs)
            r["cpu"] = statistics.median(x["user"] + x["sys"] for x in runs)
            peaks = [x["peak_kib"] for x in runs if x["peak_kib"] is not None]
            r["peak_mib"] = max(peaks) / 1024 if peaks else None
            loads = [x["load"] for x in runs if x.get("load") is not None]
            r["load"] = (min(loads), max(loads)) if loads else None
    floors = [results[n]["wall"] for n in FLOOR_CONTENDERS if "wall" in results.get(n, {})]
    floor = min(floors) if floors else None
    parallel = results.get(PARALLEL_FLOOR, {}).get("wall")
    # CPU time (user + system) is far less disturbed by other load on the machine than wall
    # time, so its ratio is shown beside the wall time's.
    cpu_floors = [results[n]["cpu"] for n in FLOOR_CONTENDERS if "cpu" in results.get(n, {})]
    cpu_floor = min(cpu_floors) if cpu_floors else None
    tavrine = results.get("tavrine-cli", {}).get("wall")
    for r in results.values():
        if "wall" in r:
            r["x_floor"] = r["wall"] / floor if floor else None
            r["x_parallel"] = r["wall"] / parallel if parallel else None
            r["x_tavrine"] = r["wall"] / tavrine if tavrine else None
            r["cpu_x_floor"] = r["cpu"] / cpu_floor if cpu_floor else None
    return floor


def fmt(value, pattern):
    return "–" if value is None else pattern % value


def markdown_table(info, results):
    lines = [
        "### %s: %d files, %d folders, %.1f MiB" % (
            info["name"], info["files"], info["folders"], info["bytes"] / MIB),
        "",
        "| contender | median wall s | min–max s | × floor | × 8 readers | × tavrine-cli | user s "
        "| sys s | CPU × floor | peak MiB | load min–max |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for name, r in results.items():
        if r["status"] != "ok" or "wall" not in r:
            why = r["why"] or "not run"
            lines.append("| %s | %s | | | | | | | | | |" % (name, r["status"] + ": " + why.replace(
                "|", "/").replace("\n", " ")))
            continue
        load = r.get("load")
        lines.append("| %s | %.3f | %.3f–%.3f | %s | %s | %s | %.3f | %.3f | %s | %s | %s |" % (
            name, r["wall"], r["wall_min"], r["wall_max"], fmt(r.get("x_floor"), "%.2f"),
            fmt(r.get("x_parallel"), "%.2f"), fmt(r.get("x_tavrine"), "%.2f"), r["user"],
            r["sys"], fmt(r.get("cpu_x_floor"), "%.2f"), fmt(r["peak_mib"], "%.1f"),
            "%.1f–%.1f" % load if load else "–"))
    return lines


def target_lines(all_results, mode="warm"):
    parallel = mode in PARALLEL_TARGETS
    peer = PEER_TARGETS.get(mode)
    floor_name = "8 readers" if parallel else "floor"
    lines = ["### Targets for tavrine-cli (%s)" % mode, "",
             "| input | wall × %s | target | × genisoimage | target | CPU × floor | peak MiB "
             "| target | verdict |" % floor_name,
             "|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    for name, results in all_results.items():
        r = results.get("tavrine-cli")
        if r is None:
            continue
        if r["status"] != "ok" or "wall" not in r:
            lines.append("| %s | | | | | | | | %s |" % (name, r["status"]))
            continue
        time_target = TIME_TARGETS.get(mode, {}).get(name)
        memory_target = MEMORY_TARGETS.get(name) if mode == "warm" else None
        ratio = r.get("x_parallel") if parallel else r.get("x_floor")
        geniso = results.get("genisoimage", {}).get("wall")
        x_geniso = r["wall"] / geniso if geniso else None
        missed = []
        if time_target and ratio and ratio > time_target:
            missed.append("time")
        if peer and x_geniso and x_geniso > 1 / peer:
            missed.append("genisoimage")
        if memory_target and r["peak_mib"] and r["peak_mib"] > memory_target:
            missed.append("memory")
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            name, fmt(ratio, "%.2f"), fmt(time_target, "≤ %.2f"), fmt(x_geniso, "%.2f"),
            fmt(1 / peer if peer else None, "≤ %.2f"), fmt(r.get("cpu_x_floor"), "%.2f"),
            fmt(r["peak_mib"], "%.1f"), fmt(memory_target, "≤ %d"),
            "missed: " + ", ".join(missed) if missed else "met"))
    return lines


def tool_version(argv):
    try:
        code, out, err = tool_output(argv)
    except OSError:
        return "missing"
    text = (out or err).strip().splitlines()
    return text[0] if text else "?"


def header_lines(args, contenders, started_load, tavrine):
    tavrine_rev = tool_output(["git", "-C", REPO, "log", "-1", "--format=%h %s"])[1].strip()
    return [
        "## Peer benchmark, %s" % time.strftime("%Y-%m-%d %H:%M"),
        "",
        "- machine: %s, %d CPUs, Linux %s; load average at start %.2f"
        % (platform.machine(), os.cpu_count(), platform.release(), started_load),
        "- rounds: %d, interleaved; %s" % (args.rounds, {
            "warm": "warm page cache; output deleted and `sync` between runs",
            "cold": "page cache dropped (`sync`, drop_caches) before every run",
            "slow-share": "input through slow_share.py, %g ms per request, mounted afresh "
                          "before every run" % (args.latency * 1000)}[mode_of(args)]),
        "- tavrine-cli: %s (source at commit %s)" % (os.path.relpath(tavrine, REPO)
                                                     if tavrine.startswith(REPO + os.sep)
                                                     else tavrine, tavrine_rev),
        "- genisoimage: %s; xorriso: %s" % (
            tool_version(["genisoimage", "--version"]), tool_version(["xorriso", "-version"])),
        "- contenders: %s" % ", ".join(c.name for c in contenders),
        "",
    ]


def mode_of(args):
    return "cold" if args.cold else "slow-share" if args.slow_share else "warm"


def run(args):
    if not os.access(GNU_TIME, os.X_OK):
        sys.exit("run_peers: %s (Debian package `time`) is needed to measure peak memory"
                 % GNU_TIME)
    os.makedirs(RESULTS_DIR, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="scratch-", dir=RESULTS_DIR)
    log_lines = []

    def log(text):
        log_lines.append(text)
        print(text, file=sys.stderr, flush=True)

    try:
        floor_program = build_floor_program(RESULTS_DIR)
        table = make_contenders(args.tavrine, floor_program)
        mode = mode_of(args)
        names = args.contenders.split(",") if args.contenders else list(
            ALL_CONTENDERS if mode == "warm" else SLOW_DEFAULT_CONTENDERS)
        if mode == "warm" and not args.contenders:
            names.remove(PARALLEL_FLOOR)
        for name in names:
            if name not in table:
                sys.exit("unknown contender %r (known: %s)" % (name, ", ".join(ALL_CONTENDERS)))
        contenders = [table[n] for n in names]
        missing = {c.name: c.argv("o", "d", "l")[0] for c in contenders
                   if shutil.which(c.argv("o", "d", "l")[0]) is None}
        for name, program in missing.items():
            log("%s: %s not found, left out" % (name, program))
        contenders = [c for c in contenders if c.name not in missing]
        started_load = os.getloadavg()[0]
        all_results = {}
        infos = {}
        for name in args.inputs.split(","):
            info = gen_inputs.ensure(name, scale=args.scale)
            infos[name] = info
            log("input %s: %d files, %.1f MiB" % (name, info["files"], info["bytes"] / MIB))
            results = bench_input(info, contenders, args.rounds, scratch, log, mode, args.latency)
            all_results[name] = {
                n: results.get(n) or {"runs": [], "status": "MISSING",
                                      "why": missing.get(n, "?") + " not found"}
                for n in names}
            summarise(all_results[name])
        lines = header_lines(args, contenders, started_load, args.tavrine)
        for name, results in all_results.items():
            lines += markdown_table(infos[name], results) + [""]
        lines += target_lines(all_results, mode)
        lines += ["", "Load average at the end: %.2f" % os.getloadavg()[0]]
        report = "\n".join(lines) + "\n"
        print(report)
        stamp = time.strftime("%Y%m%d-%H%M%S")
        for path in (os.path.join(RESULTS_DIR, "peers-%s.md" % stamp),
                     os.path.join(RESULTS_DIR, "peers-latest.md")):
            with open(path, "w") as f:
                f.write(report)
        with open(os.path.join(RESULTS_DIR, "peers-%s.json" % stamp), "w") as f:
            json.dump({"inputs": infos, "results": all_results, "log": log_lines}, f, indent=1)
        print("written to %s" % os.path.join(RESULTS_DIR, "peers-%s.md" % stamp),
              file=sys.stderr)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--inputs", default=",".join(gen_inputs.INPUTS))
    parser.add_argument("--contenders", default="", help="comma-separated subset of: "
                        + ", ".join(ALL_CONTENDERS))
    parser.add_argument("--tavrine", default=DEFAULT_TAVRINE, help="the tavrine-cli program")
    parser.add_argument("--scale", type=float, default=1,
                        help="input size factor, for trying the harness out quickly")
    parser.add_argument("--cold", action="store_true",
                        help="empty the page cache before every run (root only)")
    parser.add_argument("--slow-share", action="store_true",
                        help="serve the inputs through a FUSE passthrough with a fixed latency")
    parser.add_argument("--latency", type=float, default=0.0005,
                        help="seconds per request of --slow-share")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args(argv)
    if args.cold and args.slow_share:
        parser.error("--cold and --slow-share are separate modes")
    if args.cold and os.geteuid() != 0:
        parser.error("--cold empties the page cache (/proc/sys/vm/drop_caches): run it as root")
    if args.self_test:
        return self_test()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    for name in args.inputs.split(","):
        if name not in gen_inputs.MAKERS:
            parser.error("unknown input %r" % name)
    run(args)
    return 0


def self_test():
    """Checks the harness itself: the listing parser on a listing worked out by hand, the image
    check on sound images and on images with faults put in, the floor program's output, and
    that peak memory is the child's own and not this interpreter's."""
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAIL:", what)

    def runs(*walls):
        return {"status": "ok", "why": "", "runs": [
            {"wall": w, "user": w / 4, "sys": w / 4, "peak_kib": 1024 * w} for w in walls]}

    results = {"tavrine-cli": runs(3, 1, 2), "genisoimage": runs(9, 5, 4, 7),
               "floor cat": runs(1, 1.5, 0.2), "floor read/write": runs(0.5, 0.9, 2),
               "xorriso": {"status": "FAILED", "why": "x", "runs": []}}
    floor = summarise(results)
    tav, geniso = results["tavrine-cli"], results["genisoimage"]
    check(floor == 0.9, "floor %r, expected the lower median 0.9" % floor)
    check((tav["wall"], tav["wall_min"], tav["wall_max"], tav["peak_mib"]) == (2, 1, 3, 3),
          "tavrine summary %r" % tav)
    check(geniso["wall"] == 6 and abs(geniso["x_tavrine"] - 3) < 1e-9
          and abs(tav["x_floor"] - 2 / 0.9) < 1e-9 and abs(tav["cpu_x_floor"] - 2 / 0.9) < 1e-9,
          "ratios %r %r" % (tav, geniso))
    check("wall" not in results["xorriso"], "a failed contender got a time")
    table = "\n".join(markdown_table({"name": "t", "files": 1, "folders": 0, "bytes": 1},
                                     results))
    check("| xorriso | FAILED: x |" in table and "| tavrine-cli | 2.000 | 1.000–3.000 | 2.22 |"
          in table, "table:\n" + table)
    targets = "\n".join(target_lines({"big": results, "many": {"tavrine-cli": runs(1)}}))
    check("| big | 2.22 | ≤ 1.10 | 0.33 | – | 2.22 | 3.0 | ≤ 12 | missed: time |" in targets,
          "targets:\n" + targets)

    listing = "/A\n/A/B\n/A/B/x.txt\n/A/y\n/top\n/A/B2\n/A/B2/z\n"
    check(files_in_listing(listing) == ["/A/B/x.txt", "/A/y", "/top", "/A/B2/z"],
          "files_in_listing: %r" % files_in_listing(listing))

    with tempfile.TemporaryDirectory() as tmp:
        # A small input with folders, spaces and long names, copied so that faults can be put in.
        deep = gen_inputs.ensure("deep", os.path.join(tmp, "data"), 0.005, quiet=True)
        source = os.path.join(tmp, "in")
        shutil.copytree(deep["path"], source)
        info = dict(deep, path=source)
        paths = input_files(source)
        image = os.path.join(tmp, "x.iso")

        def make_image(*options):
            subprocess.run(["genisoimage", "-quiet", "-o", image] + list(options) + [source],
                           check=True, stderr=subprocess.DEVNULL)

        make_image("-J", "-joliet-long")
        check(check_image(image, info, paths) is None,
              "sound image rejected: %s" % check_image(image, info, paths))
        faults = []
        with open(image, "r+b") as f:
            f.truncate(os.path.getsize(image) - 4096)
        faults.append(("image cut short", "does not fit"))
        faults.append(("no Joliet", "no Joliet"))
        faults.append(("Rock Ridge", "Rock Ridge present"))
        faults.append(("one file left out", "tree lists"))
        faults.append(("contents changed", "differ"))
        for what, expected in faults:
            if what == "no Joliet":
                make_image()
            elif what == "Rock Ridge":
                make_image("-J", "-joliet-long", "-R")
            elif what == "one file left out":
                os.rename(paths[3], os.path.join(tmp, "aside"))
                make_image("-J", "-joliet-long")
                os.rename(os.path.join(tmp, "aside"), paths[3])
            elif what == "contents changed":
                make_image("-J", "-joliet-long")
                with open(paths[-1], "r+b") as f:  # the last file is one that is read back
                    first = f.read(1)
                    f.seek(0)
                    f.write(bytes([first[0] ^ 0xFF]))
            why = check_image(image, info, paths)
            check(why is not None and expected in why, "%s: check said %r" % (what, why))

        # The floor program copies every listed file once, in list order, at any buffer size.
        floor_program = build_floor_program(tmp)
        list_file = os.path.join(tmp, "list")
        with open(list_file, "wb") as f:
            f.write(b"".join(os.fsencode(p) + b"\0" for p in paths))
        expected = b""
        for p in paths:
            with open(p, "rb") as f:
                expected += f.read()
        for options in ([], ["-b", "7"]):
            out = os.path.join(tmp, "floor.out")
            subprocess.run([floor_program] + options + [out, list_file], check=True)
            with open(out, "rb") as f:
                check(f.read() == expected, "floor_copy %r: output differs" % options)
        with open(list_file, "ab") as f:
            f.write(os.fsencode(os.path.join(tmp, "no such file")) + b"\0")
        done = subprocess.run([floor_program, out, list_file], stderr=subprocess.PIPE)
        check(done.returncode != 0 and b"no such file" in done.stderr,
              "floor_copy did not report a missing input")

        # The listing reference is checked by its line count.
        listing_out = os.path.join(tmp, "listing.out")
        with open(listing_out, "wb") as f:
            subprocess.run(make_contenders("t", "f")[LISTING].argv("o", source, "l"), stdout=f,
                           check=True)
        check(check_listing(listing_out, info) is None, "listing of a sound input rejected")
        check(check_listing(listing_out, dict(info, files=info["files"] + 1)) is not None,
              "listing with a file missing accepted")

        # Peak memory is the child's own, however big this interpreter is.
        ballast = bytearray(256 * MIB)
        for i in range(0, len(ballast), 4096):
            ballast[i] = 1
        code, _, _, _, peak, _ = run_measured(["true"], None, tmp)
        check(code == 0 and peak is not None and peak < 8 * 1024,
              "peak of `true` is %s KiB" % peak)
        code, _, _, _, peak, _ = run_measured(
            [sys.executable, "-c", "b = bytearray(64 << 20); b[::4096] = b'\\1' * (16 << 10)"],
            None, tmp)
        check(code == 0 and peak is not None and 64 * 1024 <= peak < 128 * 1024,
              "peak of a 64 MiB child is %s KiB" % peak)
        del ballast
        code, _, _, _, _, stderr = run_measured(["sh", "-c", "echo boom >&2; exit 3"], None, tmp)
        check(code == 3 and "boom" in stderr, "exit status %d, stderr %r" % (code, stderr))

    print("run_peers self-test: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
