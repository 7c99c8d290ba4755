#!/usr/bin/env python3
"""Recomputes a published wave of the closed test with nothing but Python's standard library.

    tools/draw-verify.py LIST.csv --seed SEED --params PARAMS [--result RESULT.csv]

The same check as `report-service draw verify`, written a second time from the rule as the service's
documentation states it (service/domain/draw.h), so a reader need not trust, or build, the service to check a
draw. The chosen accounts go to standard output in the form the result is published in; the hashes and the
quotas go to standard error. Exit status 0 (matching, with --result), 1 a result that differs, 2 a bad call.
"""
import argparse
import hashlib
import hmac
import sys

ASPECTS = ["os", "chip", "vram", "memory", "cores", "resolution"]


def field(value):
    return b'"' + value.replace(b'"', b'""') + b'"'


def line(fields):
    return b",".join(field(f) for f in fields) + b"\n"


def read_rows(data):
    """Every field quoted, a doubled quote inside, lines ending in a line feed; anything else is refused."""
    rows, row, i = [], [], 0
    while i < len(data):
        if data[i:i + 1] != b'"':
            raise ValueError("line %d: a field is not quoted" % (len(rows) + 1))
        value, i = bytearray(), i + 1
        while True:
            if i >= len(data):
                raise ValueError("the file ends inside a field")
            if data[i:i + 1] == b'"':
                if data[i + 1:i + 2] == b'"':
                    value += b'"'
                    i += 2
                    continue
                i += 1
                break
            value += data[i:i + 1]
            i += 1
        row.append(bytes(value))
        if data[i:i + 1] == b",":
            i += 1
        elif data[i:i + 1] == b"\n":
            i += 1
            rows.append(row)
            row = []
        else:
            raise ValueError("line %d: a field must end in a comma or a line feed" % (len(rows) + 1))
    return rows


def parse_params(text):
    pairs = dict(p.split("=", 1) for p in text.split())
    params = {"size": int(pairs["size"]), "strategy": pairs["strategy"],
              "aspects": [a for a in ASPECTS if a in pairs.get("aspects", "").split(",")],
              "minimum": int(pairs.get("minimum", "0"))}
    if params["strategy"] not in ("uniform", "proportional", "coverage"):
        raise ValueError("unknown strategy")
    return params


def largest_remainder(total, sizes, ties):
    everyone = sum(sizes)
    if everyone == 0 or total <= 0:
        return [0] * len(sizes)
    quotas = [total * n // everyone for n in sizes]
    remainders = [total * n % everyone for n in sizes]
    left = total - sum(quotas)
    order = sorted(range(len(sizes)), key=lambda k: (-remainders[k], ties[k], k))
    for k in order[:left]:
        quotas[k] += 1
    return quotas


def draw(rows, params, seed):
    header, entries = rows[0], rows[1:]
    if header != [b"account"] + [a.encode() for a in params["aspects"]]:
        raise ValueError("the list's aspects are not the parameters' aspects")
    accounts = [e[0] for e in entries]
    if any(a >= b for a, b in zip(accounts, accounts[1:])) or b"" in accounts:
        raise ValueError("the list is not sorted by account, each once")
    strata = {}
    for e in entries:
        strata.setdefault(tuple(e[1:]), []).append(e[0])
    labels = sorted(strata)
    everyone, wave = len(entries), min(params["size"], len(entries))
    key = seed.encode()
    mac = lambda message: hmac.new(key, message, hashlib.sha256).digest()
    floors = [min(params["minimum"], len(strata[s])) if params["strategy"] == "coverage" else 0 for s in labels]
    if sum(floors) > wave:
        raise ValueError("coverage needs %d testers for its minimums, the wave has %d" % (sum(floors), wave))
    shares = largest_remainder(wave - sum(floors), [len(strata[s]) - f for s, f in zip(labels, floors)],
                               [mac(b"\n".join(s)) for s in labels])
    chosen, quotas = [], []
    for s, floor, share in zip(labels, floors, shares):
        quota = floor + share
        quotas.append((s, quota, len(strata[s])))
        chosen += sorted(strata[s], key=lambda a: (mac(a), a))[:quota]
    return sorted(chosen), quotas


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("list")
    parser.add_argument("--seed", required=True)
    parser.add_argument("--params", required=True)
    parser.add_argument("--result")
    args = parser.parse_args()
    seed = args.seed.strip(" \t\r\n")
    try:
        params = parse_params(args.params)
        with open(args.list, "rb") as f:
            data = f.read()
        rows = read_rows(data)
        chosen, quotas = draw(rows, params, seed)
        if b"".join(line(r) for r in rows) != data:
            raise ValueError("the list is not in its canonical form")
    except (ValueError, KeyError, OSError) as e:
        print("draw-verify: %s" % e, file=sys.stderr)
        return 2
    result = line([b"account"]) + b"".join(line([a]) for a in chosen)
    err = sys.stderr
    print("list     sha256 %s  (%d accounts)" % (hashlib.sha256(data).hexdigest(), len(rows) - 1), file=err)
    print('seed     "%s"' % seed, file=err)
    for labels, quota, eligible in quotas:
        shown = ", ".join('"%s"' % l.decode("utf-8", "replace") for l in labels) or "(all)"
        print("stratum  %s: %d of %d" % (shown, quota, eligible), file=err)
    print("result   sha256 %s  (%d accounts)" % (hashlib.sha256(result).hexdigest(), len(chosen)), file=err)
    sys.stdout.buffer.write(result)
    if args.result is None:
        return 0
    with open(args.result, "rb") as f:
        matches = f.read() == result
    print("verdict  the published result %s" % ("matches" if matches else "differs"), file=err)
    return 0 if matches else 1


if __name__ == "__main__":
    sys.exit(main())
