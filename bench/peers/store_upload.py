#!/usr/bin/python3
"""Stores the posted image, as a small Python site would: read the body, cut out the part."""
import os
import sys

length = int(os.environ.get("CONTENT_LENGTH") or 0)
body = sys.stdin.buffer.read(length)
boundary = os.environ.get("CONTENT_TYPE", "").partition("boundary=")[2].encode()
stored = False
if boundary:
    for part in body.split(b"--" + boundary):
        head, _, data = part.partition(b"\r\n\r\n")
        if b'name="upfile"' in head and b"filename=" in head:
            with open("%s/%d.jpg" % (os.environ["PEER_DIR"], os.getpid()), "wb") as f:
                f.write(data[:-2])  # the CR LF before the next delimiter
            stored = True
sys.stdout.buffer.write(b"Content-Type: text/html\r\n\r\n" +
                        (b"<html>stored</html>\r\n" if stored else b"<html>no file</html>\r\n"))
