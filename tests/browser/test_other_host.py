"""The gate's site served over plain HTTP under the name gate.test through nginx (FastCGI),
lighttpd and Apache, driven in Debian's chromium by other_host.mjs: a page on evil.test can
neither register an id, post a file nor change a password (each answered 403, nothing
written), while the same forms on the site's own pages work."""

import json
import os
import subprocess
import unittest

import gate_pages
import served_site

ACCEPTED = "ACCEPTED. 登録を受け付けました"


class OtherHostCases(served_site.SiteCases):
    def browser(self, step):
        done = subprocess.run(["node", "other_host.mjs", step, str(self.site.port)],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        return json.loads(done.stdout)

    def written(self):
        return {(top, name): os.path.getsize(self.site.path(top, name))
                for top in ("data", "cgi", "htdocs/leaves") for name in self.site.files(top)}

    def test_forms_from_another_site_are_refused(self):
        self.assertEqual([[200, ACCEPTED]], self.browser("own-register"))
        before = self.written()
        self.assertEqual([403, 403, 403], self.browser("evil"))
        self.assertEqual(before, self.written())
        self.assertEqual([[200, "ACCEPTED. ファイルを受け付けました"], [200, ACCEPTED]],
                         self.browser("own"))
        # The sample site keeps hashes: the password the site's own page set opens the record.
        gate_pages.hash_checked(self.site.read("data", "members", "owner.txt"), b"secret2")


class NginxFastCgiTest(OtherHostCases, unittest.TestCase):
    SITE = served_site.NginxFastCgi


class LighttpdTest(OtherHostCases, unittest.TestCase):
    SITE = served_site.Lighttpd


class ApacheTest(OtherHostCases, unittest.TestCase):
    SITE = served_site.Apache
