#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Usage: fuzz/make_seeds.py BUILD_DIR   (BUILD_DIR holds drav-mkmodel)
       fuzz/make_seeds.py --factor      (the factorization's seeds only; they need no build)

The seeds are small hand-made inputs, valid and damaged, plus the example models. Inputs that
once made a target fail are kept beside them under names starting with "crash-"; this script
never removes those.
"""
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
SEP = b"\n@@@@\n"


def put(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def frame(payload, lead=None, trail=None):
    n = len(payload)
    return (struct.pack("<i", n if lead is None else lead) + payload +
            struct.pack("<i", n if trail is None else trail))


def chain(payload, cut):
    """One record as a chain of subrecords of at most `cut` bytes."""
    parts = [payload[i:i + cut] for i in range(0, len(payload), cut)] or [b""]
    out = b""
    for i, p in enumerate(parts):
        more = i + 1 < len(parts)
        out += frame(p, -len(p) if more else len(p), -len(p) if i > 0 else len(p))
    return out


def comzor(sizes, supports, neq, iter_=1, lang="ENGLISH", rep="report.txt"):
    lines = [" ".join(map(str, sizes))] + supports
    lines += ["0 0 0 0 0"] + ["0 0 0 0 0"] * 6 + ["0 0 0 0 0 0", str(neq),
                                                  "0 0 0 0 0 0 %d" % iter_]
    lines += ["title", rep, "third line", "", "", "", lang]
    return "\r\n".join(lines) + "\r\n"


def model_dirs(mkmodel):
    models = {}
    for ex in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if not ex.endswith(".txt"):
            continue
        with tempfile.TemporaryDirectory() as t:
            out = os.path.join(t, "m")
            subprocess.run([mkmodel, os.path.join(ROOT, "examples", ex), out], check=True,
                           stdout=subprocess.DEVNULL)
            models[ex[:-4]] = {n: open(os.path.join(out, n), "rb").read()
                               for n in os.listdir(out)}
    return models


FILLS = ["zeros", "uniform", "scaled", "integers", "ties", "graded", "triangle", "sparse"]
STRUCTURES = ["dense", "band", "profile"]


def factor_input(order, fill, structure, symmetric=False, band=0, extra=0, announce=0,
                 threads3=False, shape=(0, 0, 0), seed=0, plants=()):
    """The header of fuzz_factor.cpp and its records (row, column, value code)."""
    b0 = order - 1 if order <= 40 else 160 + order - 41 if order <= 128 else \
        248 + (order - 161) // 17
    b1 = extra | (4 if symmetric else 0) | FILLS.index(fill) << 3
    b1 |= STRUCTURES.index(structure) << 6
    b3 = announce | (4 if threads3 else 0)
    out = bytes([b0, b1, band, b3, *shape, seed])
    for i, j, code in plants:
        out += bytes([i, j, code])
    return out


def factor_seeds():
    """Every fill on every structure, small, middling and large orders, and planted values:
    NaN (0x22; 0x2e a NaN of the other sign), infinities (0x24, 0x25), overflow (0x26),
    -0.0 (0x21), the tolerance (0x40 on), subnormals (0x60 on), single-precision ties (0x80)."""
    k = 0
    for fi, fill in enumerate(FILLS):
        for si, st in enumerate(STRUCTURES):
            k += 1
            put("factor", "%s-%s" % (fill, st),
                factor_input(1 + (7 + 5 * k) % 40, fill, st, symmetric=k % 2 == 1, band=k * 37 % 256,
                             extra=k % 3, announce=k % 4, threads3=k % 2 == 0,
                             shape=(k * 11 % 256, k * 29 % 256, k * 53 % 256), seed=k,
                             plants=[(k, k + 1, 0x21), (2 * k, k, 0x80 + k % 32)]))
    for fill, st, sym, band in [("uniform", "dense", True, 0), ("graded", "band", True, 200),
                                ("scaled", "dense", False, 0), ("triangle", "dense", False, 0),
                                ("sparse", "profile", True, 180), ("integers", "band", False, 3)]:
        put("factor", "middle-%s-%s" % (fill, st),
            factor_input(90, fill, st, symmetric=sym, band=band, shape=(7, 70, 140), seed=3))
    for fill, st, sym, band in [("graded", "dense", True, 0), ("sparse", "band", True, 5),
                                ("uniform", "profile", False, 250)]:
        put("factor", "large-%s-%s" % (fill, st),
            factor_input(263, fill, st, symmetric=sym, band=band, announce=1, seed=9))
    plants = {
        "nan": [(3, 4, 0x22), (9, 2, 0x22)],
        "nan-other-sign": [(3, 4, 0x2e), (5, 5, 0x22)],
        "infinities": [(1, 1, 0x24), (6, 3, 0x25)],
        "overflow": [(2, 2, 0x26), (4, 3, 0x26), (7, 7, 0x27)],
        "minus-zeros": [(i, (i * 7) % 20, 0x21) for i in range(20)],
        "tolerance": [(i, i, 0x40 + 2 * i) for i in range(8)],
        "subnormals": [(i, i, 0x60 + 2 * i) for i in range(8)],
        "ties": [(i, 0, 0x80 + i) for i in range(16)],
    }
    for name, p in plants.items():
        for fill, st in [("sparse", "dense"), ("graded", "band"), ("triangle", "dense")]:
            put("factor", "%s-%s-%s" % (name, fill, st),
                factor_input(21, fill, st, symmetric=fill != "triangle", band=130,
                             shape=(5, 33, 66), plants=p))


def main():
    if sys.argv[1:] == ["--factor"]:
        factor_seeds()
        return
    factor_seeds()
    mkmodel = os.path.join(sys.argv[1], "drav-mkmodel")
    models = model_dirs(mkmodel)
    order = ["COMZOR.DAT", "temp.dat", "nei.UNF", "x0.UNF", "el.unf"]

    # RCOM: the examples' parameter files and hand-made variants.
    for name, m in models.items():
        put("rcom", "example-" + name, m["COMZOR.DAT"])
    put("rcom", "empty", b"")
    put("rcom", "sizes-only", "3 1 1 2 2 2 3\n")
    put("rcom", "repeat-and-nulls", comzor([3, 2, 1, 2, 2, 2, 3],
                                           ["1 2*1", "3,,1", "2 1.5 2.5E3"], 3))
    put("rcom", "slash-in-support", comzor([2, 1, 0, 1, 3, 1, 2], ["2 1 /"], 5))
    put("rcom", "node-outside", comzor([2, 1, 0, 1, 2, 1, 2], ["3 1 1"], 2))
    put("rcom", "lf-only-romanian", comzor([2, 0, 0, 1, 2, 1, 2], [], 4, 2, "romana")
        .replace("\r\n", "\n"))
    put("rcom", "negative-sizes", comzor([-2, 0, 0, -1, -3, 0, 0], [], 0))
    put("rcom", "too-big-integer", "2147483648 0 0 0 2 0 0\n")
    put("rcom", "bad-real", comzor([1, 0, 0, 0, 2, 0, 0], [], 2).replace("0 0 0 0 0 0\r\n2",
                                                                          "1 1e99 0 0 0 0\r\n2"))
    put("rcom", "missing-lines", comzor([1, 0, 0, 0, 2, 0, 0], [], 2)[:60])

    # Free-format reader: values of every form, nulls, repeats, slashes, errors.
    lf = [
        "1 2 3 4 5 6 7\n9\n1 2.5 3.5D2\n1,2,,4*1.0 5*,2 3 4 5\n-1 1.5-3 1 1 1 +2.5e+1\n"
        "/\n1,2\n3\n4\n5\n6\nTEXT\n",
        "7*0\n1\n1 1 1 1\n10*2.5E-46 5*7\n1 1 1 1 1 1\n2147483647\n-2147483648\n1e400\n",
        ",,,,,,,\n,\n", "1 2 3\n", "", "1 2 3 4 5 6 7\n\t2\n1 .5 5. 0.0\n",
        "1 2 3 4 5 6 7\n3\n1 1.0 1.0 1e-400 junk\n", "0*1\n", "3*\n", "2147483648\n",
        "1 2 3 4 5 6 7\n1\n1 1 1 1\n" + "9" * 400 + ".5\n",
        "1\r\n2\r\n3\r\n4 5 6 7\r\n",
    ]
    for i, t in enumerate(lf):
        put("listin", "text-%02d" % i, t)

    # SeqReader: operation bytes, then the file (see fuzz_seqreader.cpp).
    rec = lambda *p: b"".join(p)
    skip, length, at_end, huge = b"\x00", b"\x01", b"\x02", b"\x03"
    rd = lambda n: bytes([n + 4])
    seq = {
        "one-record": b"\x01" + rd(8) + at_end + frame(bytes(range(8))),
        "three-records": b"\x04" + rd(4) + skip + length + at_end + at_end +
                         rec(frame(b"abcd"), frame(b""), frame(b"0123456789")),
        "chain": b"\x02" + rd(20) + length + at_end + chain(bytes(range(30)), 7) + frame(b"xy"),
        "empty-chain-piece": b"\x01" + rd(3) + frame(b"abc", -3, 3) + frame(b"", 0, 0),
        "short-record": b"\x00" + rd(9) + frame(b"abcd"),
        "end-of-file": b"\x01" + skip + skip + frame(b"abcd"),
        "stray-bytes": b"\x01" + skip + skip + frame(b"abcd") + b"\x01\x02",
        "twin-mismatch": b"\x00" + skip + frame(b"abcd", 4, 5),
        "past-the-end": b"\x00" + skip + struct.pack("<i", 1000) + b"abcd",
        "bad-continuation": b"\x00" + skip + frame(b"abcd", 4, -4),
        "missing-mark": b"\x00" + skip + frame(b"ab", -2, 2) + frame(b"cd", 2, 2),
        "negative-max": b"\x00" + skip + struct.pack("<i", -2**31) + b"abcd" * 2,
        "huge-array": b"\x00" + huge + frame(b"abcd"),
        "large-read": b"\x00" + bytes([68 + 130]) + frame(bytes(130 * 130 + 3)),
        "empty-file": b"\x00" + skip,
    }
    for n, d in seq.items():
        put("seqreader", n, d)

    # DirectReader: length in 4-byte units, reads (record, byte count), then the file.
    def dr(units, reads, body):
        out = struct.pack("<h", units) + bytes([len(reads) - 1])
        for recno, n in reads:
            out += struct.pack("<bH", recno, n)
        return out + body

    direct = {
        "three-records": dr(2, [(1, 8), (3, 4), (2, 0)], bytes(range(24))),
        "cut-short": dr(4, [(2, 16)], bytes(range(20))),
        "no-record": dr(1, [(3, 4)], bytes(8)),
        "record-zero": dr(1, [(0, 4)], bytes(8)),
        "negative-record": dr(1, [(-5, 4)], bytes(8)),
        "huge-record": dr(1, [(127, 4)], bytes(8)),
        "smallest-record": dr(1, [(-128, 4)], bytes(8)),
        "too-much": dr(1, [(1, 5)], bytes(8)),
        "zero-length": dr(0, [(1, 0)], bytes(8)),
        "negative-length": dr(-3, [(1, 0)], bytes(8)),
        "largest-length": dr(32767, [(1, 65535)], bytes(200)),
        "empty-file": dr(2, [(1, 1)], b""),
    }
    for n, d in direct.items():
        put("directreader", n, d)

    # The whole run: the example models, and damaged or incomplete directories.
    def joined(m, drop=()):
        parts = [b"" if n in drop else m[n] for n in order]
        return SEP.join(parts)

    # The larger examples exceed the target's equation limit and would only slow it.
    for name in ("plane_truss", "mechanism"):
        put("model_input", "example-" + name, joined(models[name]))
    pt = models["plane_truss"]
    put("model_input", "no-model-files", pt["COMZOR.DAT"] + SEP + pt["temp.dat"])
    put("model_input", "short-nei", SEP.join([pt["COMZOR.DAT"], pt["temp.dat"],
                                              pt["nei.UNF"][:100], pt["x0.UNF"], pt["el.unf"]]))
    put("model_input", "short-el", SEP.join([pt["COMZOR.DAT"], pt["temp.dat"], pt["nei.UNF"],
                                             pt["x0.UNF"], pt["el.unf"][:300]]))
    bad_nei = bytearray(pt["nei.UNF"])
    bad_nei[4:8] = struct.pack("<i", 99)  # an element number outside the model
    put("model_input", "element-outside", SEP.join([pt["COMZOR.DAT"], pt["temp.dat"],
                                                    bytes(bad_nei), pt["x0.UNF"], pt["el.unf"]]))
    put("model_input", "iteration-two", joined(dict(pt, **{
        "COMZOR.DAT": pt["COMZOR.DAT"].replace(b"0 0 0 0 0 0 1\r\n", b"0 0 0 0 0 0 2\r\n")})))
    put("model_input", "wrong-neq", joined(dict(pt, **{
        "COMZOR.DAT": pt["COMZOR.DAT"].replace(b"\r\n13\r\n", b"\r\n12\r\n")})))
    put("model_input", "zero-element-model",
        SEP.join([comzor([3, 0, 0, 0, 2, 0, 1], [], 6).encode(), b"1\n",
                  frame(b"") * 3, frame(b"") * 4, b""]))
    put("model_input", "huge-sizes-short-files",
        SEP.join([comzor([1000, 0, 0, 100000, 2, 1000, 1], [], 2000).encode(), b"1\n",
                  frame(b"\0" * 16), frame(b""), b""]))

    # Model descriptions: the examples and faulty ones.
    for ex in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if ex.endswith(".txt"):
            put("model_desc", "example-" + ex[:-4],
                open(os.path.join(ROOT, "examples", ex), "rb").read())
    descs = {
        "minimal": "ndofn 1\nnode 1 0\nnode 2 1\nfix 1 all\ndefault E=1 A=1\nbar 1 1 2\n",
        "settings": "ndofn 3\ntitle t\niter 2\ncase 120\nreport r.txt\nlanguage r\nnemax 2\n"
                    "nband 4\nnode 1 0 0 0\nnode 2 1 0 0\nnode 3 0 1 0\nspring 3 z 5\nfix 1 x y z\n"
                    "fix 2 2 3\nbar 1 1 2 E=2e8 A=1e-3 AL0=0.5 S0=1.5 T=-3 IND=1\n"
                    "bar 2 2 3 E=1 A=1 S0=length IND=-1\n",
        "no-ndofn": "node 1 0 0\n",
        "node-twice": "ndofn 1\nnode 1 0\nnode 1 1\n",
        "bar-to-itself": "ndofn 1\nnode 1 0\ndefault E=1 A=1\nbar 1 1 1\n",
        "no-e": "ndofn 1\nnode 1 0\nnode 2 1\nbar 1 1 2 A=1\n",
        "huge-ndofn-fix-all": "ndofn 268435448\nfix 1 all\n",
        "big-numbers": "ndofn 1\nnode 1 1e308\nnode 2 -1e39\nbar 1 1 2 E=1e999 A=1\n",
        "nul-and-cr": "ndofn 1\r\nnode 1 0\x00\r\n",
        "zero-length-bar": "ndofn 2\nnode 1 0 0\nnode 2 0 0\ndefault E=1 A=1\nbar 1 1 2\n",
        "nemax-too-small": "ndofn 1\nnemax 1\nnode 1 0\nnode 2 1\nnode 3 2\ndefault E=1 A=1\n"
                           "bar 1 1 2\nbar 2 2 3\n",
    }
    for n, d in descs.items():
        put("model_desc", n, d)


if __name__ == "__main__":
    main()
