#!/usr/bin/env python3
"""Generates the input folders of the peer benchmark, deterministically, into bench/data/.

    python3 bench/gen_inputs.py [--inputs big,many,deep,long-names] [--scale F] [--force]
    python3 bench/gen_inputs.py --self-test

Inputs (at scale 1):
  big         8 files of 128 MiB in one folder
  many        20,000 files of 1 to 8 KiB in one folder; names of 5 to 40 characters with
              upper and lower case, digits and spaces; 900 of them in three groups that share
              their first 29 characters (the names that a 31-character limit must tell apart)
  deep        2,000 folders up to 6 levels deep, 10 small files in each
  long-names  2,000 files with names of 60 to 100 characters in one folder

Contents are pseudo-random bytes (not compressible) from a fixed seed, so every machine makes
the same inputs. Names are unique without regard to case, so that no tool may fold two of them
into one. An input is made again only when it is missing or was made by another version of this
script (or at another scale): each input folder has a stamp file holding the script's hash and
the input's counts.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import string
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA_DIR = os.path.join(HERE, "data")
INPUTS = ("big", "many", "deep", "long-names")
SEED = 20240611
MIB = 1 << 20
KIB = 1 << 10
# Every generated file gets this modification time, so that images of the inputs do not depend
# on when they were made.
FIXED_MTIME = 1_700_000_000

NAME_CHARS = string.ascii_letters + string.digits + " "
EXTENSIONS = ("txt", "DAT", "bin", "Log", "c", "jpeg")


def script_hash():
    with open(os.path.abspath(__file__), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def data_name(name, scale):
    return name if scale == 1 else "%s-x%g" % (name, scale)


def scaled(count, scale):
    return max(1, int(round(count * scale)))


class NameMaker:
    """Random names, unique without regard to case, never starting or ending with a space."""

    def __init__(self, rng):
        self.rng = rng
        self.taken = set()

    def _body(self, length):
        rng = self.rng
        edge = string.ascii_letters + string.digits
        if length == 1:
            return rng.choice(edge)
        middle = "".join(rng.choice(NAME_CHARS) for _ in range(length - 2))
        return rng.choice(edge) + middle + rng.choice(edge)

    def make(self, length, prefix=""):
        """A new name of exactly `length` characters starting with `prefix`; half of the
        names that have room for one end in an extension."""
        while True:
            rest = length - len(prefix)
            ext = ""
            if rest >= 6 and self.rng.random() < 0.5:
                ext = "." + self.rng.choice(EXTENSIONS)
                ext = ext[: rest - 2]
            name = prefix + self._body(rest - len(ext)) + ext
            if name.lower() not in self.taken:
                self.taken.add(name.lower())
                return name


def write_file(path, rng, size):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            chunk = min(left, 16 * MIB)
            f.write(rng.randbytes(chunk))
            left -= chunk
    os.utime(path, (FIXED_MTIME, FIXED_MTIME))


def make_big(root, rng, scale):
    size = scaled(128 * MIB, scale)
    for i in range(8):
        write_file(os.path.join(root, "part%02d.bin" % i), rng, size)


def make_many(root, rng, scale):
    names = NameMaker(rng)
    count = scaled(20000, scale)
    shared = []
    # Three groups of 300 names that agree in their first 29 characters and differ after.
    group = min(300, count // 6)
    for _ in range(3):
        prefix = names._body(29)
        for _ in range(group):
            shared.append(names.make(rng.randint(31, 40), prefix))
    plain = [names.make(rng.randint(5, 40)) for _ in range(count - len(shared))]
    for name in shared + plain:
        write_file(os.path.join(root, name), rng, rng.randint(1 * KIB, 8 * KIB))


def make_deep(root, rng, scale):
    names = {}  # folder path -> NameMaker of its entries
    folders = [(root, 0)]  # (path, depth); the input's own folder is depth 0
    names[root] = NameMaker(rng)
    count = scaled(2000, scale)
    while len(folders) - 1 < count:
        parent, depth = rng.choice(folders)
        if depth >= 6:
            continue
        path = os.path.join(parent, names[parent].make(rng.randint(3, 20)))
        os.mkdir(path)
        names[path] = NameMaker(rng)
        folders.append((path, depth + 1))
    for path, depth in folders[1:]:
        for _ in range(10):
            name = names[path].make(rng.randint(5, 24))
            write_file(os.path.join(path, name), rng, rng.randint(100, 2 * KIB))


def make_long_names(root, rng, scale):
    names = NameMaker(rng)
    for _ in range(scaled(2000, scale)):
        name = names.make(rng.randint(60, 100))
        write_file(os.path.join(root, name), rng, rng.randint(1 * KIB, 4 * KIB))


MAKERS = {"big": make_big, "many": make_many, "deep": make_deep, "long-names": make_long_names}


def count_tree(root):
    """(files, folders below root, bytes) of a folder tree."""
    files = folders = total = 0
    for dirpath, dirnames, filenames in os.walk(root):
        folders += len(dirnames)
        files += len(filenames)
        for name in filenames:
            total += os.lstat(os.path.join(dirpath, name)).st_size
    return files, folders, total


def ensure(name, data_dir=DEFAULT_DATA_DIR, scale=1, force=False, quiet=False):
    """Makes input `name` unless an up-to-date one exists; returns its description:
    {"name", "path", "files", "folders", "bytes"}."""
    key = "%s scale=%r seed=%d" % (script_hash(), scale, SEED)
    folder = os.path.join(data_dir, data_name(name, scale))
    stamp_path = folder + ".stamp"
    if not force and os.path.isdir(folder) and os.path.isfile(stamp_path):
        with open(stamp_path) as f:
            stamp = json.load(f)
        if stamp.get("key") == key:
            return stamp["info"]
    if not quiet:
        print("generating input %s into %s" % (name, folder), file=sys.stderr)
    os.makedirs(data_dir, exist_ok=True)
    for old in (folder, folder + ".partial"):
        if os.path.isdir(old):
            shutil.rmtree(old)
    if os.path.exists(stamp_path):
        os.remove(stamp_path)
    # One generator per input, seeded by the input's name: inputs do not depend on each other.
    rng = random.Random("%d/%s" % (SEED, name))
    partial = folder + ".partial"
    os.mkdir(partial)
    MAKERS[name](partial, rng, scale)
    os.rename(partial, folder)
    files, folders, total = count_tree(folder)
    info = {"name": name, "path": folder, "files": files, "folders": folders, "bytes": total}
    with open(stamp_path, "w") as f:
        json.dump({"key": key, "info": info}, f, indent=1)
    return info


def tree_digest(root):
    """SHA-256 over every relative path, size and content of a folder tree, in sorted order."""
    h = hashlib.sha256()
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        rel = os.path.relpath(dirpath, root)
        h.update(b"D" + rel.encode() + b"\0")
        for name in sorted(filenames):
            with open(os.path.join(dirpath, name), "rb") as f:
                data = f.read()
            h.update(b"F" + name.encode() + b"\0" + str(len(data)).encode() + b"\0" + data)
    return h.hexdigest()


def self_test():
    """Checks, on small scales, that generation is deterministic and meets the shape rules."""
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
        scale = 0.02
        for name in INPUTS:
            ia = ensure(name, a, scale, quiet=True)
            ib = ensure(name, b, scale, quiet=True)
            check(tree_digest(ia["path"]) == tree_digest(ib["path"]), name + ": not deterministic")
            keep = os.path.join(ia["path"], "kept")
            open(keep, "w").close()
            check(ia == ensure(name, a, scale, quiet=True) and os.path.exists(keep),
                  name + ": up-to-date input made again")
            os.remove(keep)
        # A stamp from another version of the script forces a new generation.
        stamp_path = os.path.join(a, data_name("long-names", scale)) + ".stamp"
        with open(stamp_path) as f:
            stamp = json.load(f)
        stamp["key"] = "other"
        with open(stamp_path, "w") as f:
            json.dump(stamp, f)
        marker = os.path.join(a, data_name("long-names", scale), "marker")
        open(marker, "w").close()
        ensure("long-names", a, scale, quiet=True)
        check(not os.path.exists(marker), "stale input was not made again")

        many = ensure("many", a, 0.1, quiet=True)
        names = os.listdir(many["path"])
        check(len(names) == 2000, "many: %d files, expected 2000" % len(names))
        check(len({n.lower() for n in names}) == len(names), "many: names clash by case")
        check(all(5 <= len(n) <= 40 for n in names), "many: name length out of 5..40")
        check(all(n == n.strip() for n in names), "many: name with outer space")
        check(any(" " in n for n in names) and any(c.isdigit() for n in names for c in n),
              "many: no spaces or digits in names")
        prefixes = {}
        for n in names:
            prefixes[n[:29]] = prefixes.get(n[:29], 0) + 1
        group = min(300, len(names) // 6)
        check(sorted(prefixes.values())[-4:] == [1, group, group, group],
              "many: shared 29-character prefixes %r" % sorted(prefixes.values())[-4:])
        sizes = [os.path.getsize(os.path.join(many["path"], n)) for n in names]
        check(min(sizes) >= KIB and max(sizes) <= 8 * KIB, "many: size out of 1..8 KiB")

        deep = ensure("deep", a, 0.1, quiet=True)
        depths = []
        for dirpath, dirnames, filenames in os.walk(deep["path"]):
            rel = os.path.relpath(dirpath, deep["path"])
            if rel != ".":
                depths.append(rel.count(os.sep) + 1)
                check(len(filenames) == 10, "deep: %s has %d files" % (rel, len(filenames)))
        check(len(depths) == 200 and max(depths) == 6, "deep: %d folders, depth %d"
              % (len(depths), max(depths)))

        longn = ensure("long-names", a, 0.1, quiet=True)
        check(all(60 <= len(n) <= 100 for n in os.listdir(longn["path"])),
              "long-names: name length out of 60..100")

        big = ensure("big", a, 1 / 4096, quiet=True)
        check(big["files"] == 8 and big["bytes"] == 8 * 32 * KIB, "big: %r" % big)
        with open(os.path.join(big["path"], "part00.bin"), "rb") as f:
            data = f.read()
        # Random bytes do not compress: a compressible input would flatter the tools.
        import zlib
        check(len(zlib.compress(data)) > 0.99 * len(data), "big: contents compress")

    for f in failures:
        print("FAIL:", f)
    print("gen_inputs self-test: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--inputs", default=",".join(INPUTS))
    parser.add_argument("--data-dir", default=DEFAULT_DATA_DIR)
    parser.add_argument("--scale", type=float, default=1, help="size and count factor (tests)")
    parser.add_argument("--force", action="store_true", help="make the inputs again")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args(argv)
    if args.self_test:
        return self_test()
    for name in args.inputs.split(","):
        if name not in MAKERS:
            parser.error("unknown input %r (known: %s)" % (name, ", ".join(INPUTS)))
        info = ensure(name, args.data_dir, args.scale, args.force)
        print("%-10s %6d files %5d folders %12d bytes  %s"
              % (name, info["files"], info["folders"], info["bytes"], info["path"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
