"""The benchmark's site on a scratch directory: the gate with its config.txt, one site
settings file per naming mode, one member, and the request bodies the cases send."""

import os
import random
import shutil

BOUNDARY = b"----orvaneBenchBoundary5fK2q"
MEMBER = "bench1"
PASSWORD = "secret1"
NEW_MEMBER = "fresh1"
CRLF = b"\r\n"

# Site settings name -> extra settings lines; each site has its own leaf directory.
NAMING_MODES = {
    "counter": "FileNameTemplate=leaf######\r\nFileNameCounter={leaves}/count.txt\r\n",
    "dircounter": "FileNameTemplate=leaf######\r\n",
    "num3d": "nameorder=num3d\r\n",
    "stamp": "",
}
# A site in the default (time-stamp) naming mode for the benchmarks that need just one.
PLAIN_SESSION = "bench"


def image_bytes(size, seed):
    """Pseudo-random bytes that look like a JPEG to nothing but the extension."""
    rng = random.Random(seed)
    return rng.randbytes(size)


def multipart_body(session, image):
    """A posting form as a browser sends it: session, command, id, pw, a title, the image."""
    out = b""
    for name, value in (("session", session), ("command", "postleaf"), ("id", MEMBER),
                        ("pw", PASSWORD), ("title", "bench")):
        out += b"--" + BOUNDARY + CRLF
        out += b'Content-Disposition: form-data; name="' + name.encode() + b'"' + CRLF + CRLF
        out += value.encode() + CRLF
    out += b"--" + BOUNDARY + CRLF
    out += (b'Content-Disposition: form-data; name="upfile"; filename="photo.jpg"' + CRLF +
            b"Content-Type: image/jpeg" + CRLF + CRLF)
    return out + image + CRLF + b"--" + BOUNDARY + b"--" + CRLF


def content_type():
    return "multipart/form-data; boundary=" + BOUNDARY.decode()


class BenchSite:
    """Layout under root: cgi/orvanegate.exe and cgi/config.txt, sessions/<mode>.txt
    (and bench.txt), leaves/<mode>/, members/ with one member, bodies/, scratch/ (for the
    other programs)."""

    def __init__(self, root, exe):
        self.root = root
        self.cgi = os.path.join(root, "cgi")
        self.sessions = os.path.join(root, "sessions")
        self.members = os.path.join(root, "members")
        self.bodies = os.path.join(root, "bodies")
        self.scratch = os.path.join(root, "scratch")
        for d in (self.cgi, self.sessions, self.members, self.bodies, self.scratch):
            os.makedirs(d, exist_ok=True)
        self.exe = os.path.join(self.cgi, "orvanegate.exe")
        shutil.copy2(exe, self.exe)
        with open(os.path.join(self.cgi, "config.txt"), "wb") as f:
            f.write(b"sessiondb=" + self.sessions.encode() + CRLF)
        for mode, extra in dict(NAMING_MODES, **{PLAIN_SESSION: ""}).items():
            leaves = self.leaves(mode)
            os.makedirs(leaves, exist_ok=True)
            # No bound on registrations per network: every request of a run comes from
            # one address, and the run measures what a registration costs.
            text = "path=%s/\r\nmembersdb=%s/\r\nregistrationsperhour=0\r\n" % (
                leaves, self.members)
            with open(os.path.join(self.sessions, mode + ".txt"), "wb") as f:
                f.write((text + extra.format(leaves=leaves)).encode())
        record = "id=%s\r\npw=%s\r\nrealname=山田花子\r\ncountry=Japan\r\nmail=b@example.com\r\n"
        with open(os.path.join(self.members, MEMBER + ".txt"), "wb") as f:
            f.write((record % (MEMBER, PASSWORD)).encode("cp932"))

    def leaves(self, mode):
        return os.path.join(self.root, "leaves", mode)

    def write_body(self, name, data):
        path = os.path.join(self.bodies, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def posting_body(self, name, mode, image_size):
        return self.write_body(name, multipart_body(mode, image_bytes(image_size, image_size)))

    def registration_body(self):
        pairs = (("session", "stamp"), ("command", "registration"), ("id", NEW_MEMBER),
                 ("pw", "pw12345"), ("pw2", "pw12345"), ("realname", "bench"), ("mail", "a@example.com"),
                 ("country", "Japan"))
        return self.write_body("registration.txt",
                               "&".join("%s=%s" % p for p in pairs).encode())
