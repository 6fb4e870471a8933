#!/usr/bin/env python3
"""The selection of "velto-publish check" agrees with the program's, byte for byte, on
random and mutated update lists (the program's side: selection_probe.exe under Wine), and
so do the names refused, the prerequisites pinned and the signature verdict.
  agreement_test.py <velto-publish> <wine-run> <prefix> <selection_probe.exe> <scratch>"""
import importlib.machinery
import os
import random
import shutil
import subprocess
import sys

publish_path, wine_run, prefix, probe, scratch = sys.argv[1:6]
publish = importlib.machinery.SourceFileLoader("velto_publish", publish_path).load_module()

NOW = "20261208_2300"
STAMPS = ["20261208_2300", "20261208_2259", "20261208_2301", "20200101_0000", "20991231_2359",
          "20261207_2300", "", "2026120", "20261208_230"]
COUNT = 300
# The choices added for names, pins and signatures draw from a stream of their own, so
# that the lists of the main stream stay what they were.
extra = random.Random(29)


def random_line(rng):
    kind = rng.choice(["0", "0", "0", "-1", "-2", "1", "2", "3", "10", "11", "-3", "--", "", "x",
                       "007", "1b", "-2"])
    if kind == "":
        return rng.choice(["", "header", "1"])
    if kind == "--":
        return "--" + rng.choice(["", "0,1,,,", "comment"])
    fields = [kind]
    if kind in ("0", "-1", "007"):
        fields += [str(rng.choice([1, 4, 5, 7, 120, -1])), rng.choice(["", "0"]), "x",
                   rng.choice(STAMPS), rng.choice(["Velto 3.2", "VeltoSetup5", "", "更新"])]
        if rng.random() < 0.3:
            fields.append(rng.choice(["ab" * 32, "zz"]))
        if rng.random() < 0.2:
            del fields[rng.randint(2, len(fields)):]
    elif kind == "-2":
        fields += [rng.choice(["ProductNameShort", "SHA256:ndp461.upd", "K"]),
                   rng.choice(["v", "cd" * 32])]
        # Prerequisite pins, also where the scan never copies them (after the section).
        if extra.random() < 0.3:
            fields[1] = extra.choice(["SHA256:NDP461.UPD", "SHA256:ldb2017rtmx64.upd",
                                      "SHA256:ldb2014sp3x64.upd"])
    else:
        fields += [rng.choice(["piece", "data", "Velto320Install", "a b", ""])]
        # Names the program refuses.
        if extra.random() < 0.25:
            fields[1] = extra.choice(["VeltoSetup5.", "CON", "nul.txt", "com1", "COM0", "a?b",
                                      "trailing ", "x:y", "a/b", "..", "lpt9.x", "a\x01"])
        if rng.random() < 0.3:
            fields.append("ef" * 32)
    line = ",".join(fields)
    if rng.random() < 0.03:
        line += "," + "y" * rng.choice([300, 505, 509, 600])
    return line


def random_list(rng):
    lines = [random_line(rng) for _ in range(rng.randint(0, 14))]
    mark = rng.random() < 0.7
    ends = [rng.choice(["\r\n", "\r\n", "\n", "\r"]) for _ in lines]
    text = "".join(l + e for l, e in zip(lines, ends))
    if lines and rng.random() < 0.2:
        text = text.rstrip("\r\n")
    if mark:
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    data = text.encode("utf-8").replace("更新".encode("utf-8"), b"\x8e\x9a")
    return data


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        choice = rng.random()
        if not data:
            break
        at = rng.randrange(len(data))
        if choice < 0.3:
            del data[at]
        elif choice < 0.6:
            data.insert(at, rng.choice(b",\r\n0-_9"))
        else:
            data[at] = rng.choice(b",\r\n0-19x")
    return bytes(data)


def write_signature(path, data, key, rng=extra):
    """Missing, empty, junk, of other bytes, or valid."""
    choice = rng.random()
    if choice < 0.2:
        return
    with open(path, "wb") as f:
        if choice < 0.3:
            return
        if choice < 0.4:
            f.write(b"junk\n")
        elif choice < 0.5:
            f.write(publish.signature_line(key, data + b" ").encode() + b"\n")
        else:
            f.write(publish.signature_line(key, data).encode() + b"\n")


def main():
    _, _, ec, _ = publish.crypto()
    key = ec.generate_private_key(ec.SECP256R1())
    key_hex = publish.public_hex(key.public_key())
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    rng = random.Random(13)
    lists = []
    for n in range(COUNT):
        data = random_list(rng)
        if n % 3 == 2:
            data = mutate(data, rng)
        lists.append(data)
        with open(os.path.join(scratch, "list_%d.upd" % n), "wb") as f:
            f.write(data)
        write_signature(os.path.join(scratch, "list_%d.sig" % n), data, key)
    windows_folder = "Z:" + os.path.abspath(scratch).replace("/", "\\")
    with open(os.path.join(scratch, "probe.log"), "wb") as log:
        subprocess.run([wine_run, prefix, probe, windows_folder, NOW, key_hex], stdout=log,
                       stderr=subprocess.STDOUT, timeout=240, check=True)
    with open(os.path.join(scratch, "oemcp.txt")) as f:
        oem = "cp" + f.read().strip()
    disagreements = 0
    kinds = {}
    for n, data in enumerate(lists):
        with open(os.path.join(scratch, "sel_%d.out" % n), "rb") as f:
            program = f.read()
        texts = [publish.decode(line, data[:3] == publish.MARK, oem)
                 for line, ok in publish.read_lines(data) if ok]
        selection = publish.select(texts, NOW)
        kinds[selection[0]] = kinds.get(selection[0], 0) + 1
        tool = publish.selection_bytes(selection)
        with open(os.path.join(scratch, "read_%d.out" % n), "rb") as f:
            program += f.read()
        refused, pinned = publish.information(selection[1] if selection[0] == "section" else [])
        signed = publish.verify_signature(data, os.path.join(scratch, "list_%d.sig" % n),
                                          [key_hex]) is None
        tool += ("refused%s\npinned%s\nsignature %d\n" % (
            "".join(" %d" % k for k in refused),
            "".join(" " + name for name in ("ndp461.upd", "ldb2017rtmx64.upd") if name in pinned),
            signed)).encode()
        if tool != program:
            disagreements += 1
            if disagreements <= 5:
                print("list_%d.upd: %r\n  program: %r\n  check:   %r" % (n, data, program, tool))
    print("%d lists (%s), %d disagreements" % (
        len(lists), ", ".join("%s %d" % kv for kv in sorted(kinds.items())), disagreements))
    return 1 if disagreements else 0


sys.exit(main())
