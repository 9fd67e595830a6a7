"""A benchmark site that has lived a while: members and leaves laid out at once beside the
benchmark's own (not grown by requests), so that a request whose work grows with the
site shows it. The counter of the counter-mode site is set past the leaves, as the
postings that made them would have left it.
  python3 grown_site.py ROOT GATE_EXECUTABLE [--members N] [--leaves N]
"""

import argparse
import os

import bench_site

RECORD = ("id=g%d\r\npw=pw%d\r\nrealname=grown\r\ncountry=Japan\r\nmail=g@example.com\r\n")
LEAF_RECORD = b"<qelkeys>\r\nsession=counter\r\nid=g1\r\ntitle=grown\r\n\r\n</qelkeys>\r\n"
LEAF_IMAGE = bench_site.image_bytes(2048, 1)


def write(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        os.write(fd, data)
    finally:
        os.close(fd)


def grow(site, members, leaves):
    """Members g1.txt ... and, in the counter-mode leaf directory, leaves leaf000001 ...
    (an image and its record each) with the counter at the last one."""
    for number in range(1, members + 1):
        write(os.path.join(site.members, "g%d.txt" % number),
              (RECORD % (number, number)).encode())
    directory = site.leaves("counter")
    for number in range(1, leaves + 1):
        base = os.path.join(directory, "leaf%06d" % number)
        write(base + ".jpg", LEAF_IMAGE)
        write(base + ".txt", LEAF_RECORD)
    write(os.path.join(directory, "count.txt"), str(leaves).encode())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("exe")
    parser.add_argument("--members", type=int, default=100000)
    parser.add_argument("--leaves", type=int, default=100000)
    args = parser.parse_args()
    grow(bench_site.BenchSite(args.root, args.exe), args.members, args.leaves)


if __name__ == "__main__":
    main()
