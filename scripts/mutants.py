#!/usr/bin/env python3
"""Injects realistic one-line faults ("mutants") into a copy of the tree, one at a time, and
runs every test program against each: a test suite is worth the faults it catches.

    scripts/mutants.py                      # every mutant, this tree, copy in /tmp/tavrine-mutants
    scripts/mutants.py --list               # names, files and what each fault does
    scripts/mutants.py -m copy-restart -m block-rule-off-by-one
    scripts/mutants.py --tree ../main --scratch /tmp/m-main --json before.json
    scripts/mutants.py --quick              # stop at the first program that catches a mutant

The copy is kept between runs, so only what a mutant touches is rebuilt (ccache helps).
A mutant counts as caught by a program when the program fails,
crashes or outlives its timeout. Every pattern must occur exactly once in its file: a pattern
that no longer matches (the code moved) stops the run before anything is built.
It is a tool, not part of ./test.sh: a full run takes many minutes.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass


@dataclass
class Mutant:
    name: str
    path: str  # relative to the tree
    pattern: str  # literal text, exactly once in the file
    replacement: str
    what: str


M = Mutant
MUTANTS = [
    # fileio: the file access layer
    M("copy-restart", "fileio/file_access.cpp",
      "CopyThroughBuffer(from.Handle, fromOffset + total,", "CopyThroughBuffer(from.Handle, 0,",
      "after a partial kernel copy the buffered copy starts again at the file's first byte"),
    M("copy-refusal-exdev", "fileio/file_access.cpp",
      "return error == EXDEV ||", "return error == EBADF ||",
      "a copy across file systems is not taken over by the buffer"),
    M("pread-offset-stuck", "fileio/file_access.cpp",
      "static_cast<off_t>(offset + total));", "static_cast<off_t>(offset));",
      "a read resumed after a short read starts again at the first offset"),
    M("create-no-truncate", "fileio/file_access.cpp",
      "return flags | O_CREAT | O_TRUNC;", "return flags | O_CREAT;",
      "CREATE_ALWAYS keeps the old contents of an existing file"),
    M("closed-record-fails", "fileio/file_access.cpp",
      "if (record.Handle == -1) return 0;", "if (record.Handle == -1) return -1;",
      "a closed record answers -1 instead of 0"),
    M("close-result-dropped", "fileio/file_access.cpp",
      "return result < 0 ? -1 : 0;", "return 0;",
      "a failed close is reported as success"),
    M("seek-end-as-current", "fileio/file_access.cpp",
      "return Seek(record.Handle, distance, SEEK_END);",
      "return Seek(record.Handle, distance, SEEK_CUR);",
      "seeking from the end seeks from the position"),
    M("mapped-copy-past-end", "fileio/file_access.cpp",
      "std::min({count - total, kMappedWindow, st.st_size - start})",
      "std::min(count - total, kMappedWindow)",
      "a copy through a mapping counts the zeros past the source's end as copied"),
    M("mapped-copy-no-rewind", "fileio/file_access.cpp",
      "if (Sys().fstat(from, &st) == 0 && st.st_size < offset + total) {", "if (false) {",
      "a source cut short under its mapping leaves the output past where the file ended"),
    M("mapped-tmpfs-source", "fileio/file_access.cpp",
      "FileSystemType(from.Handle) != TMPFS_MAGIC &&", "true &&",
      "a sparse source on tmpfs is read through a mapping, which fills its holes"),
    M("window-ignores-descriptor-limit", "image/read_ahead.cpp",
      "windowFiles_(DescriptorsAhead(kWindowFiles)),", "windowFiles_(kWindowFiles),",
      "the read-ahead window opens 64 files ahead however few descriptors the process may hold"),
    # tree: entries, names, dates, local import
    M("extent-split-off-by-one", "image/records.cpp",
      "if (rest > kMaxUint32) {", "if (rest >= kMaxUint32) {",
      "a file of exactly 4 GiB - 1 bytes is split into two records"),
    M("gmt-offset-sign", "tree/date.cpp",
      "return static_cast<int>((utc - local) / 60);",
      "return static_cast<int>((local - utc) / 60);",
      "a wrong GMT offset: the zone's offset of bare fields has the wrong sign"),
    M("gmtoff-hours", "tree/date.cpp",
      "date.utcOffsetMinutes = static_cast<int>(fields.tm_gmtoff / 60);",
      "date.utcOffsetMinutes = static_cast<int>(fields.tm_gmtoff / 3600);",
      "a wrong GMT offset: a local instant's offset in hours, not minutes"),
    M("hidden-files-imported", "tree/local_listing.cpp",
      "if (name.empty() || name.front() == '.') continue;", "if (name.empty()) continue;",
      "names beginning with '.' are imported"),
    M("import-unsorted", "tree/local_listing.cpp",
      "[](const LocalEntry& a, const LocalEntry& b) { return a.name < b.name; });",
      "[](const LocalEntry& a, const LocalEntry& b) { return a.name > b.name; });",
      "a folder's entries are imported in reverse byte order"),
    M("wildcard-digit", "tree/wildcard.cpp",
      "return c >= u'0' && c <= u'9';", "return c >= u'0' && c < u'9';",
      "'#' does not match the digit 9"),
    # image: encoding, layout, records, names, writer
    M("block-rule-off-by-one", "image/records.cpp",
      "if (position % kBlockSize + length > kBlockSize) PadToBlock(sink);",
      "if (position % kBlockSize + length >= kBlockSize) PadToBlock(sink);",
      "a record ending exactly on a block boundary is moved to the next block"),
    M("dir-record-padding", "image/records.cpp",
      "(33 + identifierBytes + 1 - identifierBytes % 2)",
      "(33 + identifierBytes + identifierBytes % 2)",
      "the padding byte of a directory record goes to odd identifiers"),
    M("both-endian16-order", "image/encoding.cpp",
      "return {Byte(value, 0), Byte(value, 1), Byte(value, 1), Byte(value, 0)};",
      "return {Byte(value, 0), Byte(value, 1), Byte(value, 0), Byte(value, 1)};",
      "the big-endian half of a 16-bit both-endian field is little-endian"),
    M("big-endian32-order", "image/encoding.cpp",
      "return {Byte(value, 3), Byte(value, 2), Byte(value, 1), Byte(value, 0)};",
      "return {Byte(value, 0), Byte(value, 1), Byte(value, 2), Byte(value, 3)};",
      "big-endian 32-bit numbers (type M path tables) come out little-endian"),
    M("offset-units", "image/encoding.cpp",
      "static_cast<std::int8_t>(*recorded.utcOffsetMinutes / 15)",
      "static_cast<std::int8_t>(*recorded.utcOffsetMinutes / 60)",
      "a wrong GMT offset: the offset byte counts hours, not quarter hours"),
    M("year-limit", "image/encoding.cpp",
      "recorded.year > kLastRecordableYear) return {};",
      "recorded.year > kLastRecordableYear + 1) return {};",
      "the year 2156 wraps to 1900 in a directory record"),
    M("file-record-volume-date", "image/records.cpp",
      "const auto fileDate = EncodeRecordingDate(file.CreationDate());",
      "const auto fileDate = EncodeRecordingDate(creation);",
      "file records carry the volume date instead of the file's own"),
    M("path-table-m-location", "image/records.cpp",
      "BigEndian32(U32(pathLocation + pathBlocks))", "BigEndian32(U32(pathLocation + 1))",
      "the type M path table location ignores the table's length"),
    M("path-table-parent", "image/records.cpp",
      "isRoot || !parent ? 1 : U16(parent->DirectoryNumber());",
      "isRoot || !parent ? 1 : U16(directory.DirectoryNumber());",
      "a path table record names the directory itself as its parent"),
    M("joliet-escape-level", "image/records.cpp",
      "block[kVdEscapeSequences + 2] = 0x45;", "block[kVdEscapeSequences + 2] = 0x40;",
      "the Joliet escape sequence says level 1"),
    M("system-id-space-filled", "image/records.cpp",
      "PutSingleByteText(block, kVdSystemId, 32, t.system, false);",
      "PutSingleByteText(block, kVdSystemId, 32, t.system, true);",
      "the system identifier is space-filled"),
    M("joliet-path-location", "image/layout.cpp",
      "layout.jolietPathLocation = 19 + 2 * layout.isoPathBlocks;",
      "layout.jolietPathLocation = 19 + layout.isoPathBlocks;",
      "the Joliet path tables overlap the ISO 9660 type M table"),
    M("too-many-directories", "image/layout.cpp",
      "if (static_cast<std::int64_t>(order.size()) == kMaxDirectories) {",
      "if (static_cast<std::int64_t>(order.size()) > kMaxDirectories) {",
      "one directory more than the path tables can number is accepted"),
    M("semicolon-kept", "image/names.cpp", "c = u'_';", "c = u';';",
      "';' stays in an ISO 9660 name, where it reads as the version separator"),
    M("readonly-image-replaced", "image/writer.cpp",
      "if (exists && ::access(target.c_str(), W_OK) != 0) return std::nullopt;", "",
      "an existing read-only image is replaced"),
    M("permissions-not-kept", "image/writer.cpp",
      "::fchmod(output.temporary.record.Handle, st.st_mode & 07777);", "",
      "a replaced image loses the permissions of the file it replaces"),
    M("temporary-left-behind", "fileio/temporary_file.cpp",
      "if (!file.name.empty()) ::unlink(file.name.c_str());", "",
      "a failed build leaves its temporary file"),
    M("cancel-ignored", "image/writer.cpp",
      "if (cancel_.load()) throw CancelledError", "if (false && cancel_.load()) throw CancelledError",
      "a stop request is ignored while files are copied"),
    M("percent-floor", "image/writer.cpp",
      "std::nearbyint(static_cast<double>(position)", "std::floor(static_cast<double>(position)",
      "WritingFiles percentages are cut, not rounded"),
    M("growth-unseen", "image/sink.cpp",
      "const std::int64_t want = count + 1;", "const std::int64_t want = count;",
      "a small file that grew during the build is not reported"),
    M("kernel-fallback-offset", "image/sink.cpp",
      "ReadFileRecordAt(source, buffer_.data(), want, offset + result.copied);",
      "ReadFileRecordAt(source, buffer_.data(), want, offset);",
      "after a short kernel copy the rest is read from the range's start"),
    M("shrunk-not-zero-filled", "image/file_data.cpp",
      "sink.AppendZeros(size - copied);", "sink.AppendZeros(0);",
      "a file that shrank leaves no zeros in place of its missing bytes"),
    # cli: the command line
    M("latest-date-off-by-one", "cli/options.cpp",
      "DaysFromCivil(kLastRecordableYear + 1, 1, 1) * 86400 - 1;",
      "DaysFromCivil(kLastRecordableYear + 1, 1, 1) * 86400;",
      "--date accepts the first second of 2156"),
    M("utc-offset-sign", "cli/options.cpp",
      "const int sign = when[pos++] == '-' ? -1 : 1;",
      "const int sign = when[pos++] == '-' ? 1 : -1;",
      "--date applies an offset from UTC the wrong way"),
    M("incomplete-is-success", "cli/run.cpp",
      "return kExitUnreadable;", "return kExitOk;",
      "an image with incomplete files exits 0"),
    M("file-dates-not-fixed", "cli/run.cpp",
      "SetAllFileDates(root, when);", "",
      "--date sets the volume date but not the files' dates"),
    M("late-signal-lost", "cli/run.cpp",
      "if (Interrupted(environment)) writer.RequestCancel();", "",
      "a signal just before the build starts is lost"),
    M("graft-no-trailing-slash", "cli/sources.cpp",
      "source.endsInSlash = last.empty() || last == \".\" || source.imagePath.empty();",
      "source.endsInSlash = last == \".\" || source.imagePath.empty();",
      "a graft point 'dir/=file' names the file 'dir'"),
    # app: the window
    M("app-title-length", "app/utilities.cpp",
      "words.join(QLatin1Char(' ')).size() > 40);", "words.join(QLatin1Char(' ')).size() > 41);",
      "the window title keeps 41 characters"),
    M("app-empty-list-builds", "app/form1.cpp",
      "if (ListedFiles().isEmpty()) {", "if (false) {",
      "the window starts a build with no files"),
    M("app-odd-characters", "app/add_folder.cpp",
      "if (c == U'?' || c < 32 || (c >= 127 && c <= 159)) return true;",
      "if (c == U'?' || c < 32) return true;",
      "the folder import takes names holding C1 control characters"),
]

PROGRAMS = ["fileio_tests", "tree_tests", "image_tests", "cli_tests", "app_tests"]
SHORT = {"fileio_tests": "fileio", "tree_tests": "tree", "image_tests": "image",
         "cli_tests": "cli", "app_tests": "app"}
SKIP_DIRS = {".git", ".cache", "__pycache__"}


def log(message):
    print(message, file=sys.stderr, flush=True)


def sync_tree(source, destination):
    """Mirrors source into destination (no build directories), copying only what changed, so
    that the build there stays incremental."""
    os.makedirs(destination, exist_ok=True)
    wanted = set()
    for folder, dirs, files in os.walk(source):
        rel = os.path.relpath(folder, source)
        dirs[:] = [d for d in dirs if d not in SKIP_DIRS and not
                   (rel == "." and d.startswith("build"))]
        for name in files:
            relpath = os.path.normpath(os.path.join(rel, name))
            wanted.add(relpath)
            src = os.path.join(source, relpath)
            dst = os.path.join(destination, relpath)
            s = os.stat(src)
            try:
                d = os.stat(dst)
                if d.st_size == s.st_size and int(d.st_mtime) == int(s.st_mtime):
                    continue
            except FileNotFoundError:
                os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst)
    for folder, dirs, files in os.walk(destination):
        rel = os.path.relpath(folder, destination)
        dirs[:] = [d for d in dirs if not (rel == "." and d.startswith("build"))]
        for name in files:
            relpath = os.path.normpath(os.path.join(rel, name))
            if relpath not in wanted:
                os.remove(os.path.join(destination, relpath))


def check_patterns(tree, mutants):
    problems = []
    for m in mutants:
        path = os.path.join(tree, m.path)
        if not os.path.exists(path):
            problems.append(f"{m.name}: {m.path} does not exist")
            continue
        with open(path, encoding="utf-8") as f:
            count = f.read().count(m.pattern)
        if count != 1:
            problems.append(f"{m.name}: the pattern occurs {count} times in {m.path}: {m.pattern!r}")
    return problems


def run(command, cwd=None, env=None, timeout=None):
    return subprocess.run(command, cwd=cwd, env=env, timeout=timeout, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace")


def configure(src, build):
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    result = run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                  "-DTAVRINE_BUILD_TESTS=ON", "-DTAVRINE_BUILD_APP=ON",
                  "-DTAVRINE_BUILD_BENCH=OFF",
                  # a mutant may leave a variable unused; that is no reason to fail the build
                  "-DTAVRINE_WERROR=OFF"])
    if result.returncode != 0:
        sys.exit("configure failed:\n" + result.stdout[-4000:])


def build(build_dir, programs, jobs):
    targets = [p for p in programs] + ["tavrine-cli"]
    return run(["cmake", "--build", build_dir, "-j", str(jobs), "--target", *targets])


def test_env(src, build_dir):
    env = dict(os.environ)
    env.update(TAVRINE_SOURCE_DIR=src, TAVRINE_BIN_DIR=os.path.join(build_dir, "bin"),
               TZ="Europe/Berlin", QT_QPA_PLATFORM="offscreen")
    return env


FAILED = re.compile(r"^\[  FAILED  \] (\S+\.\S+)(?: \(| ,|, where|$)", re.M)


def run_program(build_dir, src, program, timeout):
    """(verdict, seconds, failing tests): verdict is 'ok', 'fail', 'crash' or 'timeout'."""
    binary = os.path.join(build_dir, "bin", program)
    start = time.monotonic()
    try:
        result = run([binary, "--gtest_brief=1"], cwd=build_dir, env=test_env(src, build_dir),
                     timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout", time.monotonic() - start, []
    seconds = time.monotonic() - start
    failed = sorted(set(FAILED.findall(result.stdout)))
    if result.returncode == 0:
        return "ok", seconds, []
    return ("fail" if failed else "crash"), seconds, failed


def run_programs(build_dir, src, programs, timeouts, jobs):
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {p: pool.submit(run_program, build_dir, src, p, timeouts.get(p)) for p in programs}
        return {p: f.result() for p, f in futures.items()}


def run_quickly(m, build_dir, src, programs, timeouts, jobs):
    """The programs one by one, the mutated folder's own first, up to the first that catches
    the mutant; the others are left out of the results. None when the mutant does not build."""
    home = m.path.split("/")[0] + "_tests"
    outcome = {}
    for p in sorted(programs, key=lambda p: p != home):
        if build(build_dir, [p], jobs).returncode != 0:
            return None
        verdict, seconds, failed = run_program(build_dir, src, p, timeouts.get(p))
        outcome[p] = (verdict, seconds, failed)
        if verdict != "ok":
            break
    return outcome


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--tree", default=here, help="the tree to mutate (default: this one)")
    parser.add_argument("--scratch", default="/tmp/tavrine-mutants",
                        help="where the copy and its build live (kept between runs)")
    parser.add_argument("-m", "--mutant", action="append", default=[],
                        help="run only this mutant (repeatable; a prefix picks all it starts)")
    parser.add_argument("-p", "--program", action="append", default=[],
                        help="run only this test program (repeatable), e.g. image_tests")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="build jobs and parallel programs")
    parser.add_argument("--timeout", type=float, default=0,
                        help="seconds per program (default: 3 x its clean time + 30)")
    parser.add_argument("--quick", action="store_true",
                        help="per mutant, build and run one program at a time, the one of the "
                             "mutated folder first, and stop at the first that catches it")
    parser.add_argument("--json", help="also write the results (with failing tests) here")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    args = parser.parse_args()

    mutants = MUTANTS
    if args.mutant:
        mutants = [m for m in MUTANTS if any(m.name.startswith(x) for x in args.mutant)]
        if not mutants:
            sys.exit("no mutant matches " + ", ".join(args.mutant))
    if args.list:
        for m in mutants:
            print(f"{m.name:26} {m.path:26} {m.what}")
        return 0
    programs = args.program or PROGRAMS
    tree = os.path.abspath(args.tree)
    problems = check_patterns(tree, mutants)
    if problems:
        sys.exit("stale mutants (fix their patterns):\n  " + "\n  ".join(problems))

    src = os.path.join(os.path.abspath(args.scratch), "src")
    build_dir = os.path.join(src, "build")  # the same layout as a worktree, for ccache
    # Paths relative to the scratch folder: copies in other scratch folders share the cache.
    os.environ["CCACHE_BASEDIR"] = os.path.abspath(args.scratch)
    log(f"copying {tree} to {src}")
    sync_tree(tree, src)
    configure(src, build_dir)
    log("building the clean tree")
    result = build(build_dir, programs, args.jobs)
    if result.returncode != 0:
        sys.exit("the clean tree does not build:\n" + result.stdout[-4000:])
    programs = [p for p in programs if os.path.exists(os.path.join(build_dir, "bin", p))]
    log("running the clean tree's tests")
    clean = run_programs(build_dir, src, programs, {}, args.jobs)
    for p, (verdict, seconds, failed) in clean.items():
        log(f"  {p}: {verdict} in {seconds:.1f} s")
        if verdict != "ok":
            sys.exit(f"{p} fails on the clean tree ({', '.join(failed) or verdict}); fix that first")
    timeouts = {p: args.timeout or 3 * clean[p][1] + 30 for p in programs}

    results = {}
    for index, m in enumerate(mutants, 1):
        path = os.path.join(src, m.path)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        log(f"[{index}/{len(mutants)}] {m.name}: {m.what}")
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(m.pattern, m.replacement, 1))
            if args.quick:
                outcome = run_quickly(m, build_dir, src, programs, timeouts, args.jobs)
            else:
                built = build(build_dir, programs, args.jobs)
                outcome = None if built.returncode != 0 else run_programs(
                    build_dir, src, programs, timeouts, args.jobs)
            if outcome is None:
                log(f"  does not build; skipped")
                results[m.name] = {"build": "failed"}
                continue
            results[m.name] = {p: {"verdict": v, "seconds": round(s, 1), "failed": f}
                               for p, (v, s, f) in outcome.items()}
            for p, (v, s, f) in outcome.items():
                if v != "ok":
                    log(f"  {SHORT.get(p, p)}: {v} {' '.join(f[:6])}{' ...' if len(f) > 6 else ''}")
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
    build(build_dir, programs, args.jobs)  # leave the copy clean and built

    print_table(mutants, programs, results)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"tree": tree, "programs": programs, "results": results}, f, indent=1)
    survivors = [m.name for m in mutants
                 if results.get(m.name, {}).get("build") != "failed" and
                 all(r["verdict"] == "ok" for r in results[m.name].values())]
    return 1 if survivors else 0


def print_table(mutants, programs, results):
    width = max(len(m.name) for m in mutants)
    heads = [SHORT.get(p, p) for p in programs]
    print(f"{'mutant':{width}}  " + "  ".join(f"{h:7}" for h in heads))
    survivors, unbuilt = [], []
    marks = {"ok": "-", "fail": "caught", "crash": "crash", "timeout": "timeout"}
    for m in mutants:
        r = results.get(m.name, {})
        if r.get("build") == "failed":
            unbuilt.append(m.name)
            print(f"{m.name:{width}}  (does not build)")
            continue
        cells = [marks[r[p]["verdict"]] if p in r else "." for p in programs]
        if all(c in "-." for c in cells):
            survivors.append(m.name)
        print(f"{m.name:{width}}  " + "  ".join(f"{c:7}" for c in cells))
    print("(- not caught, . not run)")
    print(f"\n{len(mutants) - len(survivors) - len(unbuilt)} of {len(mutants)} caught; "
          f"survived: {', '.join(survivors) or 'none'}"
          + (f"; did not build: {', '.join(unbuilt)}" if unbuilt else ""))


if __name__ == "__main__":
    sys.exit(main())
