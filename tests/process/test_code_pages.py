"""One site served under the code pages a Windows system may give programs: Japanese
(932), English (1252) and UTF-8 (65001). The program names files in Shift_JIS whatever
the system's code page, so each finds the records the others wrote, under the same names
on disk. Where names are bytes there is no code page, and each case runs once."""

import contextlib
import os
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite
from test_gate_accounts import command

# Wine gives a program the code page of its locale; a program whose manifest names UTF-8
# as its code page gets 65001 whatever the locale.
LOCALES = {932: "ja_JP.UTF-8", 1252: "en_US.UTF-8", 65001: "en_US.UTF-8"}
UTF8_MANIFEST = b"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="orvanegate" version="1.0.0.0"/>
  <application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>
    <activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>
  </windowsSettings></application>
</assembly>
"""
CODE_PAGES = (932, 1252, 65001) if cgi_harness.under_wine() else (None,)

# Ids whose second bytes are a backslash (表, ソ) and a bar (ポ), and COMﾙ, whose bytes
# in code page 1252 spell COM¹, a device of Windows whatever extension follows.
IDS = ("たろう", "表示", "ソ", "ポ", "COMﾙ.x")


@contextlib.contextmanager
def code_page(site, number):
    """Runs of the site's executable under the code page; no change where there is none."""
    if number is None:
        yield
        return
    saved = {name: os.environ.get(name) for name in ("LANG", "LC_ALL")}
    os.environ["LANG"] = os.environ["LC_ALL"] = LOCALES[number]
    manifest = site.exe + ".manifest"
    if number == 65001:
        with open(manifest, "wb") as f:
            f.write(UTF8_MANIFEST)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        if os.path.exists(manifest):
            os.remove(manifest)


def showuser(member):
    return "showuser=%s&session=site1" % "".join("%%25%02X" % b for b in pages.sj(member))


class CodePagesTest(unittest.TestCase):
    def register(self, site, member, pw="secret"):
        return site.post_form(*command("registration", ("id", member), ("pw", pw), ("pw2", pw),
                                       ("realname", "R"), ("country", "JP"), ("mail", "m")))

    def check_report(self, site):
        result = site.run(args=("--check",))
        return result.stdout.decode("cp932", errors="replace")

    def assert_code_page(self, site, number):
        """The program runs under the code page the case asks for (the site check says)."""
        if number is not None:
            self.assertIn("system code page = %d ->" % number, self.check_report(site))

    def assert_member(self, site, member, pw="secret"):
        """Registered, the takeover of the id by a stranger is refused, and its page shown."""
        site.assert_error(pages.ID_TAKEN, self.register(site, member, pw="stranger"))
        site.assert_page(pages.profile_page(member, {"realname": b"R", "country": b"JP"}),
                         site.get(showuser(member)))
        self.assertEqual(pages.registration_record(member, pw, "R", "JP", "m"),
                         site.read_member(member))

    def test_each_code_page_finds_the_members_of_the_others(self):
        site = GateSite(self)
        registered = []
        for number in CODE_PAGES:
            with code_page(site, number):
                self.assert_code_page(site, number)
                for member in registered:
                    with self.subTest(code_page=number, member=member):
                        self.assert_member(site, member)
                # The ids as written under the first code page, then new ones.
                suffix = "" if number == CODE_PAGES[0] else str(number)
                for member in (member + suffix for member in IDS):
                    with self.subTest(code_page=number, new_member=member):
                        site.assert_page(pages.registration_accepted_page(),
                                         self.register(site, member))
                        registered.append(member)
        self.assertEqual(sorted(os.path.basename(site.member_path(m)) for m in registered),
                         site.member_files())

    def test_long_id_in_a_deep_member_directory(self):
        # The record's path is far past the 260 characters at which Windows paths once
        # stopped: 100 for the directory, 254 for the record's name.
        site = GateSite(self)
        deep = site.members
        while len(cgi_harness.native_path(deep)) < 100 - 21:
            deep = os.path.join(deep, "d" * 20)
        deep = os.path.join(deep, "e" * (100 - len(cgi_harness.native_path(deep)) - 1))
        self.assertEqual(100, len(cgi_harness.native_path(deep)))
        os.makedirs(deep)
        site.write_session("site1", "path=%s\r\nmembersdb=%s\r\n" % (site.leaves, deep))
        site.members = deep
        member = "a" * 250
        for number in CODE_PAGES:
            with code_page(site, number), self.subTest(code_page=number):
                if number == CODE_PAGES[0]:
                    site.assert_page(pages.registration_accepted_page(),
                                     self.register(site, member))
                self.assert_member(site, member)
        self.assertEqual([member.encode() + b".txt"], site.member_files())

    @unittest.skipUnless(cgi_harness.under_wine(), "names are bytes: every name is spelled")
    def test_site_check_reports_names_an_older_build_garbled(self):
        # たろう.txt as a build that named files in code page 1252 stored it: no character
        # of that name is in Shift_JIS.
        site = GateSite(self)
        garbled = "たろう.txt".encode("cp932").decode("cp1252")
        with open(os.path.join(site.members, garbled), "wb") as f:
            f.write(b"id=x\r\npw=secretx\r\n")
        with code_page(site, 1252):
            report = self.check_report(site)
        self.assertIn("\\??????.txt has a name that Shift_JIS cannot spell", report)


if __name__ == "__main__":
    unittest.main()
