#!/usr/bin/env python3
"""Request benchmark: the gate beside C floors and peer scripts, timed in one run.

Builds the release gate and the C floors, lays out a site on a tmpfs scratch directory,
times every case with hyperfine (warm-up runs, medians), measures peak memory with
/usr/bin/time -v, counts system calls, page faults and instructions of the gate's
requests, and prints one table in Markdown. Run through bench/run.sh.
"""

import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

import bench_site

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
KIB = 1024
MIB = 1024 * 1024
SMALL_IMAGE = 20 * KIB
LARGE_IMAGE = 50 * MIB
# Members and leaves of the server table's grown site.
GROWN_SITE = 100000


class Case:
    """One program run the way a web server runs it: environment, body on standard
    input, reply discarded. prepare runs untimed before each timed run."""

    def __init__(self, name, argv, env, body=None, cwd=None, prepare=None, floor=False):
        self.name = name
        self.argv = argv
        self.env = env
        self.body = body
        self.cwd = cwd or os.path.dirname(argv[0])
        self.prepare = prepare
        self.floor = floor

    def command(self, launcher):
        """The command line hyperfine runs without a shell: the launcher puts the body on
        standard input and sets exactly this environment, then becomes the program."""
        words = [launcher, self.body or "/dev/null"]
        words += ["%s=%s" % item for item in sorted(self.env.items())]
        words += ["--"] + self.argv
        return " ".join(shlex.quote(word) for word in words)

    def shell(self):
        assigns = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in sorted(self.env.items()))
        stdin = shlex.quote(self.body) if self.body else "/dev/null"
        return "cd %s && env -i %s %s < %s" % (shlex.quote(self.cwd), assigns,
                                               " ".join(map(shlex.quote, self.argv)), stdin)

    def run_env(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        env.update(self.env)
        return env


def run(argv, **kwargs):
    return subprocess.run(argv, check=True, **kwargs)


def build_gate(build_dir):
    run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
         "-DORVANEGATE_TESTS=OFF", "-DORVANEGATE_SANITIZE=OFF"], stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "--target", "orvanegate", "-j2"],
        stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "orvanegate")


def build_floors(bin_dir):
    os.makedirs(bin_dir, exist_ok=True)
    floors = os.path.join(HERE, "floors")
    built = {}
    for name, flags in (("floor_read", []), ("floor_read_static", ["-static"]),
                        ("floor_memmem", []), ("floor_stream", []), ("burst", []),
                        ("launch", ["-static"])):
        source = os.path.join(floors, name.replace("_static", "") + ".c")
        out = os.path.join(bin_dir, name)
        run(["cc", "-O2", "-Wall", "-Wextra"] + flags + ["-o", out, source])
        built[name] = out
    return built


def cgi_env(method, body=None, query=None, content_type=None):
    env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1",
           "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "80", "REMOTE_ADDR": "127.0.0.1",
           "SCRIPT_NAME": "/cgi/orvanegate.exe", "REQUEST_METHOD": method}
    if query is not None:
        env["QUERY_STRING"] = query
    if body is not None:
        env["CONTENT_LENGTH"] = str(os.path.getsize(body))
        env["CONTENT_TYPE"] = content_type or bench_site.content_type()
    return env


def peers(site, body, scratch):
    """The peer scripts doing the same job, each when its interpreter is there."""
    found = []
    env = dict(cgi_env("POST", body), PEER_DIR=scratch, TMPDIR=site.scratch)
    peer_dir = os.path.join(HERE, "peers")
    php = shutil.which("php-cgi")
    if php:
        script = os.path.join(peer_dir, "store_upload.php")
        found.append(Case("PHP (php-cgi)", [php, "-d", "upload_tmp_dir=" + site.scratch,
                                             "-d", "upload_max_filesize=200M",
                                             "-d", "post_max_size=200M"],
                          dict(env, REDIRECT_STATUS="200", SCRIPT_FILENAME=script),
                          body, cwd=peer_dir, prepare=clear(scratch)))
    else:
        print("skipped: PHP peer (php-cgi is not installed)", file=sys.stderr)
    if subprocess.run(["perl", "-MCGI", "-e", "1"], stderr=subprocess.DEVNULL).returncode == 0:
        found.append(Case("Perl CGI.pm", [shutil.which("perl"),
                                           os.path.join(peer_dir, "store_upload.pl")],
                          env, body, cwd=peer_dir, prepare=clear(scratch)))
    else:
        print("skipped: Perl peer (CGI.pm is not installed)", file=sys.stderr)
    found.append(Case("Python", [sys.executable, os.path.join(peer_dir, "store_upload.py")],
                      env, body, cwd=peer_dir, prepare=clear(scratch)))
    return found


def clear(directory, keep=()):
    """A prepare command that empties the directory, keeping the names given."""
    spared = " ".join("! -name %s" % shlex.quote(name) for name in keep)
    return "find %s -mindepth 1 %s -delete" % (shlex.quote(directory), spared)


def peak_rss_kib(case):
    """Maximum resident set size of one run, from /usr/bin/time -v."""
    if case.prepare:
        subprocess.run(["sh", "-c", case.prepare], check=False)
    done = subprocess.run(["/usr/bin/time", "-v", "sh", "-c", case.shell()],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    for line in done.stderr.decode(errors="replace").splitlines():
        if "Maximum resident set size" in line:
            return int(line.rsplit(":", 1)[1])
    return None


def counts(case, work):
    """System calls, minor page faults and instructions of one run of the case."""
    result = {}
    stdin_path = case.body or "/dev/null"

    def one(prefix):
        if case.prepare:
            subprocess.run(["sh", "-c", case.prepare], check=False)
        with open(stdin_path, "rb") as stdin:
            return subprocess.run(prefix + case.argv, env=case.run_env(), cwd=case.cwd,
                                  stdin=stdin, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, check=False)

    if shutil.which("strace"):
        out = os.path.join(work, "strace.txt")
        one(["strace", "-f", "-c", "-o", out])
        with open(out) as f:
            for line in f:
                if line.rstrip().endswith("total"):
                    fields = line.split()
                    result["syscalls"] = int(fields[3])
    faults = one(["/usr/bin/time", "-f", "FAULTS %R"]).stderr.decode(errors="replace")
    for line in faults.splitlines():
        if line.startswith("FAULTS "):
            result["faults"] = int(line.split()[1])
    if shutil.which("valgrind") and (case.body is None or os.path.getsize(case.body) < MIB):
        out = os.path.join(work, "callgrind.out")
        text = one(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]).stderr
        for line in text.decode(errors="replace").splitlines():
            if "Collected :" in line:
                result["instructions"] = int(line.rsplit(":", 1)[1])
    return result


def latencies(path):
    with open(path) as f:
        values = sorted(int(line) for line in f if line.strip())
    if not values:
        return None, None
    p99 = values[min(len(values) - 1, int(round(0.99 * (len(values) - 1))))]
    return statistics.median(values) / 1000.0, p99 / 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-release"))
    parser.add_argument("--scratch", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                        help="a tmpfs directory for the site (default /dev/shm)")
    parser.add_argument("--quick", action="store_true", help="fewer runs, for a first look")
    parser.add_argument("--servers", action="store_true",
                        help="also the server-level table (server_bench.py): nginx, wrk, php-fpm")
    parser.add_argument("--servers-only", action="store_true",
                        help="only the server-level table")
    args = parser.parse_args()
    small_runs, large_runs, burst_runs = (40, 8, 2) if args.quick else (240, 20, 5)

    exe = build_gate(args.build)
    if not args.servers_only:
        with tempfile.TemporaryDirectory(prefix="orvanegate-bench-", dir=args.scratch) as root:
            report(root, exe, small_runs, large_runs, burst_runs)
    if args.servers or args.servers_only:
        rounds = ["--rounds", "1", "--seconds", "2"] if args.quick else ["--rounds", "4"]
        run([sys.executable, os.path.join(HERE, "server_bench.py"), exe] + rounds)
        # The same rows on a site that has lived a while: work that grows with the
        # members or leaves shows as the distance between the two tables.
        run([sys.executable, os.path.join(HERE, "server_bench.py"), exe, "--grown",
             str(GROWN_SITE)] + rounds)


def gate_cases(site, small_bodies, registration):
    cases = [
        Case("gate: registration", [site.exe], cgi_env("POST", registration,
                                                         content_type="application/x-www-form-urlencoded"),
             registration, prepare="rm -f %s" % shlex.quote(
                 os.path.join(site.members, bench_site.NEW_MEMBER + ".txt"))),
        Case("gate: profile query", [site.exe],
             cgi_env("GET", query="showuser=%s&session=stamp" % bench_site.MEMBER)),
    ]
    for mode, body in small_bodies.items():
        cases.append(Case("gate: 20 KiB postleaf, %s" % mode, [site.exe], cgi_env("POST", body),
                          body, prepare=clear(site.leaves(mode), ("count.txt", "counter.txt"))))
    return cases


def report(root, exe, small_runs, large_runs, burst_runs):
    bins = build_floors(os.path.join(root, "bin"))
    launcher = bins["launch"]
    site = bench_site.BenchSite(os.path.join(root, "site"), exe)
    floor_dir = os.path.join(site.scratch, "stored")
    os.makedirs(floor_dir)
    small_bodies = {mode: site.posting_body("small_%s.bin" % mode, mode, SMALL_IMAGE)
                    for mode in bench_site.NAMING_MODES}
    large_body = site.posting_body("large.bin", "stamp", LARGE_IMAGE)
    registration = site.registration_body()
    small = small_bodies["counter"]
    work = os.path.join(root, "work")
    os.makedirs(work)
    rows = []  # (group, case, median seconds, median of the group's floor)

    # Small requests against the C floors. Every command starts through the launcher;
    # what the launcher adds (one more exec of a tiny static program) is measured as
    # the launcher started through itself minus the launcher alone, and taken off.
    calibration = [
        Case("launcher alone", [launcher, "/dev/null", "--", "-"], {}, cwd=root),
        Case("launcher through the launcher", [launcher, "/dev/null", "--", "-"], {}, cwd=root),
    ]
    floors_small = [
        Case("C floor: read body, short reply (static)", [bins["floor_read_static"]],
             cgi_env("POST", small), small, cwd=root, floor=True),
        Case("C floor: read body, short reply (dynamic)", [bins["floor_read"]],
             cgi_env("POST", small), small, cwd=root),
    ]
    small_cases = floors_small + gate_cases(site, small_bodies, registration)
    small_cases += peers(site, small, floor_dir)
    commands = small_cases + calibration
    timings = hyperfine_with_launcher(commands, 2, small_runs,
                                      os.path.join(work, "small.json"), launcher, rounds=20)
    extra = timings[-1].median - timings[-2].median
    extra_cpu = timings[-1].cpu - timings[-2].cpu
    print("launcher overhead taken off: %.3f ms wall, %.3f ms processor"
          % (extra * 1e3, extra_cpu * 1e3), file=sys.stderr)
    for timing in timings:
        timing.median -= extra
        timing.cpu -= extra_cpu
    for case, timing in zip(small_cases, timings):
        rows.append(("small requests", case, timing, timings[0]))

    # One 50 MiB posting.
    large_cases = [
        Case("C floor: streaming parser", [bins["floor_stream"], floor_dir],
             cgi_env("POST", large_body), large_body, cwd=root, prepare=clear(floor_dir), floor=True),
        Case("C floor: whole body + memmem", [bins["floor_memmem"], floor_dir],
             cgi_env("POST", large_body), large_body, cwd=root, prepare=clear(floor_dir)),
        Case("gate: 50 MiB postleaf", [site.exe], cgi_env("POST", large_body), large_body,
             prepare=clear(site.leaves("stamp"))),
    ] + peers(site, large_body, floor_dir)
    timings = hyperfine_with_launcher(large_cases, 1, large_runs,
                                      os.path.join(work, "large.json"), launcher, rounds=4)
    for case, timing in zip(large_cases, timings):
        rows.append(("50 MiB posting", case, timing, timings[0]))

    # Bursts: postings at 8 in flight.
    burst_rows = []
    for count in (200, 1000):
        lat_floor = os.path.join(work, "floor_%d.lat" % count)
        lat_gate = os.path.join(work, "gate_%d.lat" % count)
        burst_cases = [
            Case("C floor: memmem, %d postings at 8 in flight" % count,
                 [bins["burst"], str(count), "8", small, lat_floor, bins["floor_memmem"], floor_dir],
                 cgi_env("POST", small), cwd=root, prepare=clear(floor_dir), floor=True),
            Case("gate: %d postings at 8 in flight (counter)" % count,
                 [bins["burst"], str(count), "8", small, lat_gate, site.exe],
                 cgi_env("POST", small), cwd=site.cgi,
                 prepare=clear(site.leaves("counter"), ("count.txt",))),
        ]
        timings = hyperfine_with_launcher(burst_cases, 1, burst_runs,
                                          os.path.join(work, "burst.json"), launcher)
        for case, timing, lat in zip(burst_cases, timings, (lat_floor, lat_gate)):
            burst_rows.append((case, count, timing.median, timings[0].median, latencies(lat)))

    print_table(rows, burst_rows, work)


class Timing:
    """Wall-time median and mean processor time (user + system) of one command."""

    def __init__(self, times, cpu):
        self.median = statistics.median(times)
        self.cpu = statistics.mean(cpu)


def hyperfine_with_launcher(cases, warmup, runs, json_path, launcher, rounds=1):
    """Times the cases with hyperfine in rounds, so that load from elsewhere that comes
    and goes meets every case alike; the times of all rounds are pooled."""
    commands = []
    for case in cases:
        if case.name == "launcher through the launcher":
            commands.append(" ".join(map(shlex.quote, [launcher, "/dev/null", "--"] + case.argv)))
        elif case.name == "launcher alone":
            commands.append(" ".join(map(shlex.quote, case.argv)))
        else:
            commands.append(case.command(launcher))
    times = [[] for _ in cases]
    cpu = [[] for _ in cases]
    for _ in range(rounds):
        argv = ["hyperfine", "--style", "basic", "-N", "--warmup", str(warmup),
                "--runs", str(max(2, runs // rounds)), "--export-json", json_path]
        for case in cases:
            argv += ["--prepare", case.prepare or "true"]
        for case in cases:
            argv += ["--command-name", case.name]
        run(argv + commands, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(json_path) as f:
            for index, result in enumerate(json.load(f)["results"]):
                times[index] += result["times"]
                cpu[index].append(result["user"] + result["system"])
    return [Timing(t, c) for t, c in zip(times, cpu)]


def print_table(rows, burst_rows, work):
    print("| Group | Case | median ms | ratio to floor | processor ms | ratio to floor | peak RSS MiB |")
    print("|---|---|---|---|---|---|---|")
    for group, case, timing, reference in rows:
        peak = peak_rss_kib(case)
        print("| %s | %s | %.3f | %.2f | %.3f | %.2f | %s |" % (
            group, case.name, timing.median * 1e3, timing.median / reference.median,
            timing.cpu * 1e3, timing.cpu / reference.cpu,
            "%.1f" % (peak / 1024.0) if peak else "?"))
    print()
    print("| Burst | median s | requests/s | ratio to floor's requests/s | latency median ms | p99 ms | p99/median |")
    print("|---|---|---|---|---|---|---|")
    for case, count, median, reference, (lat_median, p99) in burst_rows:
        print("| %s | %.3f | %.0f | %.2f | %.1f | %.1f | %.2f |" % (
            case.name, median, count / median, reference / median, lat_median, p99,
            p99 / lat_median))
    print()
    print("| Gate request | system calls | minor page faults | instructions |")
    print("|---|---|---|---|")
    for group, case, _, _ in rows:
        if not case.name.startswith("gate"):
            continue
        found = counts(case, work)
        print("| %s | %s | %s | %s |" % (case.name, found.get("syscalls", "?"),
                                         found.get("faults", "?"),
                                         found.get("instructions", "-")))


if __name__ == "__main__":
    main()
