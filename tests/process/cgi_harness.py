"""Run the gate the way a web server does, for process-level tests.

* ``Site(config=None, files=None)`` is a fresh temporary directory holding a copy of the
  executable named by ORVANEGATE_EXE, optionally ``config.txt`` and other files (paths
  relative to the site, parent directories created); ``CgiTestCase.make_site`` removes it
  after the test.
* ORVANEGATE_LAUNCHER, when set, is the command (split like a shell would) that starts
  the executable, e.g. wine64 for a Windows build. Under wine ``native_path`` turns a
  Linux path into the Windows path the program sees (Z:\\...) and ``host_path`` back,
  ``native_text`` does so for every path under the site inside a configuration text, and
  ``host_name`` gives the Linux bytes of a file name that the program created from
  Shift_JIS bytes.
* ``Site.start(env, stdin=PIPE, stdout=PIPE, args=())`` starts the copy in the site
  directory with an EMPTY environment plus ``env`` (plus the sanitizer options) and returns
  the Popen; ``finish(child, stdin, timeout)`` feeds it and returns a ``Result``
  (exit_code, stdout, stderr); ``Site.run(env, stdin)`` does both.
* ``cgi_env(method, path_info="", query="", content_length=None, **more)`` builds the
  usual CGI variables; query None leaves QUERY_STRING out.
* ``without_wine_exit_fault(result)`` (applied by ``finish``) undoes the one known fault
  of wine's own exit, after a whole reply; ``Site.run`` starts a run again that wine
  failed to start (``wine_start_failed``).
* ``assert_bytes_equal(expected, actual, label)`` compares bytes exactly, showing both
  escaped and the first differing offset; ``check_stderr(test, result)`` fails the test
  when the run wrote to stderr, where a sanitizer build reports.
* ``CgiTestCase`` adds ``make_site``, ``run_cgi`` (check_stderr unless
  ``expect_stderr=True``) and ``assertBytesEqual``.

* ORVANEGATE_RESPONDER=fastcgi runs the same tests through the persistent mode: each
  ``Site`` then starts one FastCGI process of its copy (as a process manager does, the
  listening socket as its standard input) and ``Site.run`` sends every request without
  arguments to it instead of starting a process (``Responder``); runs with arguments or
  fault injection, and ``Site.start``, stay CGI runs. The process is stopped when the site
  is removed, and anything it wrote to its own stderr (a sanitizer's report) fails the test.

Texts that the gate writes in Shift_JIS are compared against ``'...'.encode('cp932')``.
"""

import os
import re
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass

import fastcgi_client

EXE_ENV = "ORVANEGATE_EXE"
LAUNCHER_ENV = "ORVANEGATE_LAUNCHER"
RESPONDER_ENV = "ORVANEGATE_RESPONDER"
EXE_NAME = "orvanegate.exe"
# What wine itself needs from the test environment; the program's own environment is
# otherwise empty, as a web server gives it.
WINE_VARIABLES = ("HOME", "USER", "WINEPREFIX", "WINESERVER", "WINEDEBUG", "WINEDLLOVERRIDES",
                  "LOCPATH", "LANG", "LC_ALL")


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


def launcher():
    """The command words that start the executable; empty to start it directly."""
    return shlex.split(os.environ.get(LAUNCHER_ENV, ""))


def under_wine():
    words = launcher()
    return bool(words) and "wine" in os.path.basename(words[0])


def native_path(path):
    """A Linux path as the executable names it: Z:\\dir\\name under wine, else unchanged."""
    if not under_wine():
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def host_path(path):
    """The Linux path of bytes the executable named a file by (native_path reversed)."""
    if not under_wine() or not path[:3].upper() == b"Z:\\":
        return path
    return path[2:].replace(b"\\", b"/")


def native_separator():
    """The separator the executable puts between directory names."""
    return "\\" if under_wine() else "/"


def names_ignore_case():
    """Whether the executable's file system finds "ABC.txt" for "abc.txt" (Windows does)."""
    return under_wine()


def native_text(text, root):
    """A configuration text with every path under root, to the end of its line, made native."""
    if not under_wine():
        return text
    is_bytes = isinstance(text, bytes)
    root_text = os.fsencode(root) if is_bytes else root
    pattern = re.escape(root_text) + (rb"[^\r\n]*" if is_bytes else r"[^\r\n]*")

    def convert(match):
        # "/" is never the second byte of a Shift_JIS character: bytes convert as they are.
        if is_bytes:
            return b"Z:" + match.group(0).replace(b"/", b"\\")
        return "Z:" + match.group(0).replace("/", "\\")
    return re.sub(pattern, convert, text)


def host_name(name):
    """The Linux bytes of a file name the executable made from these Shift_JIS bytes: wine
    stores names in UTF-8, and Windows drops dots and spaces at the end of a name."""
    if not under_wine():
        return name
    try:
        return name.decode("cp932").rstrip(". ").encode("utf-8")
    except UnicodeDecodeError:
        return name  # no Shift_JIS text: the program cannot have made it either


def launcher_environment():
    """Variables the launcher needs to start the executable."""
    if not under_wine():
        return {}
    return {name: os.environ[name] for name in WINE_VARIABLES if name in os.environ}


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
    env = {"REQUEST_METHOD": method, "SERVER_PROTOCOL": "HTTP/1.1", "PATH_INFO": path_info}
    if query is not None:
        env["QUERY_STRING"] = query
    if content_length is not None:
        env["CONTENT_LENGTH"] = str(content_length)
    env.update(more)
    return env


# Under load, wine's own host process now and then fails glibc's check at its exit, after
# the Windows program has ended: the program's output is whole, only its exit code is lost.
WINE_EXIT_FAULT = re.compile(
    rb"Inconsistency detected by ld\.so: dl-fini\.c: \d+: _dl_fini: Assertion `[^`']*' failed!\n")


def whole_reply(stdout):
    """Whether stdout is a whole CGI reply: its header block, and a body of the length the
    header gives."""
    head, sep, body = stdout.partition(b"\r\n\r\n")
    length = re.search(rb"(?:^|\r\n)Content-Length: (\d+)(?:\r\n|$)", head)
    return bool(sep) and (length is None or int(length.group(1)) == len(body))


def without_wine_exit_fault(result):
    """The result as the program gave it, when only wine's exit failed after a whole reply
    (the program exits with 0 after every reply it writes)."""
    if (under_wine() and result.exit_code == 127 and WINE_EXIT_FAULT.fullmatch(result.stderr)
            and whole_reply(result.stdout)):
        return Result(0, result.stdout, b"")
    return result


# Under load, wine now and then ends a process with exit code 1 and no byte on stdout or
# stderr (about one in two thousand). The program itself never ends that way: it answers
# every request on stdout, and reports a start-up failure on stderr.
WINE_START_ATTEMPTS = 3


def wine_start_failed(result):
    """Whether wine ended the run that way; says so on stderr, so that a log shows it."""
    failed = under_wine() and result.exit_code == 1 and not result.stdout and not result.stderr
    if failed:
        print("note: wine ended a run with exit code 1 and no output; it runs again",
              file=sys.stderr, flush=True)
    return failed


def finish(child, stdin=None, timeout=20):
    """Feed stdin to a started child and wait for its end; killed when it overruns timeout."""
    try:
        stdout, stderr = child.communicate(stdin, timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        raise
    return without_wine_exit_fault(Result(child.returncode, stdout, stderr))


def check_stderr(test, result):
    """Fail the test when the run wrote anything to stderr."""
    if result.stderr:
        test.fail("unexpected output on stderr (exit code %d):\n%s"
                  % (result.exit_code, escape_bytes(result.stderr)))


def fastcgi_mode():
    """Whether Site.run answers through a persistent FastCGI process."""
    return os.environ.get(RESPONDER_ENV) == "fastcgi"


class Responder:
    """A persistent FastCGI process of an executable, started in a directory with the
    listening socket as its standard input; ``run`` answers one request as ``Site.run``."""

    def __init__(self, exe, cwd, env=None, args=()):
        self.folder = tempfile.mkdtemp(prefix="orvanegate-fcgi-")
        self.address = os.path.join(self.folder, "socket")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(self.address)
        listener.listen(64)
        self.log = open(os.path.join(self.folder, "stderr"), "w+b")
        child_env = dict(sanitizer_environment(), **(env or {}))
        self.child = subprocess.Popen([exe, *args], env=child_env, cwd=cwd, stdin=listener,
                                      stdout=subprocess.DEVNULL, stderr=self.log)
        listener.close()

    def run(self, env=None, stdin=b"", timeout=20):
        reply = fastcgi_client.request(self.address, env or {}, stdin, timeout=timeout)
        return Result(reply.app_status, reply.stdout, reply.stderr)

    def wait(self, timeout=20):
        """The exit code once the process has ended by itself."""
        return self.child.wait(timeout)

    def own_stderr(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        """Asks the process to stop (SIGTERM, as a service manager does) and returns
        (exit code, what it wrote to its own stderr)."""
        if self.child.poll() is None:
            self.child.send_signal(signal.SIGTERM)
        try:
            code = self.child.wait(30)
        except subprocess.TimeoutExpired:
            self.child.kill()
            code = self.child.wait()
        output = self.own_stderr()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return code, output


def routed_to_responder(env, args):
    """Whether a run goes to the site's FastCGI process in the fastcgi mode: not one with
    options, nor one with a fault injected into the process's own file operations."""
    return (fastcgi_mode() and not args and not under_wine()
            and not any(name.startswith("ORVANEGATE_FAULT") for name in env or {}))


class Site:
    """A temporary site directory with its own copy of the executable."""

    def __init__(self, config=None, files=None, exe_name=EXE_NAME):
        self.responder = None
        self.root = tempfile.mkdtemp(prefix="orvanegate-")
        self.exe = os.path.join(self.root, exe_name)
        shutil.copy2(executable_path(), self.exe)
        os.chmod(self.exe, os.stat(self.exe).st_mode | stat.S_IXUSR)
        if config is not None:
            self.write("config.txt", native_text(config, self.root))
        for name, data in (files or {}).items():
            self.write(name, data)

    def path(self, name=""):
        return os.path.join(self.root, name)

    def native(self, name=""):
        """The path of a file under the site as the executable names it."""
        return native_path(self.path(name))

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

    def start(self, env=None, stdin=subprocess.PIPE, stdout=subprocess.PIPE, args=()):
        """Start the copy with an empty environment plus env; return the Popen."""
        child_env = dict(sanitizer_environment(), **launcher_environment())
        child_env.update(env or {})
        return subprocess.Popen([*launcher(), self.exe, *args], env=child_env,
                                cwd=self.root, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)

    def run(self, env=None, stdin=b"", args=(), timeout=20):
        """Run the copy with an empty environment plus env; return a Result. A run that
        wine failed to start is started again."""
        if routed_to_responder(env, args):
            if self.responder is None:
                self.responder = Responder(self.exe, self.root)
            return self.responder.run(env, stdin, timeout)
        for _ in range(WINE_START_ATTEMPTS - 1):
            result = finish(self.start(env, args=args), stdin, timeout)
            if not wine_start_failed(result):
                return result
        return finish(self.start(env, args=args), stdin, timeout)

    def stop_responder(self):
        """Stops the site's FastCGI process; fails when it did not end cleanly."""
        responder, self.responder = self.responder, None
        if responder is None:
            return
        code, output = responder.stop()
        if code != 0 or output:
            raise AssertionError("the FastCGI process ended with %d:\n%s"
                                 % (code, escape_bytes(output)))

    def remove(self):
        try:
            self.stop_responder()
        finally:
            shutil.rmtree(self.root, ignore_errors=True)


class CgiTestCase(unittest.TestCase):
    """TestCase with a site per call of make_site and exact byte assertions."""

    def make_site(self, config=None, files=None):
        site = Site(config=config, files=files)
        self.addCleanup(site.remove)
        return site

    def run_cgi(self, site, env=None, stdin=b"", args=(), timeout=20, expect_stderr=False):
        """Run the site's copy; any stderr output fails the test unless expected."""
        result = site.run(env, stdin, args=args, timeout=timeout)
        if not expect_stderr:
            check_stderr(self, result)
        return result

    def assertBytesEqual(self, expected, actual, label="output"):
        assert_bytes_equal(expected, actual, label)
