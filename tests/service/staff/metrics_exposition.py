"""Reads metrics_sample's exposition with the Prometheus client's own text parser and compares every sample,
label and help text with what the program says it fed in."""
import math
import os
import subprocess
import sys
import tempfile

from prometheus_client.parser import text_string_to_metric_families


def main():
    sample = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        for seed in range(1, 41):
            exposition, expected = os.path.join(folder, "exposition"), os.path.join(folder, "expected")
            subprocess.run([sample, str(seed), exposition, expected], check=True)
            with open(exposition, encoding="utf-8") as f:
                text = f.read()
            got, helps = {}, {}
            for family in text_string_to_metric_families(text):
                helps[family.name] = family.documentation
                for s in family.samples:
                    key = (s.name, frozenset(s.labels.items()))
                    assert key not in got, f"seed {seed}: {key} twice"
                    got[key] = s.value
            want = {}
            with open(expected, encoding="ascii") as f:
                for line in f:
                    kind, labels, value = line.rstrip("\n").split("\t")
                    if kind == "help":
                        assert helps[labels] == bytes.fromhex(value).decode(), f"seed {seed}: help of {labels}"
                        continue
                    pairs = [p.split("=") for p in labels.split(",")]
                    want[(kind, frozenset((k, bytes.fromhex(v).decode()) for k, v in pairs))] = float(value)
            assert got.keys() == want.keys(), f"seed {seed}: {sorted(map(str, got.keys() ^ want.keys()))[:4]}"
            for key, value in want.items():
                assert math.isclose(got[key], value, rel_tol=1e-12, abs_tol=1e-12), f"seed {seed}: {key} {got[key]} != {value}"
    print("40 expositions parsed, every sample as fed in")


if __name__ == "__main__":
    main()
