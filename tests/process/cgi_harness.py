"""Run the gate the way a web server does, for process-level tests.

Usage from a unittest module in this directory::

    import cgi_harness

    class MyTest(cgi_harness.CgiTestCase):
        def test_something(self):
            site = self.make_site(config=b"sessiondb=...\\r\\n",
                                  files={"sessions/site1.txt": b"path=...\\r\\n"})
            result = site.run({"REQUEST_METHOD": "POST", "CONTENT_LENGTH": "3"}, b"a=b")
            self.assertEqual(result.exit_code, 0)
            self.assertBytesEqual(b"Status: 200 OK\\r\\n...", result.stdout)

* ``Site`` (made by ``make_site`` or ``CgiTestCase.make_site``) is a fresh temporary
  directory holding a copy of the executable named by the environment variable
  ORVANEGATE_EXE, optionally ``config.txt`` and any other files (paths relative to the
  site; parent directories are created).
* ``Site.run(env, stdin, args=(), timeout=20)`` starts the copy with an EMPTY
  environment plus ``env`` (plus ASAN_OPTIONS/UBSAN_OPTIONS for sanitizer builds),
  feeds ``stdin`` (bytes) and returns a ``Result`` (exit_code, stdout, stderr), all bytes.
  The working directory is the site directory.
* ``cgi_env(method, path_info="", query="", content_length=None, **more)`` builds the
  usual CGI variables (SERVER_PROTOCOL "HTTP/1.1" unless given).
* ``assert_bytes_equal(expected, actual, label)`` compares bytes exactly and on a
  mismatch raises AssertionError showing both with every byte escaped and the first
  differing offset.
* ``CgiTestCase`` is a unittest.TestCase with ``make_site`` (removed after the test),
  ``run_cgi`` (checks that a sanitizer build wrote nothing to stderr unless
  ``expect_stderr=True``) and ``assertBytesEqual``.

Texts that the gate writes in Shift_JIS are compared against ``'...'.encode('cp932')``.
"""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from dataclasses import dataclass

EXE_ENV = "ORVANEGATE_EXE"
EXE_NAME = "orvanegate.exe"


@dataclass
class Result:
    exit_code: int
    stdout: bytes
    stderr: bytes


def executable_path():
    """Path of the built executable; raises when ORVANEGATE_EXE is not set."""
    path = os.environ.get(EXE_ENV)
    if not path:
        raise RuntimeError(EXE_ENV + " is not set: run the tests through ctest")
    return path


def sanitizer_environment():
    """Child variables that make a sanitizer build report leaks and fail loudly."""
    return {
        "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=0:exitcode=86",
        "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
        "LSAN_OPTIONS": "exitcode=86",
    }


def escape_bytes(data):
    """Printable ASCII as is, CR/LF/TAB as \\r \\n \\t, every other byte as \\xNN."""
    out = []
    for byte in data:
        if byte == 0x0D:
            out.append("\\r")
        elif byte == 0x0A:
            out.append("\\n\n")  # also break the line, for reading
        elif byte == 0x09:
            out.append("\\t")
        elif byte == 0x5C:
            out.append("\\\\")
        elif 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


def assert_bytes_equal(expected, actual, label="output"):
    """Raise AssertionError with both values escaped when the bytes differ."""
    if expected == actual:
        return
    offset = next((i for i, (a, b) in enumerate(zip(expected, actual)) if a != b),
                  min(len(expected), len(actual)))
    raise AssertionError(
        "%s differs at byte %d (expected %d bytes, got %d)\n"
        "--- expected ---\n%s\n--- actual ---\n%s\n--- end ---"
        % (label, offset, len(expected), len(actual),
           escape_bytes(expected), escape_bytes(actual)))


def cgi_env(method="GET", path_info="", query="", content_length=None, **more):
    """The CGI variables of a request; extra keyword arguments are added as given."""
    env = {"REQUEST_METHOD": method, "SERVER_PROTOCOL": "HTTP/1.1",
           "PATH_INFO": path_info, "QUERY_STRING": query}
    if content_length is not None:
        env["CONTENT_LENGTH"] = str(content_length)
    env.update(more)
    return env


class Site:
    """A temporary site directory with its own copy of the executable."""

    def __init__(self, config=None, files=None, exe_name=EXE_NAME):
        self.root = tempfile.mkdtemp(prefix="orvanegate-")
        self.exe = os.path.join(self.root, exe_name)
        shutil.copy2(executable_path(), self.exe)
        os.chmod(self.exe, os.stat(self.exe).st_mode | stat.S_IXUSR)
        if config is not None:
            self.write("config.txt", config)
        for name, data in (files or {}).items():
            self.write(name, data)

    def path(self, name=""):
        return os.path.join(self.root, name)

    def write(self, name, data):
        """Write bytes (or str, encoded as Shift_JIS) to a file under the site."""
        if isinstance(data, str):
            data = data.encode("cp932")
        full = self.path(name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as handle:
            handle.write(data)
        return full

    def read(self, name):
        with open(self.path(name), "rb") as handle:
            return handle.read()

    def run(self, env=None, stdin=b"", args=(), timeout=20):
        """Run the copy with an empty environment plus env; return a Result."""
        child_env = dict(sanitizer_environment())
        child_env.update(env or {})
        completed = subprocess.run(
            [self.exe, *args], input=stdin, env=child_env, cwd=self.root,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, check=False)
        return Result(completed.returncode, completed.stdout, completed.stderr)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


def make_site(config=None, files=None):
    """A fresh Site; the caller removes it (CgiTestCase does that itself)."""
    return Site(config=config, files=files)


class CgiTestCase(unittest.TestCase):
    """TestCase with a site per call of make_site and exact byte assertions."""

    def make_site(self, config=None, files=None):
        site = make_site(config=config, files=files)
        self.addCleanup(site.remove)
        return site

    def run_cgi(self, site, env=None, stdin=b"", args=(), timeout=20, expect_stderr=False):
        """Run the site's copy; any stderr output fails the test unless expected."""
        result = site.run(env, stdin, args=args, timeout=timeout)
        if not expect_stderr and result.stderr:
            self.fail("unexpected output on stderr (exit code %d):\n%s"
                      % (result.exit_code, escape_bytes(result.stderr)))
        return result

    def assertBytesEqual(self, expected, actual, label="output"):
        assert_bytes_equal(expected, actual, label)
