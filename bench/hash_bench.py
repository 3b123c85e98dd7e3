"""SignatureVerifier::Update against libsodium's crypto_generichash_update,
from the Google Benchmark program signature_verifier_benchmark (an optimised
native build without sanitizers).

  hash_bench.py --program PATH --json FILE

Two runs of the program: all its benchmarks (RawGenerichashUpdate calls
sodium_init, which picks the fastest BLAKE2b compression for this CPU, and
VerifierUpdate runs after it, in the same process), and VerifierUpdate alone,
where sodium_init is never called: that is how the setup program runs, since
it leaves sodium_init out, so libsodium hashes with its portable compression.
"""

import argparse
import json
import statistics
import subprocess
import sys


def throughput(program, name_filter):
    result = subprocess.run([program, "--benchmark_format=json",
                             "--benchmark_filter=" + name_filter],
                            check=True, capture_output=True, text=True, timeout=600)
    rates = {}
    for entry in json.loads(result.stdout)["benchmarks"]:
        rates.setdefault(entry["name"].split("/")[0], []).append(entry["bytes_per_second"])
    return {name: statistics.median(values) for name, values in rates.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--json", required=True)
    options = parser.parse_args()
    both = throughput(options.program, ".")
    alone = throughput(options.program, "^VerifierUpdate/")
    raw = both["RawGenerichashUpdate"]
    data = {"raw_bytes_per_second": raw, "verifier_bytes_per_second": both["VerifierUpdate"],
            "ratio": both["VerifierUpdate"] / raw,
            "verifier_alone_bytes_per_second": alone["VerifierUpdate"],
            "alone_ratio": alone["VerifierUpdate"] / raw}
    data["met"] = data["ratio"] >= 0.95
    with open(options.json, "w", encoding="utf-8") as file:
        json.dump(data, file, indent=1)
    mib = 1 << 20
    print("hash: 64 KiB chunks, medians: crypto_generichash_update %.0f MiB/s, "
          "SignatureVerifier::Update %.0f MiB/s, ratio %.3f; goal >= 0.95: %s" % (
              raw / mib, data["verifier_bytes_per_second"] / mib, data["ratio"],
              "met" if data["met"] else "NOT met"))
    print("  SignatureVerifier::Update without sodium_init (as in the setup program): "
          "%.0f MiB/s, %.3f of the raw figure" % (alone["VerifierUpdate"] / mib,
                                                  data["alone_ratio"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
