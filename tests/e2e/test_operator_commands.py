"""The operator commands on a served site while requests run: a password set, a member
locked and a leaf removed under profile queries, postings and password changes through
a real server, with every reply one of the expected pages and every record whole."""

import os
import subprocess
import threading
import time
import unittest

import gate_pages as pages
import served_site

LOAD_SECONDS = 6
MEMBERS = ("op1", "poster", "changer")


class OperatorCommandsUnderLoad(served_site.SiteCases, unittest.TestCase):
    SITE = served_site.LighttpdFastCgi

    def request(self, method, path, body=None, headers=None):
        conn = self.site.connection(timeout=30)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            answer = conn.getresponse()
            return answer.status, answer.read()
        finally:
            conn.close()

    def post_form(self, *pairs):
        return self.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(*pairs),
                            {"Content-Type": "application/x-www-form-urlencoded"})

    def command(self, name, *pairs, session="demo"):
        return self.post_form(("session", session), ("command", name), *pairs)

    def profile(self, member):
        return self.request("GET", "/cgi/orvanegate.exe?showuser=%s&session=demo" % member)

    def operate(self, *args, stdin=b""):
        done = subprocess.run([self.site.path("cgi", "orvanegate.exe"), *args], input=stdin,
                              capture_output=True, timeout=30, env=served_site.SERVER_ENVIRONMENT,
                              cwd=self.site.run, **served_site.server_account())
        self.assertEqual(0, done.returncode, done.stderr)
        return done.stdout

    def post_leaf(self):
        parts = [("session", "gallery"), ("command", "postleaf"), ("id", "poster"),
                 ("pw", "secret1"), ("upfile", "p.png", "image/png", b"\x89PNG image")]
        return self.request("POST", "/cgi/orvanegate.exe", pages.multipart(*parts),
                            {"Content-Type": pages.multipart_type()})

    def assert_whole(self, member):
        """The record read straight from disk: its lines whole, each ended with CR LF."""
        with open(self.site.path("data", "members", member + ".txt"), "rb") as f:
            text = f.read()
        lines = text.split(b"\r\n")
        self.assertEqual(b"", lines[-1], text)
        self.assertEqual(b"id=" + member.encode(), lines[0], text)
        self.assertEqual(1, sum(line.startswith((b"pw=", b"pwhash=$argon2id$")) for line in lines))
        self.assertIn(b"mail=m@example.com", lines)
        return lines

    def test_commands_while_requests_run(self):
        accepted = pages.registration_accepted_page()
        for member in MEMBERS:
            self.assertEqual((200, accepted), self.command(
                "registration", ("id", member), ("pw", "secret1"), ("pw2", "secret1"),
                ("realname", "Name"), ("mail", "m@example.com")))
        self.assertEqual((200, pages.file_accepted_page()), self.post_leaf())
        shown = {member: self.profile(member) for member in MEMBERS}
        locking = threading.Event()
        stop = threading.Event()
        faults = []

        def run(step):
            while not stop.is_set():
                try:
                    fault = step()
                except Exception as error:  # a reply the loop cannot read at all
                    fault = repr(error)
                if fault:
                    faults.append(fault)
                    return

        def query():
            for member in MEMBERS:
                answer = self.profile(member)
                # Read after the answer: the lock is announced before it is made.
                locked = member == "op1" and locking.is_set()
                if answer not in [shown[member]] + [(200, b"")] * locked:
                    return "profile of %s: %r" % (member, answer[1][:200])
                self.assert_whole(member)
            return None

        def post():
            answer = self.post_leaf()
            return None if answer == (200, pages.file_accepted_page()) else "posting: %r" % (answer,)

        passwords = ["secret1", "secret2"]

        def change():
            answer = self.command("changepw", ("id", "changer"), ("pw0", passwords[0]),
                                  ("pw1", passwords[1]), ("pw2", passwords[1]))
            passwords.reverse()
            return None if answer == (200, accepted) else "changepw: %r" % (answer,)

        threads = [threading.Thread(target=run, args=(step,)) for step in (query, query, post, change)]
        for thread in threads:
            thread.start()
        try:
            time.sleep(LOAD_SECONDS / 3)
            self.assertIn(b"set the password of op1",
                          self.operate("--set-password", "demo", "op1", stdin=b"Oper&tor 1\n"))
            form = self.command("changeprof1", ("id", "op1"), ("pw", "Oper&tor 1"))
            self.assertIn(b'value="changeprof2"', form[1])
            locking.set()
            self.assertIn(b"locked: op1", self.operate("--lock", "demo", "op1"))
            self.assertIn(b"removed", self.operate("--remove-leaf", "gallery", "001"))
            time.sleep(LOAD_SECONDS / 3)
        finally:
            stop.set()
            for thread in threads:
                thread.join(30)
        self.assertEqual([], faults)
        self.assertEqual((200, b""), self.profile("op1"))
        self.assertEqual((200, pages.error_page(pages.PW_NOT_CHANGED)), self.command(
            "changepw", ("id", "op1"), ("pw0", "Oper&tor 1"), ("pw1", "secret3"), ("pw2", "secret3")))
        self.assertEqual(b"locked=1", self.assert_whole("op1")[-2])
        self.assertEqual(b"changer\nop1\nposter\n", self.operate("--list-members", "demo"))
        gallery = set(os.listdir(self.site.path("htdocs", "gallery")))
        self.assertIn(".removed.001", gallery)
        self.assertFalse({"001.png", "001.txt"} & gallery)
        leaves = {name[:3] for name in gallery if name[0] != "."}
        self.assertGreater(len(leaves), 3, "too few postings ran")
        self.assertEqual({n + ext for n in leaves for ext in (".png", ".txt")},
                         {name for name in gallery if name[0] != "."})


if __name__ == "__main__":
    unittest.main()
