"""The demo's start and the site layout it shares with the end-to-end tests: a taken port
is reported before anything is laid out, settings are created once and then left to the
operator, and the directories holding passwords are the server account's alone."""

import os
import pwd
import shutil
import socket
import stat
import subprocess
import tempfile
import unittest

import served_site

REPO = served_site.REPO


class SetupCase(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="orvanegate-setup-")
        self.addCleanup(shutil.rmtree, self.top, True)
        self.run_dir = os.path.join(self.top, "run")

    def lay_out(self, port="8080", dumps=""):
        command = ["sh", served_site.LAYOUT, self.run_dir, os.environ["ORVANEGATE_EXE"], port]
        if served_site.as_root():
            command.append(served_site.WEB_USER)
        subprocess.run(command, check=True, timeout=60, env=dict(os.environ, DUMPS=dumps))

    def path(self, *parts):
        return os.path.join(self.run_dir, *parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()


class DemoPortTest(SetupCase):
    def test_taken_port_is_reported_before_anything_is_laid_out(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            for mode in ([], ["--check"]):
                with self.subTest(mode=mode):
                    env = dict(os.environ, PORT=str(port), RUN_DIR=self.run_dir)
                    done = subprocess.run(["sh", os.path.join(REPO, "scripts", "demo.sh"), *mode],
                                          env=env, capture_output=True, timeout=120)
                    self.assertEqual(1, done.returncode, done.stderr)
                    self.assertIn(b"port %d is taken" % port, done.stderr)
                    self.assertFalse(os.path.exists(self.run_dir))


class DemoPackagesTest(unittest.TestCase):
    def test_the_demo_installs_none_of_the_test_toolchain(self):
        def listed(*args):
            done = subprocess.run(["sh", os.path.join(REPO, "scripts", "install-deps.sh"),
                                   "--list", *args], capture_output=True, check=True, timeout=30)
            return set(done.stdout.decode().split())
        demo, everything = listed("--demo"), listed()
        self.assertEqual({"g++", "make", "cmake", "libsodium-dev", "lighttpd", "curl", "python3"},
                         demo)
        self.assertLessEqual(demo, everything)
        for toolchain in ("wine64", "g++-mingw-w64-x86-64-posix", "glusterfs-server", "chromium",
                          "clang", "apache2", "nginx", "libgtest-dev"):
            with self.subTest(toolchain):
                self.assertIn(toolchain, everything)
                self.assertNotIn(toolchain, demo)


class SiteLayoutTest(SetupCase):
    def test_settings_are_created_once_and_edits_kept(self):
        self.lay_out()
        kept = (("cgi", "config.txt"), ("data", "sessions", "demo.txt"))
        for parts in kept:
            self.assertIn(self.run_dir.encode(), self.read(*parts))
            with open(self.path(*parts), "ab") as f:
                f.write(b"edited=by the operator\r\n")
        with open(self.path("cgi", "orvanegate.exe"), "wb") as f:
            f.write(b"stale")
        os.remove(self.path("data", "sessions", "gallery.txt"))

        self.lay_out(port="8081")
        for parts in kept:
            with self.subTest(parts):
                self.assertTrue(self.read(*parts).endswith(b"edited=by the operator\r\n"))
        self.assertIn(b"nameorder=num3d", self.read("data", "sessions", "gallery.txt"))
        with open(os.environ["ORVANEGATE_EXE"], "rb") as f:
            self.assertEqual(f.read(), self.read("cgi", "orvanegate.exe"))
        self.assertIn(b"server.port = 8081", self.read("conf", "lighttpd.conf"))

    def test_dumps_only_when_the_operator_asks(self):
        # Asked twice, one line; not asked later, the operator's line stays.
        for dumps, lines in (("", 0), ("1", 1), ("1", 1), ("", 1)):
            with self.subTest(dumps=dumps, lines=lines):
                self.lay_out(dumps=dumps)
                config = self.read("cgi", "config.txt")
                self.assertEqual(lines, config.count(b"dumppath="), config)
        self.assertIn(b"dumppath=%s/data/dumps\n" % self.run_dir.encode(), config)

    def test_password_holding_directories_are_the_server_accounts_alone(self):
        self.lay_out()
        owner = os.getuid()
        if served_site.as_root():
            owner = pwd.getpwnam(served_site.WEB_USER).pw_uid
        for parts in (("data", "members"), ("data", "dumps")):
            with self.subTest(parts):
                info = os.stat(self.path(*parts))
                self.assertEqual(0o700, stat.S_IMODE(info.st_mode))
                self.assertEqual(owner, info.st_uid)
        for parts in (("cgi", "error.txt"), ("htdocs", "leaves"), ("data",)):
            with self.subTest(parts):
                self.assertEqual(owner, os.stat(self.path(*parts)).st_uid)
        self.assertIn("デモサイト".encode("cp932"), self.read("htdocs", "index.html"))


if __name__ == "__main__":
    unittest.main()
