"""A gate site behind a real web server, for the end-to-end suite.

``ServedSite`` lays out a site with scripts/site-layout.sh in a fresh temporary directory
(the executable named by ORVANEGATE_EXE), starts one server in the foreground on a free
loopback port in a process group of its own, and stops it again:

* ``Lighttpd``: site/lighttpd.conf, mod_cgi;
* ``Apache``: tests/e2e/conf/apache2.conf around site/apache2-site.conf, mod_cgid;
* ``Nginx``: tests/e2e/conf/nginx.conf around site/nginx-site.conf, with fcgiwrap on a
  unix socket.

The same sites with the gate in its persistent FastCGI mode:

* ``LighttpdFastCgi``: site/lighttpd-fastcgi.conf, mod_fastcgi starting the gate processes;
* ``ApacheFastCgi``: site/apache2-fastcgi-site.conf, mod_fcgid starting the gate processes;
* ``NginxFastCgi``: site/nginx-fastcgi-site.conf;
  the last with the gate processes of site/orvanegate-fastcgi.sh (spawn-fcgi).

``Https`` put before any of them serves the site over HTTPS with the server's sample.

Run as root, every server (and fcgiwrap) works as www-data, which owns what the gate writes.
``unavailable()`` names what this machine lacks to run a server, or None.
"""

import ctypes
import http.client
import os
import pwd
import re
import secrets
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SITE = os.path.join(REPO, "site")
GATE_PROCESSES = os.path.join(SITE, "orvanegate-fastcgi.sh")
CONF = os.path.join(REPO, "tests", "e2e", "conf")
LAYOUT = os.path.join(REPO, "scripts", "site-layout.sh")
WEB_USER = "www-data"
START_SECONDS = 20
STOP_SECONDS = 10


# Servers start as a service would, without the suite's variables (TMPDIR, say).
SERVER_ENVIRONMENT = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                      "LANG": "C"}
PR_SET_PDEATHSIG = 1
SANITIZER_MARKS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:")


def end_with_parent():
    """Runs in a started server before it executes: when the suite dies (killed at its time
    limit, say), the server is told to end too instead of living on."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def free_port():
    """A loopback port that nothing listens on at this moment."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def program(name):
    """Full path of an installed program; servers live in /usr/sbin, not always on PATH."""
    return shutil.which(name, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")


def as_root():
    return os.geteuid() == 0


def server_account():
    """Popen arguments that start a process as the server's account when run as root."""
    return {"user": WEB_USER, "group": WEB_USER, "extra_groups": []} if as_root() else {}


def server_account_name():
    return WEB_USER if as_root() else pwd.getpwuid(os.getuid()).pw_name


def fill(template, target, values):
    with open(template) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    with open(target, "w") as f:
        f.write(text)


class ServedSite:
    """One site in a temporary run directory behind one server."""

    name = None
    programs = ()
    # Whether the gate processes answer many requests each (FastCGI) or one (CGI).
    persistent = False

    @classmethod
    def unavailable(cls):
        missing = [p for p in cls.programs if not program(p)]
        if missing:
            return "%s not installed (scripts/install-deps.sh installs it)" % ", ".join(missing)
        if as_root():
            try:
                pwd.getpwnam(WEB_USER)
            except KeyError:
                return "running as root without a %s account for the server" % WEB_USER
        return None

    def __init__(self, dumps=False):
        # As root the server's account must reach the run directory: a TMPDIR below root's
        # home would not do.
        self.run = tempfile.mkdtemp(prefix="orvanegate-e2e-%s-" % self.name,
                                    dir="/tmp" if as_root() else None)
        self.port = None
        self.children = []
        self.token = secrets.token_hex(16)
        # The shipped configuration keeps no dumps; a suite that wants to see what the gate
        # received asks for them as an operator would (DUMPS=1 to the layout).
        self.dumps = dumps

    # --- paths -----------------------------------------------------------------
    def path(self, *parts):
        return os.path.join(self.run, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def error_log(self):
        """The server's error logs: its own and, where it keeps one apart, its CGI one."""
        logs = b""
        for name in ("error.log", "cgi-error.log"):
            try:
                logs += self.read("logs", name)
            except FileNotFoundError:
                pass
        return logs

    def files(self, *parts):
        """Every file below a directory of the run directory, as relative paths."""
        top = self.path(*parts)
        return sorted(os.path.relpath(os.path.join(d, n), top)
                      for d, _, names in os.walk(top) for n in names)

    def gate_processes(self):
        """Process ids of gate processes started from this run directory."""
        exe = self.path("cgi", "orvanegate.exe")
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    started_as = f.read().split(b"\0")[0]
                if started_as == exe.encode() or os.readlink("/proc/%s/exe" % pid) == exe:
                    found.append(int(pid))
            except OSError:
                pass
        return found

    def busy_gate_processes(self):
        """Gate processes in the middle of a request. A CGI process lives for one request;
        a persistent one between requests holds no file of the site open."""
        if not self.persistent:
            return self.gate_processes()
        busy = []
        for pid in self.gate_processes():
            try:
                fds = os.listdir("/proc/%d/fd" % pid)
                held = [os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in fds]
            except OSError:
                continue  # it has ended meanwhile
            if any(path.startswith((self.path("data") + "/", self.path("htdocs") + "/"))
                   for path in held):
                busy.append(pid)
        return busy

    # --- life ------------------------------------------------------------------
    def start(self):
        """Lays out the site and starts the server; tries again on another port when the
        chosen one was taken meanwhile."""
        failures = []
        for _ in range(3):
            self.port = free_port()
            self.lay_out()
            self.launch()
            problem = self.wait_ready()
            if problem is None:
                return
            failures.append(problem)
            self.stop()
        raise RuntimeError("%s did not start:\n%s" % (self.name, "\n".join(failures)))

    def lay_out(self):
        exe = os.environ["ORVANEGATE_EXE"]
        command = ["sh", LAYOUT, self.run, exe, str(self.port)]
        if as_root():
            command.append(WEB_USER)
        subprocess.run(command, check=True, timeout=60,
                       env=dict(os.environ, DUMPS="1" if self.dumps else ""))
        with open(self.path("htdocs", "ready.txt"), "w") as f:
            f.write(self.token)

    def spawn(self, command, **kwargs):
        log = open(self.path("logs", "%s.out" % os.path.basename(command[0])), "ab")
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True, cwd=self.run, env=SERVER_ENVIRONMENT,
                                 preexec_fn=end_with_parent, **kwargs)
        log.close()
        self.children.append(child)
        return child

    def wait_ready(self):
        """None once this run's server answers with this run's token, else what went wrong."""
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            dead = [c for c in self.children if c.poll() is not None]
            if dead:
                return "%s exited with %d:\n%s" % (dead[0].args[0], dead[0].returncode,
                                                   self.startup_output())
            try:
                conn = self.connection(timeout=2)
                conn.request("GET", "/ready.txt")
                answer = conn.getresponse().read()
                conn.close()
                if answer == self.token.encode():
                    return None
                return "another server answers on port %d" % self.port
            except (OSError, http.client.HTTPException):
                time.sleep(0.1)
        return "no answer within %d s:\n%s" % (START_SECONDS, self.startup_output())

    def connection(self, timeout):
        """A connection to the site as its clients make it."""
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def sanitizer_reports(self):
        """Lines of the logs where a sanitizer build of the gate reported a fault."""
        found = []
        for name in sorted(os.listdir(self.path("logs"))):
            if name.endswith((".out", ".log")):
                found += [line for line in self.read("logs", name).splitlines()
                          if any(mark in line for mark in SANITIZER_MARKS)]
        return found

    def startup_output(self):
        out = b""
        for name in sorted(os.listdir(self.path("logs"))):
            if name.endswith((".out", "error.log")):
                out += b"--- %s\n" % name.encode() + self.read("logs", name)[-4000:]
        return out.decode("utf-8", "replace")

    def stop(self):
        """Ends every process group this run started: first politely, then for good."""
        for child in self.children:
            if child.poll() is None:
                os.killpg(child.pid, signal.SIGTERM)
        deadline = time.monotonic() + STOP_SECONDS
        for child in self.children:
            try:
                child.wait(timeout=max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
            try:
                os.killpg(child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            child.wait()
        self.children = []
        for pid in self.gate_processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def check(self, *sessions):
        """Runs the installed gate's site check from a shell, as the account the server runs
        the gate under (its access rights are the ones that count): (exit code, report)."""
        done = subprocess.run([self.path("cgi", "orvanegate.exe"), "--check", *sessions],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                              env=SERVER_ENVIRONMENT, cwd=self.run, **server_account())
        return done.returncode, done.stdout + done.stderr

    def remove(self):
        self.stop()
        shutil.rmtree(self.run, ignore_errors=True)

    def user_values(self):
        return {"USER": WEB_USER, "GROUP": WEB_USER} if as_root() else {}

    def fill_site_conf(self, name):
        """site/NAME filled in as scripts/site-layout.sh fills the others; its path."""
        target = self.path("conf", name)
        fill(os.path.join(SITE, name), target, {"RUN": self.run, "PORT": str(self.port)})
        return target

    def start_gate_processes(self, count=2):
        """Persistent gate processes on run/orvanegate.sock, as site/orvanegate-fastcgi.sh
        keeps them; returns once the socket is there."""
        socket_path = self.path("run", "orvanegate.sock")
        self.spawn([GATE_PROCESSES, socket_path, self.path("cgi", "orvanegate.exe"), str(count)],
                   **server_account())
        deadline = time.monotonic() + START_SECONDS
        while not os.path.exists(socket_path) and time.monotonic() < deadline:
            time.sleep(0.05)


class Lighttpd(ServedSite):
    name = "lighttpd"
    programs = ("lighttpd",)

    # Script handlers a server may keep for its other sites; the site must keep them away
    # from the posted leaves.
    HOSTILE = '\ncgi.assign = (".cgi" => "", ".php" => "", ".svg" => "")\n'

    def launch(self):
        with open(self.path("conf", "lighttpd.conf"), "a") as f:
            f.write(self.HOSTILE)
        conf = self.main_conf()
        subprocess.run([program("lighttpd"), "-tt", "-f", conf], check=True, timeout=30,
                       stdout=subprocess.DEVNULL)
        # Started as the server's account rather than dropping to it, so that it still ends
        # with the suite (a process that changes its user forgets end_with_parent).
        self.spawn([program("lighttpd"), "-D", "-f", conf], **server_account())

    def main_conf(self):
        return self.path("conf", "lighttpd.conf")


class Apache(ServedSite):
    name = "apache"
    programs = ("apache2",)
    MODULES = "/usr/lib/apache2/modules"

    def launch(self):
        conf = self.path("conf", "apache2.conf")
        user = os.environ.get("USER") or pwd.getpwuid(os.getuid()).pw_name
        values = {"RUN": self.run, "PORT": str(self.port), "MODULES": self.MODULES,
                  "USER": user, "GROUP": "#%d" % os.getgid()}
        values.update(self.user_values())
        fill(os.path.join(CONF, "apache2.conf"), conf, values)
        self.adapt(conf)
        self.spawn([program("apache2"), "-d", self.run, "-f", conf,
                    "-DFOREGROUND"])

    def adapt(self, conf):
        """Changes the filled server configuration for a variant of the site."""


class Nginx(ServedSite):
    name = "nginx"
    programs = ("nginx", "fcgiwrap")
    # fcgiwrap's processes; its forked ones live in the server's process group and end
    # with it.
    fcgi_children = 1

    def launch(self):
        conf = self.path("conf", "nginx.conf")
        user = self.user_values()
        values = {"RUN": self.run, "PORT": str(self.port),
                  "USER_LINE": "user %s %s;" % (user["USER"], user["GROUP"]) if user else ""}
        fill(os.path.join(CONF, "nginx.conf"), conf, values)
        self.start_gate(conf)
        self.spawn([program("nginx"), "-p", self.path("run"),
                    "-e", self.path("logs", "error.log"), "-c", conf])

    def start_gate(self, conf):
        """Starts what answers on the site's FastCGI socket: here fcgiwrap."""
        socket_path = self.path("run", "fcgiwrap.sock")
        if os.path.exists(socket_path):
            os.unlink(socket_path)
        # -f: the gate's standard error goes to nginx's error log. One process by default:
        # the end-to-end suite sends one request at a time.
        self.spawn([program("fcgiwrap"), "-f", "-c", str(self.fcgi_children),
                    "-s", "unix:" + socket_path],
                   **server_account())
        deadline = time.monotonic() + START_SECONDS
        while not os.path.exists(socket_path) and time.monotonic() < deadline:
            time.sleep(0.05)


def use_site_conf(conf, cgi_name, fastcgi_name):
    """Makes a filled server configuration include the FastCGI site instead of the CGI one."""
    with open(conf) as f:
        text = f.read()
    if cgi_name not in text:
        raise RuntimeError("%s does not include %s" % (conf, cgi_name))
    with open(conf, "w") as f:
        f.write(text.replace(cgi_name, fastcgi_name))


class LighttpdFastCgi(Lighttpd):
    name = "lighttpd-fastcgi"
    persistent = True

    def main_conf(self):
        return self.fill_site_conf("lighttpd-fastcgi.conf")


class ApacheFastCgi(Apache):
    name = "apache-fastcgi"
    persistent = True
    # mod_fcgid starts the gate processes itself.
    FASTCGI_MODULES = ("fcgid",)

    def adapt(self, conf):
        self.fill_site_conf("apache2-fastcgi-site.conf")
        # The modules before the site, whose directives need them.
        modules = "".join("LoadModule %s_module %s/mod_%s.so\n" % (name, self.MODULES, name)
                          for name in self.FASTCGI_MODULES)
        use_site_conf(conf, 'Include "%s/conf/apache2-site.conf"' % self.run,
                      modules + 'Include "%s/conf/apache2-fastcgi-site.conf"' % self.run)


class NginxFastCgi(Nginx):
    name = "nginx-fastcgi"
    persistent = True
    programs = ("nginx", "spawn-fcgi")

    def start_gate(self, conf):
        self.fill_site_conf("nginx-fastcgi-site.conf")
        use_site_conf(conf, "/conf/nginx-site.conf", "/conf/nginx-fastcgi-site.conf")
        self.start_gate_processes()


class Https:
    """Put before a server's class: the same site over HTTPS on its port with the server's
    HTTPS sample of site/ and a certificate for 127.0.0.1 made as the site is laid out,
    plain HTTP on http_port only redirecting there."""

    scheme = "https"

    def lay_out(self):
        super().lay_out()
        self.http_port = free_port()
        self.cert, key = self.path("conf", "site.crt"), self.path("conf", "site.key")
        subprocess.run([program("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                        "-out", self.cert], check=True, timeout=60, capture_output=True)
        if as_root():  # lighttpd reads it as the server's account
            shutil.chown(key, WEB_USER, WEB_USER)
        self.https_values = {"RUN": self.run, "PORT": str(self.port), "CERT": self.cert,
                             "KEY": key, "HTTP_PORT": str(self.http_port), "HOST": "127.0.0.1"}

    def https_conf(self, name):
        target = self.path("conf", name)
        fill(os.path.join(SITE, name), target, self.https_values)
        return target

    def connection(self, timeout):
        context = ssl.create_default_context(cafile=self.cert)
        return http.client.HTTPSConnection("127.0.0.1", self.port, timeout=timeout,
                                           context=context)

    # lighttpd: the sample included at the end of the main configuration.
    def main_conf(self):
        conf = super().main_conf()
        with open(conf, "a") as f:
            f.write('\ninclude "%s"\n' % self.https_conf("lighttpd-https.conf"))
        return conf

    # Apache: the sample in place of the site it includes, and its plain-HTTP port.
    def adapt(self, conf):
        super().adapt(conf)
        with open(conf) as f:
            site = re.findall(r'^Include "(%s/conf/apache2-[a-z-]+\.conf)"$' % re.escape(self.run),
                              f.read(), re.M)[-1]
        sample = self.https_conf("apache2-https-site.conf")
        use_site_conf(sample, "%s/conf/apache2-site.conf" % self.run, site)
        use_site_conf(conf, 'Include "%s"' % site,
                      "LoadModule ssl_module %s/mod_ssl.so\nListen 127.0.0.1:%d\n"
                      'Include "%s"' % (self.MODULES, self.http_port, sample))

    # nginx: the sample in place of the site's listen line.
    def start_gate(self, conf):
        super().start_gate(conf)
        with open(conf) as f:
            site = re.search(r"include (\S+/conf/nginx-[a-z-]+\.conf);", f.read()).group(1)
        use_site_conf(site, "    listen 127.0.0.1:%d;" % self.port,
                      "    include %s;" % self.https_conf("nginx-https.conf"))


class NginxSpawnFcgi(NginxFastCgi):
    name = "nginx-spawn-fcgi"
    programs = ("nginx", "spawn-fcgi", "ab")

    def start_gate_processes(self, count=4):
        subprocess.run([program("spawn-fcgi"), "-s", self.path("run", "orvanegate.sock"), "-F",
                        str(count), "--", self.path("cgi", "orvanegate.exe")], cwd=self.run,
                       env=SERVER_ENVIRONMENT, capture_output=True, check=True, **server_account())


class SiteCases:
    """A test class around one site of the server in SITE: started once for the class
    (make_site, then prepare_site once it runs), skipped where the server or what the class
    needs (missing) is not there, and stopped and removed afterwards, failing the class when
    a sanitizer build of the gate reported faults."""

    SITE = None
    site = None

    @classmethod
    def setUpClass(cls):
        problem = cls.SITE.unavailable() or cls.missing()
        if problem:
            raise unittest.SkipTest(problem)
        cls.site = cls.make_site()
        try:
            cls.site.start()
            cls.prepare_site()
        except BaseException:
            cls.site.remove()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.site is None:
            return
        try:
            cls.site.stop()
            reports = cls.site.sanitizer_reports()
            if reports:
                raise AssertionError("the gate reported faults:\n" + b"\n".join(
                    reports).decode("utf-8", "replace"))
        finally:
            cls.site.remove()

    @classmethod
    def missing(cls):
        return None

    @classmethod
    def make_site(cls):
        return cls.SITE()

    @classmethod
    def prepare_site(cls):
        pass
