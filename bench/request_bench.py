#!/usr/bin/env python3
"""Request-cost benchmark: what one CGI request costs compared with starting a process.

Runs the built gate N times per request kind against a temporary site, the way a web
server starts it (environment variables, body on standard input, reply read from standard
output), and runs a floor process (/bin/true) N times from the same loop in the same way.
Reports the mean and median wall time per run and the ratio request / floor.

    python3 bench/request_bench.py [--exe build/orvanegate] [-n 200]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import bench_site

MAX_RUNS = 1000
FLOOR = "/bin/true"
MEMBER = bench_site.MEMBER


def cgi_env(method, body=b"", query=""):
    env = {
        "PATH": "/usr/bin:/bin",
        "GATEWAY_INTERFACE": "CGI/1.1",
        "SERVER_PROTOCOL": "HTTP/1.1",
        "SERVER_NAME": "127.0.0.1",
        "SERVER_PORT": "8080",
        "REMOTE_ADDR": "127.0.0.1",
        "SCRIPT_NAME": "/cgi/orvanegate.exe",
        "REQUEST_METHOD": method,
        "QUERY_STRING": query,
    }
    if method == "POST":
        env["CONTENT_TYPE"] = "application/x-www-form-urlencoded"
        env["CONTENT_LENGTH"] = str(len(body))
    return env


def run_once(argv, env, body, cwd):
    """Starts one process as a web server would and returns (seconds, stdout)."""
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, input=body, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, cwd=cwd, check=False)
    return time.perf_counter() - start, done.stdout


def measure(kinds, cwd, runs):
    """Times every kind once per round, so that load from elsewhere hits all kinds alike."""
    times = {name: [] for name, _, _, _ in kinds}
    for round_number in range(runs + 5):
        for name, argv, env, body in kinds:
            seconds, _ = run_once(argv, env, body, cwd)
            if round_number >= 5:  # the first rounds only warm the page cache
                times[name].append(seconds)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join("build", "orvanegate"),
                        help="the built gate (default: build/orvanegate, the release build)")
    parser.add_argument("-n", "--runs", type=int, default=200,
                        help="runs per kind, 1 to %d (default 200)" % MAX_RUNS)
    args = parser.parse_args()
    runs = max(1, min(args.runs, MAX_RUNS))
    if not os.path.isfile(args.exe):
        sys.exit("no executable at %s: build first (cmake -S . -B build && cmake --build build)"
                 % args.exe)

    with tempfile.TemporaryDirectory(prefix="orvanegate-bench-") as root:
        gate = bench_site.BenchSite(root, args.exe).exe
        cwd = os.path.dirname(gate)
        kinds = [
            ("no-data POST", cgi_env("POST"), b"",
             "no data データがありません".encode("cp932")),
            ("profile query", cgi_env("GET", query="showuser=%s&session=bench" % MEMBER), b"",
             "山田花子".encode("cp932")),
        ]
        for name, env, body, expected in kinds:
            _, out = run_once([gate], env, body, cwd)
            if expected not in out:
                sys.exit("the %s did not answer as expected; reply was: %r" % (name, out[:300]))

        timed = [("floor", [FLOOR], cgi_env("POST"), b"")]
        timed += [(name, [gate], env, body) for name, env, body, _ in kinds]
        times = measure(timed, cwd, runs)
        floor_mean = statistics.mean(times["floor"])
        floor_median = statistics.median(times["floor"])
        print("runs per kind: %d (floor process: %s)" % (runs, FLOOR))
        print("%-14s %10s %10s %12s %14s" % ("kind", "mean us", "median us", "mean ratio",
                                             "median ratio"))
        for name, _, _, _ in timed:
            mean = statistics.mean(times[name])
            median = statistics.median(times[name])
            print("%-14s %10.0f %10.0f %12.2f %14.2f" % (name, mean * 1e6, median * 1e6,
                                                       mean / floor_mean, median / floor_median))
        print("ratio: request time / floor time (the cost of one request in process starts)")


if __name__ == "__main__":
    main()
