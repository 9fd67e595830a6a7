"""Postings of one site started at once: every one stored under its own name."""

import re
import subprocess
import time
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import leaf_site

POSTINGS = 30
PROCESS_TIMEOUT = 40  # seconds; a counter wait is at most 0.6 s per refused open


class ConcurrentPostings(cgi_harness.CgiTestCase):
    @staticmethod
    def start(site, token):
        """Starts one posting whose image and title field both carry the token; its body
        waits in a file, so the process reads it at once."""
        upload = (b"p.png", b"image/png", b"\x00img" + token)
        body = pages.multipart(*pages.leaf_posting(upload=upload, extra=[(b"title", token)]))
        env = site.post_env(body, content_type=pages.multipart_type())
        with open(site.write("bodies/%s.bin" % token.decode(), body), "rb") as stdin:
            return site.start(env, stdin)

    def post_all_at_once(self, site):
        started = [self.start(site, b"token%02d" % n) for n in range(POSTINGS)]
        deadline = time.monotonic() + PROCESS_TIMEOUT
        left = lambda: max(1.0, deadline - time.monotonic())
        try:
            outputs = []
            for n, child in enumerate(started):
                result = cgi_harness.finish(child, timeout=left())
                if cgi_harness.wine_start_failed(result):  # it runs again on its own
                    result = cgi_harness.finish(self.start(site, b"token%02d" % n), timeout=left())
                outputs.append(site.checked(result))
        except subprocess.TimeoutExpired:
            self.fail("a posting did not end within %d s" % PROCESS_TIMEOUT)
        finally:
            for child in started:
                if child.poll() is None:
                    child.kill()
                    child.communicate()
        for stdout in outputs:
            site.assert_page(pages.file_accepted_page(), stdout)

    def check_pairs(self, site, name_pattern):
        """Every record stands beside its own image; returns the base names."""
        found = site.leaf_files()
        found.pop("counter.txt", None)
        bases = sorted(name[:-4] for name in found if name.endswith(".txt"))
        self.assertEqual(sorted(found), sorted([b + ".png" for b in bases]
                                               + [b + ".txt" for b in bases]))
        tokens = set()
        for base in bases:
            self.assertRegex(base, name_pattern)
            token = re.search(rb"\r\ntitle=(token\d\d)\r\n", found[base + ".txt"]).group(1)
            self.assertBytesEqual(b"\x00img" + token, found[base + ".png"], base)
            tokens.add(token)
        self.assertEqual(len(tokens), POSTINGS)
        return bases

    def test_every_naming_mode_stores_every_posting(self):
        modes = [
            ("counter", {"FileNameTemplate": "leaf####"}, r"^leaf\d{4}$"),
            ("num3d", {"nameorder": "num3d"}, r"^\d{3}$"),
            ("time stamp", {}, r"^\d{8}-\d{6}-\d{3}(\d{3,})?$"),
        ]
        for label, settings, pattern in modes:
            with self.subTest(label):
                site = leaf_site(self, **settings)
                self.post_all_at_once(site)
                bases = self.check_pairs(site, pattern)
                if label != "time stamp":
                    # Names are drawn one after the other: exactly the first numbers.
                    digits = sorted(int(base[-3:]) for base in bases)
                    self.assertEqual(digits, list(range(1, POSTINGS + 1)))
                if label == "counter":
                    self.assertEqual(site.read("leaves/counter.txt"), b"%d" % POSTINGS)


if __name__ == "__main__":
    unittest.main()
