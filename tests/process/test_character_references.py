"""Characters that Shift_JIS cannot hold arrive as decimal character references, the way
browsers send them from a Shift_JIS form; they are stored so that pages show the
character itself. (The change-profile form's round trip is in test_profile_round_trip.)"""

import unittest

import gate_pages as pages
from gate_site import GateSite

# (label, value as the browser sends it, value stored in the record)
CASES = (
    ("accented Latin letter", "Jos&#233;", b"Jos&#233;"),
    ("n with tilde and u with umlaut", "Espa&#241;a-M&#252;ller", b"Espa&#241;a-M&#252;ller"),
    ("emoji", "&#128512;", b"&#128512;"),
    ("Hangul", "&#54620;&#44397;", b"&#54620;&#44397;"),
    ("Chinese beside Japanese", "&#20204;漢字", b"&#20204;" + "漢字".encode("cp932")),
    ("reference at the start", "&#201;lodie", b"&#201;lodie"),
    ("reference at the end", "caf&#233;", b"caf&#233;"),
    ("ASCII reference typed as text", "&#60;b&#62;", b"&amp;#60;b&amp;#62;"),
    ("hexadecimal reference typed as text", "&#xE9;", b"&amp;#xE9;"),
    ("malformed reference", "&#233", b"&amp;#233"),
)


def command(name, *pairs):
    return (("session", "site1"), ("command", name)) + tuple(pairs)


class CharacterReferenceTest(unittest.TestCase):
    def test_registration_stores_references_and_the_profile_page_shows_them(self):
        for multipart in (False, True):
            for label, sent, stored in CASES:
                with self.subTest(label, multipart=multipart):
                    site = GateSite(self)
                    fields = command("registration", ("id", "jose"), ("pw", "secret"),
                                     ("pw2", "secret"), ("realname", sent), ("mail", "j@x.jp"))
                    site.assert_page(pages.registration_accepted_page(),
                                     site.post_multipart(*fields) if multipart
                                     else site.post_form(*fields))
                    self.assertEqual(pages.registration_record("jose", "secret", stored, "", "j@x.jp"),
                                     site.read_member("jose"))
                    site.assert_page(pages.profile_page("jose", {"realname": stored}),
                                     site.get("showuser=jose&session=site1"))

    def test_links_holding_references_follow_the_link_rule(self):
        site = GateSite(self)
        site.write_member("jose", pages.record(("id", "jose"), ("pw", "secret")))
        page = site.post_form(*command(
            "changeprof2", ("id", "jose"), ("pw", "secret"),
            ("url1", "http://a.example/caf&#233;"), ("url2", "javascript:alert('&#233;')"),
            ("url3", "&#233;javascript:alert(1)")))
        self.assertIn(b'<a href="http://a.example/caf&#233;"  target="_blank"> '
                      b"http://a.example/caf&#233;</a>", page)
        self.assertIn(b'<a href=""  target="_blank"> javascript:alert(\'&#233;\')</a>', page)
        # No scheme begins with a non-ASCII character: a relative link, harmless.
        self.assertIn(b'<a href="&#233;javascript:alert(1)"  target="_blank">', page)


if __name__ == "__main__":
    unittest.main()
