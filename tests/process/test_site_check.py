"""The operator's site check (--check), --version and --help, run from a shell; and the
same arguments ignored when a web server starts the program."""

import hashlib
import os
import pwd
import re
import subprocess
import unittest

import cgi_harness
from gate_site import GateSite

NOBODY = 65534
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def snapshot(root):
    """Every path under root with its mode and content digest, to show nothing changed."""
    state = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(folder, name)
            info = os.lstat(full)
            digest = None
            if os.path.isfile(full) and not os.path.islink(full):
                with open(full, "rb") as handle:
                    digest = hashlib.sha256(handle.read()).hexdigest()
            state[os.path.relpath(full, root)] = (info.st_mode, info.st_size, digest)
    return state


def check_site(test):
    """A site that passes the check: config, site1 with private members and member m1."""
    site = GateSite(test)
    site.write_config(("sessiondb=%s\r\npasswordstore=argon2id\r\n" % site.sessions).encode())
    os.chmod(site.members, 0o700)
    site.write_member("m1", b"id=m1\r\npw=secret\r\nrealname=A&nbsp;B<br>C&lt;\r\n")
    return site


def forbid(directory):
    """Take write access to the directory away from the account that runs the check."""
    os.chmod(directory, 0o555)


# Each case: label, how to break a correct site, arguments after --check, exit code,
# texts the report must hold. Setups that call forbid() need the check run by an account
# that the modes bind, which as root is nobody.
def setting(key, value):
    return lambda s: s.set_settings(**{key: value})


def fill_leaves(count, template):
    def setup(site):
        for n in range(1, count + 1):
            places = template.count("#")
            digits = str(n % 10 ** places).zfill(places)  # numbers wrap to their last digits
            name = template
            for d in digits:
                name = name.replace("#", d, 1)
            site.write(os.path.join("leaves", name + (".jpg" if n % 2 else ".txt")), b"x")
    return setup


CASES = [
    ("correct site", lambda s: None, (), 0, ["Result: 0 errors, 0 warnings"]),
    ("no config.txt", lambda s: os.remove(s.path("config.txt")), (), 1,
     ["config.txt does not exist"]),
    ("sessiondb not set", lambda s: s.write_config(b"dumppath=x\r\n"), (), 1,
     ["sessiondb is not set", "empty page"]),
    ("sessiondb names no directory",
     lambda s: s.write_config(b"sessiondb=" + s.path("nowhere").encode() + b"\r\n"), (), 1,
     ["sessiondb names no directory", "nowhere"]),
    ("no settings file", lambda s: os.remove(os.path.join(s.sessions, "site1.txt")), (), 1,
     ["holds no settings file"]),
    ("named session missing", lambda s: None, ("site2",), 1,
     ["session site2", "the settings file does not exist"]),
    ("path missing", lambda s: s.write_session("site1", "membersdb=%s\r\n" % s.members), (), 1,
     ["path is not set", "The session does not exist"]),
    ("membersdb names no directory",
     lambda s: s.write_session("site1", "path=%s\r\nmembersdb=%s/gone\r\n" % (s.leaves, s.root)),
     (), 1, ["membersdb names no directory", "MemberDB does not exist"]),
    ("template without #", setting("FileNameTemplate", "leaf"), (), 1, ["holds no #"]),
    ("counter holds no number", lambda s: (setting("FileNameTemplate", "leaf###")(s),
                                           s.write("leaves/counter.txt", b"abc\r\n")), (), 1,
     ["holds no number"]),
    ("counter directory missing", lambda s: s.set_settings(
        FileNameTemplate="leaf###", FileNameCounter=s.path("none/counter.txt")), (), 1,
     ["cannot be created", "does not exist"]),
    ("all template names taken", lambda s: (setting("FileNameTemplate", "a#")(s),
                                            fill_leaves(10, "a#")(s)), (), 1,
     ["10 of 10 names taken", "every name of a# is taken"]),
    ("num3d names running out", lambda s: (setting("nameorder", "num3d")(s),
                                           fill_leaves(900, "###")(s)), (), 0,
     ["900 of 1000 names taken", "WARNING: names of ### are running out"]),
    ("num3d names plenty", lambda s: (setting("nameorder", "num3d")(s),
                                      fill_leaves(899, "###")(s)), (), 0,
     ["899 of 1000 names taken", "0 warnings"]),
    ("nameorder in other case", setting("nameorder", "Num3d"), (), 0,
     ["WARNING: nameorder Num3d is not num3d"]),
    ("default image missing", setting("DefaultImgFile", "/nonexistent/none.jpg"), (), 1,
     ["DefaultImgFile \"/nonexistent/none.jpg\" does not exist"]),
    ("members readable by others", lambda s: os.chmod(s.members, 0o755), (), 0,
     ["WARNING: MEMBERS/ is readable by other accounts", "chmod o-rwx"]),
    ("dumps readable by others", lambda s: (os.mkdir(s.dumps, 0o755), s.write_config(
        ("sessiondb=%s\r\ndumppath=%s\r\n" % (s.sessions, s.dumps)).encode())), (), 0,
     ["WARNING: DUMPS/ is readable by other accounts"]),
    ("dumps kept", lambda s: (os.mkdir(s.dumps, 0o700), s.write_config(
        ("sessiondb=%s\r\ndumppath=%s\r\npasswordstore=argon2id\r\n" % (s.sessions, s.dumps)).encode())), (), 0,
     ["WARNING: request bodies are dumped to DUMPS/: they keep members' passwords",
      "Fix: remove the dumppath line from config.txt", "0 errors, 1 warning:"]),
    ("dumppath names no directory", lambda s: s.write_config(
        ("sessiondb=%s\r\ndumppath=%s/none\r\n" % (s.sessions, s.root)).encode()), (), 0,
     ["WARNING: dumppath names no directory"]),
    ("allowedorigins with a stray entry", lambda s: s.write_config(
        ("sessiondb=%s\r\nallowedorigins=https://www.example.com null\r\npasswordstore=argon2id\r\n"
         % s.sessions).encode()),
     (), 0, ["allowedorigins = https://www.example.com null -> forms also from these pages",
             "WARNING: allowedorigins holds null, which is not an origin", "1 warning:"]),
    ("relative sessiondb", lambda s: s.write_config(b"sessiondb=sessions\r\n"), (), 0,
     ["sessiondb = sessions -> sessions/", "WARNING: sessiondb is a relative path"]),
    ("error.txt cannot be written", lambda s: os.mkdir(s.path("error.txt")), (), 0,
     ["error.txt cannot be written"]),
    ("member record with markup", lambda s: s.write_member(
        "m2", b"id=m2\r\npw=x\r\nrealname=<script>\r\ncomment=\x81\x22x\r\n"), (), 0,
     ["m2.txt line 3 holds a raw \"<\"", "m2.txt line 4 holds a lead byte 0x81 before the byte 0x22"]),
    ("counter wraps past the template", lambda s: (setting("FileNameTemplate", "leaf###")(s),
                                                   s.write("leaves/counter.txt", b"999\r\n")),
     (), 1, ["holds 999, past the last number of leaf###", "(leaf000 next)"]),
    ("counter near the largest number", lambda s: (
        setting("FileNameTemplate", "n" + "#" * 19)(s),
        s.write("leaves/counter.txt", b"9223372036854775806\r\n")), (), 1,
     ["holds 9223372036854775806, 1 below the largest number: after 1 more posting(s) every "
      "posting answers \"No file name is available\""]),
    ("counter at the largest number", lambda s: (
        setting("FileNameTemplate", "n" + "#" * 19)(s),
        s.write("leaves/counter.txt", b"9223372036854775807\r\n")), (), 1,
     ["0 below the largest number: every posting answers \"No file name is available\""]),
    ("counter below the template's range", lambda s: (setting("FileNameTemplate", "leaf###")(s),
                                                      s.write("leaves/counter.txt", b"-5\r\n")),
     (), 0, ["WARNING: the counter file LEAVES/counter.txt holds -5", "like leaf0-4"]),
    ("counter of -1 starts at 0", lambda s: (setting("FileNameTemplate", "leaf###")(s),
                                             s.write("leaves/counter.txt", b"-1\r\n")),
     (), 0, ["counter: -1", "0 warnings"]),
    ("member record with a NUL byte", lambda s: s.write_member(
        "m2", b"id=m2\r\npw=x\r\nrealname=a\x00b\r\ncomment=c\r\n"), (), 0,
     ["WARNING: MEMBERS/m2.txt holds a NUL byte in line 3"]),
    ("member record without a pw line", lambda s: s.write_member(
        "m2", b"\xef\xbb\xbfpw=x\r\nid=m2\r\n"), (), 0,
     ["WARNING: MEMBERS/m2.txt has no pw line"]),
    ("passwords kept plain", lambda s: s.write_config(("sessiondb=%s\r\n" % s.sessions).encode()), (), 0,
     ["passwordstore = (not set) -> plain", "WARNING: passwords are written in plain text"]),
    ("unknown password store", lambda s: s.write_config(("sessiondb=%s\r\npasswordstore=bcrypt\r\n" % s.sessions).encode()), (), 0,
     ["passwordstore = bcrypt -> plain", "WARNING: passwordstore bcrypt is neither"]),
    ("records counted by how they keep the password", lambda s: (
        s.write_member("m2", b"id=m2\r\npwhash=$argon2id$v=19$m=19456,t=2,p=1$c2FsdHNhbHQ$aGFzaA\r\n"),
        s.write_member("m3", b"pw=x\r\npwhash=$argon2id$v=19$m=8192,t=1,p=1$c2FsdHNhbHQ$aGFzaA\r\n"),
        s.write_member("m4", b"id=m4\r\npw=x\r\npwhash=$2y$10$abc\r\n")), (), 0,
     ["MEMBERS/: 1 plain, 1 hashed, 1 hashed with weaker parameters",
      "WARNING: MEMBERS/m4.txt has a pwhash line that holds no Argon2id hash"]),
    ("older member drafts", lambda s: (s.write("members/.member-0123456789abcdef.new", b"id=x"),
                                       s.write("members/.member-draft.new", b"id=y")), (), 0,
     ["WARNING: 1 helper file(s) in MEMBERS/ left by an older build",
      "(.member-0123456789abcdef.new): they can be deleted", "run --check --repair"]),
    ("older counter helper", lambda s: s.write("leaves/.counter.txt.new", b"5"), (), 0,
     ["WARNING: 1 helper file(s) in LEAVES/ left by an older build", "(.counter.txt.new)"]),
    ("older helper of a named counter", lambda s: (
        os.mkdir(s.path("count")), s.write("count/hits", b"4\r\n"),
        s.write("count/.hits.new", b"5"),
        s.set_settings(FileNameTemplate="leaf###", FileNameCounter=s.path("count/hits"))), (), 0,
     ["COUNT/ left by an older build and never used again (.hits.new): they can be deleted"]),
    ("leaf record with markup", lambda s: s.write(
        "leaves/001.txt", b"<qelkeys>\r\nupfile=<img src=x>.png\r\n\r\n</qelkeys>\r\n"), (), 0,
     ["001.txt line 2 holds a raw \"<\""]),
]

def lock_out(site, name):
    """A file the account that runs the check cannot write: root's when the check runs as
    nobody, read-only otherwise."""
    site.write(name, b"")
    os.chmod(site.path(name), 0o444)


CANNOT_CREATE = "the account ACCOUNT cannot create files"

# Cases that take write access away; run as an account the modes bind.
FORBIDDEN_CASES = [
    ("slot file not writable", lambda s: (lock_out(s, "leaves/.leaf0"),
                                          lock_out(s, "leaves/.leaf7")), 1,
     ["2 posting slot file(s) in LEAVES/ cannot be opened for reading and writing by the "
      "account ACCOUNT (.leaf0, .leaf7)", "chown ACCOUNT LEAVES/.leaf*"]),
    ("members' lock not writable", lambda s: lock_out(s, "members/.members.lock"), 1,
     ["the members' lock file MEMBERS/.members.lock cannot be opened for reading and writing "
      "by the account ACCOUNT: every registration"]),
    ("member draft not writable", lambda s: lock_out(s, "members/.member-draft.new"), 0,
     ["WARNING: the leftover member draft MEMBERS/.member-draft.new cannot be opened for "
      "writing by the account ACCOUNT"]),
    ("leaf directory not writable", lambda s: forbid(s.leaves), 1,
     [CANNOT_CREATE, "cannot create files in path LEAVES/", "every posting fails"]),
    ("member directory not writable", lambda s: forbid(s.members), 1,
     [CANNOT_CREATE, "cannot create files in membersdb"]),
    ("dump directory not writable", lambda s: (os.mkdir(s.dumps, 0o700), forbid(s.dumps),
                                               s.write_config(("sessiondb=%s\r\ndumppath=%s\r\n"
                                                               % (s.sessions, s.dumps)).encode())),
     1, [CANNOT_CREATE, "cannot create files in dumppath"]),
]


@unittest.skipIf(cgi_harness.under_wine(),
                 "the check's expectations are POSIX permission bits and accounts")
class SiteCheck(cgi_harness.CgiTestCase):
    def run_check(self, site, args, user=None, changes=False):
        """Run --check from a shell (no GATEWAY_INTERFACE); nothing may change on disk
        unless the args ask for the repair."""
        before = snapshot(site.root)
        child = subprocess.Popen([site.exe, "--check", *args],
                                 env=cgi_harness.sanitizer_environment(), cwd=site.root,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, user=user)
        result = cgi_harness.finish(child)
        cgi_harness.check_stderr(self, result)
        if not changes:
            self.assertEqual(before, snapshot(site.root), "the check changed the site")
        return result

    @staticmethod
    def expand(site, text):
        """The text with the site's directories in place of MEMBERS, DUMPS and LEAVES."""
        return (text.replace("MEMBERS", site.members).replace("DUMPS", site.dumps)
                .replace("LEAVES", site.leaves).replace("COUNT", site.path("count")))

    def assert_report(self, site, result, exit_code, texts):
        report = result.stdout.decode("cp932")
        self.assertEqual(exit_code, result.exit_code, report)
        for text in texts:
            self.assertIn(self.expand(site, text), report)
        self.assertEqual(exit_code == 0, "the site can serve every command" in report, report)

    def test_cases(self):
        for label, setup, args, exit_code, texts in CASES:
            with self.subTest(label):
                site = check_site(self)
                setup(site)
                self.assert_report(site, self.run_check(site, args), exit_code, texts)

    def test_directories_the_account_cannot_write(self):
        user, account = None, pwd.getpwuid(os.geteuid()).pw_name
        if os.geteuid() == 0:
            try:
                account = pwd.getpwuid(NOBODY).pw_name
            except KeyError:
                self.skipTest("running as root and no account %d to run the check as" % NOBODY)
            user = NOBODY
        for label, setup, exit_code, texts in FORBIDDEN_CASES:
            with self.subTest(label):
                site = check_site(self)
                if user is not None:
                    for folder, dirs, files in os.walk(site.root):
                        for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                            os.chown(name, NOBODY, NOBODY)
                setup(site)
                result = self.run_check(site, (), user=user)
                self.assert_report(site, result, exit_code,
                                   [text.replace("ACCOUNT", account) for text in texts])

    def test_repair_removes_older_member_drafts_and_nothing_else(self):
        site = check_site(self)
        older = ["members/.member-0123456789abcdef.new", "members/.member-fedcba9876543210.new"]
        kept = ["members/.member-draft.new", "members/.member-0123456789ABCDEF.new"]
        for name in older + kept:
            site.write(name, b"id=x")
        def contents():  # every file but the members' lock, which the repair may make
            return {k: v[2] for k, v in snapshot(site.root).items()
                    if v[2] is not None and not k.endswith(".members.lock")}
        expected = {k: v for k, v in contents().items() if k not in older}
        result = self.run_check(site, ("--repair", "site1"), changes=True)
        self.assert_report(site, result, 0, [
            "repaired: removed 2 helper file(s) in MEMBERS/ left by an older build"])
        self.assertEqual(expected, contents())
        self.assertNotIn("left by an older build and never", result.stdout.decode("cp932"))
        again = self.run_check(site, ())  # nothing more to repair: a plain check is clean
        self.assertNotIn("older build", again.stdout.decode("cp932"))

    def test_version_and_help(self):
        site = self.make_site()
        with open(os.path.join(REPO, "CMakeLists.txt"), encoding="utf-8") as cmake:
            version = re.search(r"project\(orvanegate VERSION (\S+)", cmake.read()).group(1)
        for option, code, text in (("--version", 0, "orvanegate %s\n" % version),
                                   ("--help", 0, "Usage: orvanegate"),
                                   ("--chek", 2, "orvanegate: unknown argument --chek\nUsage:")):
            with self.subTest(option):
                result = self.run_cgi(site, {}, args=(option,), expect_stderr=code == 2)
                self.assertEqual(code, result.exit_code)
                self.assertTrue((result.stderr or result.stdout).decode().startswith(text))
                self.assertFalse(os.path.exists(site.path("error.txt")))


class UnderAWebServer(cgi_harness.CgiTestCase):
    def test_options_are_ignored_when_gateway_interface_is_set(self):
        site = GateSite(self)
        site.write_member("m1", b"id=m1\r\npw=secret\r\n")
        env = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1",
                                  GATEWAY_INTERFACE="CGI/1.1")
        plain = site.answer(env)
        self.assertIn(b"Status: 200 OK", plain)
        for args in (("--check",), ("--check", "site1"), ("--version",), ("--help",),
                     ("--lock", "site1", "m1"), ("--remove-leaf", "site1", "m1"),
                     ("--list-members", "site1")):
            with self.subTest(args=args):
                result = site.run(env, args=args)
                self.assertEqual(0, result.exit_code)
                self.assertBytesEqual(plain, result.stdout)


if __name__ == "__main__":
    unittest.main()
