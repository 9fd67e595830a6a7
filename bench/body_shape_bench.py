#!/usr/bin/env python3
"""Body-shape benchmark: wall time and peak memory of one request against its body's size.

Runs the built gate once per body shape and size (1x, 2x, 4x of a base size) against a
temporary site, the way a web server starts it, and reads the child's peak resident size
through /usr/bin/time (a child started straight from this script would
count the script's own size: the kernel keeps the high-water mark across fork and exec). For each run it prints the body's size, the time, the peak, the
peak above the executable's idle peak, and that growth divided by the larger of the body,
its decoded, escaped form and the member record (the target is at most 2, plus a few
MiB: the last column says whether a run kept within twice that size plus 4 MiB), and per
shape how CPU time grew from 1x to 4x (linear time gives about 4; CPU time, because the
wall time of a shared machine says little).

    python3 bench/body_shape_bench.py [--exe build/orvanegate] [--scale 1] [--only NAME]
"""

import argparse
import os
import subprocess
import sys
import tempfile

import bench_site

MEMBER = "bench1"
PASSWORD = "secret1"
BOUNDARY = b"----orvanebenchboundary7d2f"
MIB = 1 << 20
ALLOWANCE = 4 * MIB  # the "few MiB" the target allows above twice the size
TIME = "/usr/bin/time"


def write_member(members, extra_lines=0):
    record = [b"id=" + MEMBER.encode(), b"pw=" + PASSWORD.encode(), b"realname=Bench",
              b"country=Japan", b"mail=b@example.com"]
    record += [b"x%d=line %d" % (i, i) for i in range(extra_lines)]
    with open(os.path.join(members, MEMBER + ".txt"), "wb") as f:
        f.write(b"".join(line + b"\r\n" for line in record))


def record_size(members):
    return os.path.getsize(os.path.join(members, MEMBER + ".txt"))


def part(name, value):
    return (b"--" + BOUNDARY + b'\r\nContent-Disposition: form-data; name="' + name +
            b'"\r\n\r\n' + value + b"\r\n")


def multipart(parts):
    return b"".join(parts) + b"--" + BOUNDARY + b"--\r\n"


def profile_parts(command=b"changeprof2"):
    return [part(b"session", b"bench"), part(b"command", command),
            part(b"id", MEMBER.encode()), part(b"pw", PASSWORD.encode())]


def escaped_size(raw):
    """Size of a value after the field escaping (space, <, >, &, quote, CR LF)."""
    grow = {ord(" "): 5, ord("<"): 3, ord(">"): 3, ord("&"): 4, ord('"'): 5}
    return len(raw) + sum(grow.get(b, 0) for b in raw)


# Each shape: builder(factor, base) -> (body, decoded escaped size, record lines, query)
def amp_body(factor, base):
    body = b"session=bench&command=none" + b"&" * (base * factor)
    return body, 2 * len(body), 0, ""


def escaping_value_body(factor, base):
    value = b" <&" * (base * factor // 3)
    body = multipart(profile_parts() + [part(b"comment", value)])
    return body, len(body) - len(value) + escaped_size(value), 0, ""


def escaping_url_body(factor, base):
    """The same value URL-encoded: '+%3C%26' for each ' <&'."""
    count = base * factor // 7
    body = (b"session=bench&command=changeprof2&id=" + MEMBER.encode() + b"&pw=" +
            PASSWORD.encode() + b"&comment=" + b"+%3C%26" * count)
    return body, len(body) - 7 * count + escaped_size(b" <&" * count), 0, ""


def fields_body(factor, _base):
    items = [b"session=bench", b"command=changeprof2", b"id=" + MEMBER.encode(),
             b"pw=" + PASSWORD.encode()] + [b"f%d=v" % i for i in range(100000 * factor)]
    body = b"&".join(items)
    return body, len(body) * 2, 0, ""


def parts_body(factor, _base):
    body = multipart(profile_parts() + [part(b"f%d" % i, b"v") for i in range(100000 * factor)])
    return body, len(body), 0, ""


def record_body(factor, _base):
    body = multipart(profile_parts() + [part(b"realname", b"Renamed")])
    return body, len(body), 100000 * factor, ""


def record_query(factor, _base):
    return b"", 0, 100000 * factor, "showuser=" + MEMBER + "&session=bench"


def quotes_body(factor, base):
    """A registration whose realname is all quotes: 16, 32 and 64 MiB at the default base.
    It is refused before its escaped form (six times its size) is built, so the size to
    compare with is the body's."""
    fields = [(b"session", b"bench"), (b"command", b"registration"), (b"id", b"quoted"),
              (b"pw", b"secret"), (b"pw2", b"secret"), (b"mail", b"m"),
              (b"realname", b'"' * (2 * base * factor))]
    body = multipart([part(name, value) for name, value in fields])
    return body, len(body), 0, ""


SHAPES = [
    ("amp", "N '&' (URL-encoded)", amp_body),
    ("escaping", "changeprof2, one ' <&' value", escaping_value_body),
    ("escurl", "changeprof2, one ' <&' value, URL-encoded", escaping_url_body),
    ("fields", "100,000 fields (URL-encoded)", fields_body),
    ("parts", "100,000 parts (multipart)", parts_body),
    ("record", "changeprof2, 100,000-line record", record_body),
    ("recquery", "profile query, 100,000-line record", record_query),
    ("quotes", "registration, one all-'\"' value (refused)", quotes_body),
]


def run(gate, body, content_type, query=""):
    """One request; returns (wall seconds, CPU seconds, peak bytes, reply bytes)."""
    env = {"PATH": "/usr/bin:/bin", "REQUEST_METHOD": "POST" if body else "GET",
           "SERVER_PROTOCOL": "HTTP/1.1", "PATH_INFO": "", "QUERY_STRING": query,
           "CONTENT_TYPE": content_type, "CONTENT_LENGTH": str(len(body))}
    with tempfile.TemporaryFile() as stdin, tempfile.TemporaryFile() as stdout, \
            tempfile.NamedTemporaryFile() as figures:
        stdin.write(body)
        stdin.seek(0)
        child = subprocess.run([TIME, "-f", "%e %U %S %M", "-o", figures.name, gate], env=env,
                               cwd=os.path.dirname(gate), stdin=stdin, stdout=stdout,
                               stderr=subprocess.DEVNULL, check=False)
        stdout.seek(0)
        reply = stdout.read()
        seconds, user, system, kib = figures.read().split()[-4:]
    if child.returncode != 0 or not reply.startswith(b"Status: 200"):
        sys.exit("request failed (exit %d): %r" % (child.returncode, reply[:300]))
    return float(seconds), float(user) + float(system), int(kib) * 1024, reply


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join("build", "orvanegate"))
    parser.add_argument("--scale", type=float, default=1.0,
                        help="base size of the '&' and escaping shapes in units of 8 MiB")
    parser.add_argument("--only", help="run only the shape of this name")
    args = parser.parse_args()
    if not os.access(TIME, os.X_OK):
        sys.exit("%s is needed to read the peak memory (Debian package time)" % TIME)
    if not os.path.isfile(args.exe):
        sys.exit("no executable at %s: build first (cmake -S . -B build && cmake --build build)"
                 % args.exe)
    base = int(8 * MIB * args.scale)
    with tempfile.TemporaryDirectory(prefix="orvanegate-bench-") as root:
        site = bench_site.BenchSite(root, args.exe)
        gate, members = site.exe, site.members
        write_member(members)
        _, _, idle, _ = run(gate, b"", "text/plain")
        print("idle peak %.1f MiB (an empty POST)" % (idle / MIB))
        print("%-9s %6s %9s %9s %7s %7s %9s %11s %9s %7s" % (
            "shape", "factor", "body MiB", "size MiB", "wall s", "cpu s", "peak MiB",
            "growth MiB", "growth/", "target"))
        print("%-9s %6s %9s %9s %7s %7s %9s %11s %9s %7s" % (
            "", "", "", "", "", "", "", "", "size", ""))
        for name, label, build in SHAPES:
            if args.only and args.only != name:
                continue
            times = []
            for factor in (1, 2, 4):
                body, escaped, record_lines, query = build(factor, base)
                write_member(members, record_lines)
                content_type = ("application/x-www-form-urlencoded" if body[:2] != b"--"
                                else "multipart/form-data; boundary=" + BOUNDARY.decode())
                seconds, cpu, peak, _ = run(gate, body, content_type, query)
                times.append(cpu)
                size = max(len(body), escaped, record_size(members))
                growth = peak - idle
                print("%-9s %6d %9.1f %9.1f %7.2f %7.2f %9.1f %11.1f %9.2f %7s" % (
                    name, factor, len(body) / MIB, size / MIB, seconds, cpu, peak / MIB,
                    growth / MIB, growth / size,
                    "ok" if growth <= 2 * size + ALLOWANCE else "OVER"))
            print("%-9s cpu 4x / 1x = %.1f  (%s)" % (name, times[2] / max(times[0], 0.01),
                                                    label))


if __name__ == "__main__":
    main()
