#!/usr/bin/env python3
"""Whole-program fuzzing of trokproc.

Makes a few sound runs with trokgen (packet file, element file, configfile),
then over and over damages one of the three inputs and runs trokproc on them.
A run passes when it ends by itself within the time limit with status 0 (and
two products whose sizes agree with their record count) or with status 255
and a message on standard error; anything else (another status, a signal,
a sanitizer report, silence, a time-out) is a fault. Failing cases are kept
under WORKDIR/failures. The same seed gives the same inputs.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

SANITIZER_MARKS = (b"AddressSanitizer", b"LeakSanitizer", b"UndefinedBehaviorSanitizer",
                   b"runtime error:", b"SUMMARY: ")

# Sound runs to start from: trokgen options and the packet size they give.
BASES = [
    (["--seconds", "1200", "--small-gaps", "3", "--large-gaps", "1", "--repeats", "2",
      "--other-apid", "4", "--seed", "11"], 126),
    (["--seconds", "240", "--pelk", "--name", "PELK", "--small-gaps", "1", "--seed", "12"], 214),
    (["--seconds", "6400", "--seed", "13"], 126),
]

INTERESTING = [0x00, 0x01, 0x07, 0x20, 0x3F, 0x40, 0x7F, 0x80, 0xC0, 0xFE, 0xFF]


def make_bases(trokgen, basedir):
    bases = []
    for k, (options, pktsize) in enumerate(BASES):
        d = os.path.join(basedir, "base%d" % k)
        os.makedirs(d, exist_ok=True)
        cmd = [trokgen, "--out", "in.pkt", "--tle", "in.tle", "--config", "configfile",
               "--eph", "out.eph", "--att", "out.att"] + options
        r = subprocess.run(cmd, cwd=d, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            sys.exit("fuzzrun: %s failed: %s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
        files = {}
        for name in ("in.pkt", "in.tle", "configfile"):
            with open(os.path.join(d, name), "rb") as f:
                files[name] = f.read()
        bases.append((files, pktsize))
    return bases


def mutate_bytes(rng, data, pktsize):
    """One to four damages of a binary packet file, mostly where packets are."""
    b = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        if not b:
            b.extend(rng.randbytes(rng.randint(1, 16)))
            continue
        # In-place damage mostly: a shifted file mostly just stops the scan.
        kind = rng.choices(range(9), weights=[3, 3, 3, 3, 1, 1, 1, 2, 1])[0]
        npkt = max(1, len(b) // pktsize)
        at = rng.randrange(len(b))
        if kind == 0:                       # a bit anywhere
            b[at] ^= 1 << rng.randrange(8)
        elif kind == 1:                     # a header byte of some packet
            p = rng.randrange(npkt) * pktsize + rng.randrange(6)
            if p < len(b):
                b[p] = rng.choice(INTERESTING)
        elif kind == 2:                     # a time field (bytes 8-13)
            p = rng.randrange(npkt) * pktsize + 8 + rng.randrange(6)
            if p < len(b):
                b[p] = rng.randrange(256)
        elif kind == 3:                     # an extended float field
            p = rng.randrange(npkt) * pktsize + 14 + 6 * rng.randrange(10)
            if p + 6 <= len(b):
                b[p:p + 6] = bytes(rng.choice(INTERESTING) for _ in range(6))
        elif kind == 4:                     # cut the file
            del b[rng.randrange(len(b)):]
        elif kind == 5:                     # delete a span
            del b[at:at + rng.randint(1, 2 * pktsize)]
        elif kind == 6:                     # insert noise
            b[at:at] = rng.randbytes(rng.randint(1, 12))
        elif kind == 7:                     # swap two whole packets
            i, j = rng.randrange(npkt), rng.randrange(npkt)
            pi, pj = b[i * pktsize:(i + 1) * pktsize], b[j * pktsize:(j + 1) * pktsize]
            if len(pi) == len(pj) == pktsize:
                b[i * pktsize:(i + 1) * pktsize], b[j * pktsize:(j + 1) * pktsize] = pj, pi
        else:                               # duplicate a span
            span = b[at:at + rng.randint(1, 3 * pktsize)]
            b[at:at] = span
    return bytes(b)


def mutate_text(rng, data):
    """One to three damages of a text file, by line or by character."""
    lines = data.split(b"\n")
    for _ in range(rng.randint(1, 3)):
        kind = rng.randrange(8)
        k = rng.randrange(len(lines)) if lines else 0
        if not lines:
            lines = [rng.randbytes(rng.randint(0, 8))]
        elif kind == 0:
            del lines[k]
        elif kind == 1:
            lines.insert(k, lines[rng.randrange(len(lines))])
        elif kind == 2 and lines[k]:
            lines[k] = lines[k][:rng.randrange(len(lines[k]) + 1)]
        elif kind == 3 and lines[k]:
            s = bytearray(lines[k])
            s[rng.randrange(len(s))] = rng.choice(b"0123456789 -+.\t\r\x00\xffAZ%")
            lines[k] = bytes(s)
        elif kind == 4:
            lines[k] = lines[k] + rng.choice([b"\r", b" ", b"\t\t", b"9" * 70, b"\x00"])
        elif kind == 5:
            lines.insert(k, rng.choice([b"", b"   ", b"-diag_1 yes", b"-diag_2 yes", b"-diag_3 yes",
                                        b"-debug_1 yes", b"-noradsatname", b"# x", b"-listconfig yes"]))
        elif kind == 6:
            rng.shuffle(lines)
        else:
            lines[k] = rng.randbytes(rng.randint(0, 40))
    return b"\n".join(lines)


def product_ok(d):
    """Both products complete and consistent with the header's record count."""
    try:
        with open(os.path.join(d, "out.eph"), "rb") as f:
            eph = f.read()
        att_size = os.path.getsize(os.path.join(d, "out.att"))
    except OSError as e:
        return "product missing: %s" % e
    if len(eph) < 512:
        return "ephemeris file of %d bytes" % len(eph)
    n = struct.unpack(">I", eph[136:140])[0]
    meta = len(eph) - 512 - 64 * n
    if meta < 0 or meta % 32 != 0:
        return "ephemeris file of %d bytes for %d records" % (len(eph), n)
    if att_size != 512 + 64 * n:
        return "attitude file of %d bytes for %d records" % (att_size, n)
    return None


def check(result, timeout, d, products):
    if result is None:
        return "no end within %d s" % timeout
    status, err = result
    if any(m in err for m in SANITIZER_MARKS):
        return "sanitizer report"
    if status < 0:
        return "ended by signal %d" % -status
    if status == 255:
        return None if err.startswith(b"\n") and err.strip() else "status 255 without a message"
    if status == 0:
        return product_ok(d) if products else None
    return "exit status %d" % status


def run_one(trokproc, d, timeout):
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    try:
        r = subprocess.run([trokproc], cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return None
    return r.returncode, r.stderr


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--trokproc", required=True)
    ap.add_argument("--trokgen", required=True)
    ap.add_argument("--runs", type=int, default=200)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=int, default=10)
    ap.add_argument("--workdir", default="fuzzrun")
    args = ap.parse_args()

    trokproc = os.path.abspath(args.trokproc)
    shutil.rmtree(args.workdir, ignore_errors=True)
    os.makedirs(args.workdir)
    bases = make_bases(os.path.abspath(args.trokgen), os.path.join(args.workdir, "bases"))
    rng = random.Random(args.seed)
    faults = 0
    outcomes = {}
    case = os.path.join(args.workdir, "case")
    for n in range(args.runs):
        files, pktsize = bases[rng.randrange(len(bases))]
        files = dict(files)
        target = rng.choices(["in.pkt", "in.tle", "configfile"], weights=[6, 2, 2])[0]
        if target == "in.pkt":
            files[target] = mutate_bytes(rng, files[target], pktsize)
        else:
            files[target] = mutate_text(rng, files[target])
        shutil.rmtree(case, ignore_errors=True)
        os.makedirs(case)
        for name, data in files.items():
            with open(os.path.join(case, name), "wb") as f:
                f.write(data)
        result = run_one(trokproc, case, args.timeout)
        # A damaged configfile may name other products, or none.
        fault = check(result, args.timeout, case, products=target != "configfile")
        # Tally outcomes by status and, for failures, by the message's first line.
        if result is None:
            key = "timeout"
        elif result[0] == 255:
            first = result[1].strip().split(b"\n")[0].decode(errors="replace")
            key = "255 " + first.split(":")[0]
        else:
            key = str(result[0])
        outcomes[key] = outcomes.get(key, 0) + 1
        if fault:
            faults += 1
            keep = os.path.join(args.workdir, "failures", "%d" % n)
            shutil.copytree(case, keep)
            if result is not None:
                with open(os.path.join(keep, "stderr.txt"), "wb") as f:
                    f.write(result[1])
            print("fuzzrun: input %d (%s damaged): %s; kept in %s" % (n, target, fault, keep))
    for key, count in sorted(outcomes.items()):
        print("fuzzrun: %6d  %s" % (count, key))
    print("fuzzrun: tried %d inputs (seed %d), %d faults" % (args.runs, args.seed, faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
