"""Load: many requests at once on local processes, each answer and every stored file
checked afterwards. Prints what it saw (requests, time, requests per second).

* 1,000 postings, 32 in flight, in each naming mode: every posting is accepted, no leaf
  is lost or stored twice, every image is the one its posting sent.
* Profile saves, password changes and profile queries on one member, 32 in flight:
  every save and change is accepted, every query shows one save whole, and the record
  ends as one save wrote it.
* 200 registrations of 20 ids, 32 in flight: exactly one winner per id, every record
  whole and written by its winner.

ORVANEGATE_LOAD_POSTINGS (postings per mode) and ORVANEGATE_LOAD_REQUESTS (profile writes,
registrations) lower the counts where starting a process is slow.
"""

import concurrent.futures
import hashlib
import os
import re
import time
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite, leaf_site, reply, split_reply

IN_FLIGHT = 32
POSTINGS = int(os.environ.get("ORVANEGATE_LOAD_POSTINGS", "1000"))
# Profile writes and registrations; fewer where each process start is slow (wine).
REQUESTS = int(os.environ.get("ORVANEGATE_LOAD_REQUESTS", "200"))
PROFILE_WRITES = REQUESTS
REGISTRATIONS = REQUESTS
IDS = 20
PROCESS_TIMEOUT = 120  # seconds for one request, under the load of all the others


def image_for(token):
    """A distinct image of a few KiB for each posting, binary and ending in CR LF."""
    seed = hashlib.sha256(token).digest()
    return b"\x89PNG\r\n\x1a\n" + token + seed * 64 + b"\x00&\r\n"


class Load(cgi_harness.CgiTestCase):
    def run_all(self, site, requests):
        """Runs (env, body) requests with IN_FLIGHT at a time; their outputs in order,
        and the wall time taken."""
        def one(numbered):
            n, (env, body) = numbered
            # Each from an address of its own: a network's counts are tried apart, and
            # refuse its sixth password for an id while five are being checked.
            env = dict(env, REMOTE_ADDR="198.18.%d.%d" % (n // 256, n % 256))
            return site.run(env, body, timeout=PROCESS_TIMEOUT)
        start = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(max_workers=IN_FLIGHT) as pool:
            results = list(pool.map(one, enumerate(requests)))
        seconds = time.monotonic() - start
        outputs = [site.checked(result) for result in results]
        return outputs, seconds

    def report(self, label, count, seconds):
        print("\nload: %-34s %5d requests in %6.1f s, %6.1f per second"
              % (label, count, seconds, count / seconds), flush=True)

    # --- postings ---------------------------------------------------------------
    def post_many(self, site, label):
        tokens = [b"t%04d" % n for n in range(POSTINGS)]
        requests = []
        for token in tokens:
            upload = (b"p.png", b"image/png", image_for(token))
            body = pages.multipart(*pages.leaf_posting(upload=upload, extra=[(b"title", token)]))
            requests.append((site.post_env(body, content_type=pages.multipart_type()), body))
        outputs, seconds = self.run_all(site, requests)
        self.report("postings, " + label, len(requests), seconds)
        return tokens, outputs

    def check_leaves(self, site, tokens, name_pattern):
        """Every record beside its own image, each token stored exactly once."""
        found = site.leaf_files()
        found.pop("counter.txt", None)
        bases = sorted(name[:-4] for name in found if name.endswith(".txt"))
        self.assertEqual(sorted(found), sorted([b + ".png" for b in bases]
                                               + [b + ".txt" for b in bases]))
        stored = {}
        for base in bases:
            self.assertRegex(base, name_pattern)
            match = re.search(rb"\r\ntitle=(t\d{4})\r\n", found[base + ".txt"])
            self.assertIsNotNone(match, base)
            token = match.group(1)
            self.assertNotIn(token, stored, "stored twice")
            self.assertBytesEqual(image_for(token), found[base + ".png"], base)
            stored[token] = base
        self.assertEqual(sorted(stored), sorted(tokens))
        return bases

    def test_postings_in_every_naming_mode(self):
        modes = [
            ("counter", {"FileNameTemplate": "leaf####"}, r"^leaf\d{4}$"),
            ("time stamp", {}, r"^\d{8}-\d{6}-\d{3}(\d{3,})?$"),
        ]
        for label, settings, pattern in modes:
            with self.subTest(label):
                site = leaf_site(self, **settings)
                tokens, outputs = self.post_many(site, label)
                for out in outputs:
                    site.assert_page(pages.file_accepted_page(), out)
                bases = self.check_leaves(site, tokens, pattern)
                if label == "counter":
                    self.assertEqual(sorted(int(b[-4:]) for b in bases),
                                     list(range(1, POSTINGS + 1)))
                    self.assertEqual(site.read("leaves/counter.txt"), b"%d" % POSTINGS)

    def test_postings_numbered_from_001(self):
        # "###" keeps the last three digits: the thousandth posting takes 000.
        site = leaf_site(self, nameorder="num3d")
        tokens, outputs = self.post_many(site, "num3d")
        for out in outputs:
            site.assert_page(pages.file_accepted_page(), out)
        bases = self.check_leaves(site, tokens, r"^\d{3}$")
        self.assertEqual(sorted(int(b) for b in bases),
                         sorted(n % 1000 for n in range(1, POSTINGS + 1)))

    # --- one member's profile ---------------------------------------------------
    def test_profile_saves_password_changes_and_queries_on_one_member(self):
        site = GateSite(self)
        site.write_member("m1", pages.record(("id", "m1"), ("pw", "secret1"),
                                             ("realname", "R0"), ("comment", "c0")))
        requests = []
        for n in range(PROFILE_WRITES):
            if n % 2:
                # The password is "changed" to itself, so every change and save can pass.
                body = pages.urlencoded(("session", "site1"), ("command", "changepw"),
                                        ("id", "m1"), ("pw0", "secret1"), ("pw1", "secret1"),
                                        ("pw2", "secret1"))
                requests.append((site.post_env(body), body))
            else:
                body = pages.multipart(("session", b"site1"), ("command", b"changeprof2"),
                                       ("id", b"m1"), ("pw", b"secret1"),
                                       ("realname", b"R%d" % (n + 1)),
                                       ("comment", b"c%d x" % (n + 1)))
                requests.append((site.post_env(body, content_type=pages.multipart_type()), body))
            if n % 2 == 0:
                query = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1")
                requests.append((query, b""))
        outputs, seconds = self.run_all(site, requests)
        self.report("profile saves, changes, queries", len(requests), seconds)

        changed = reply(pages.registration_accepted_page())
        saves = 0
        for (env, body), out in zip(requests, outputs):
            _, page = split_reply(out)
            if b"changepw" in body:
                self.assertEqual(changed, out)
                continue
            # A save answers with the profile page, a query too: both show one save whole.
            name = re.search(rb"\r\nR(\d+)</font>", page)
            comment = re.search(rb"\r\nc(\d+)(?:&nbsp;x)?</font>", page)
            self.assertTrue(name and comment, page[:600])
            self.assertEqual(name.group(1), comment.group(1))
            match = name
            number = match.group(1).decode()
            self.assertBytesEqual(reply(pages.profile_page("m1", {
                "realname": b"R" + number.encode(),
                "comment": b"c" + number.encode() + (b"" if number == "0" else b"&nbsp;x"),
            })), out)
            saves += env["REQUEST_METHOD"] == "POST"
        self.assertEqual(saves, PROFILE_WRITES // 2)
        final = site.read_member("m1")
        match = re.fullmatch(rb"id=m1\r\npw=secret1\r\nrealname=R(\d+)\r\ncomment=c(\d+)&nbsp;x\r\n",
                             final)
        self.assertIsNotNone(match, final)
        self.assertEqual(match.group(1), match.group(2))
        self.assertEqual(site.member_files(), [b"m1.txt"])

    # --- registrations ----------------------------------------------------------
    def test_registrations_of_few_ids_have_one_winner_each(self):
        site = GateSite(self)
        requests = []
        for n in range(REGISTRATIONS):
            body = pages.urlencoded(("session", "site1"), ("command", "registration"),
                                    ("id", "u%02d" % (n % IDS)), ("pw", "pass%d" % n),
                                    ("pw2", "pass%d" % n), ("realname", "R%d" % n),
                                    ("mail", "m%d@example.com" % n), ("country", "JP"))
            requests.append((site.post_env(body), body))
        outputs, seconds = self.run_all(site, requests)
        self.report("registrations of %d ids" % IDS, len(requests), seconds)

        accepted = reply(pages.registration_accepted_page())
        taken = reply(pages.error_page(pages.ID_TAKEN))
        winners = {}
        for n, out in enumerate(outputs):
            self.assertIn(out, (accepted, taken), n)
            if out == accepted:
                member_id = "u%02d" % (n % IDS)
                self.assertNotIn(member_id, winners, "two winners")
                winners[member_id] = n
        self.assertEqual(sorted(winners), ["u%02d" % i for i in range(IDS)])
        self.assertEqual(site.member_files(), sorted(b"u%02d.txt" % i for i in range(IDS)))
        for member_id, n in winners.items():
            self.assertBytesEqual(pages.registration_record(
                member_id, "pass%d" % n, "R%d" % n, "JP", "m%d@example.com" % n),
                site.read_member(member_id), member_id)


if __name__ == "__main__":
    unittest.main()
