"""The change-profile form, fetched and posted back unchanged as a browser does, twice in
a row: the member record must stay byte for byte what it was."""

import unittest

import browser_form
import gate_pages as pages
from gate_site import GateSite, reply, split_reply

# The record's keys in the order a first profile save writes them.
KEYS = ("realname", "country", "mail", "comment", "url1", "url2", "url3",
        "urlname1", "urlname2", "urlname3")
PLAIN = {"realname": "Taro", "country": "JP", "mail": "t@x.jp", "comment": "hello",
         "url1": "http://a.example/", "url2": "http://b.example/", "url3": "http://c.example/",
         "urlname1": "A", "urlname2": "B", "urlname3": "C"}


def escaped(typed):
    """A typed text as the gate stores it."""
    return (typed.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;").replace(" ", "&nbsp;"))


def case(label, session="site1", member="taro", password="secret", saved=None, **stored):
    """One row: the typed session, id and password; the record's stored values; and what
    an unchanged save stores for values the form cannot carry as they are."""
    return label, session, member, password, dict(PLAIN, **stored), dict(saved or {})


CASES = (
    case("plain values"),
    case("stored spaces", realname="Taro&nbsp;Yamada", comment="&nbsp;a&nbsp;&nbsp;b",
         urlname1="My&nbsp;Blog"),
    case("escaped markup and quotes", comment="&lt;b&gt;&amp;&quot;q&quot;&lt;/b&gt;",
         url1="http://a.example/?q=1&amp;r=2"),
    # A typed reference to a character beyond ASCII reads as one a browser sent for it.
    case("typed entity texts", comment="&amp;nbsp;&amp;lt;br&amp;gt;&amp;#160;",
         saved={"comment": "&amp;nbsp;&amp;lt;br&amp;gt;&#160;"}),
    case("characters outside Shift_JIS", realname="Jos&#233;", country="&#54620;&#44397;",
         comment="&#128512;&nbsp;&#20204;漢字", urlname1="caf&#233;",
         url1="http://a.example/caf&#233;"),
    case("typed ASCII, hexadecimal and malformed references",
         comment="&amp;#60;b&amp;#62;&amp;#xE9;&amp;#233"),
    case("line breaks become spaces", comment="one<br>two<br><br>three",
         saved={"comment": "one&nbsp;two&nbsp;&nbsp;three"}),
    # A multipart value loses its trailing white space when it is decoded.
    case("trailing space", comment="end&nbsp;<br>", saved={"comment": "end"}),
    case("double-byte text", realname="山田&nbsp;太郎", country="日本", comment="ソ表能予"),
    case("space in session, id and password", session="site one", member="taro yamada",
         password="pass word", realname="T&nbsp;Y"),
)


class ChangeProfileRoundTrip(unittest.TestCase):
    def fetch_form(self, site, session, member, password):
        """The change-profile form as the member asks for it, typing id and password."""
        head, page = split_reply(site.post_multipart(
            ("session", session), ("command", "changeprof1"), ("id", member), ("pw", password)))
        self.assertEqual(reply(page)[:len(head)], head)
        form = browser_form.read_form(page)
        self.assertEqual(("/cgi/orvanegate.exe", "POST", "multipart/form-data"),
                         (form.action, form.method, form.enctype))
        return form

    def test_unchanged_saves_keep_the_record(self):
        for label, session, member, password, stored, saved in CASES:
            with self.subTest(label):
                site = GateSite(self)
                if session != "site1":
                    site.write_session(escaped(session), "path=%s\r\nmembersdb=%s\r\n"
                                       % (site.leaves, site.members))
                member_file = escaped(member)
                site.write_member(member_file, pages.record(
                    ("id", member_file), ("pw", escaped(password)),
                    *((key, stored[key]) for key in KEYS)))
                after = pages.record(("id", member_file), ("pw", escaped(password)),
                                     *((key, saved.get(key, stored[key])) for key in KEYS))
                for save in (1, 2):
                    form = self.fetch_form(site, session, member, password)
                    answer = site.post_multipart(*form.parts())
                    shown = {key: pages.sj(saved.get(key, stored[key])) for key in KEYS}
                    site.assert_page(pages.profile_page(member_file, shown), answer)
                    self.assertEqual(after, site.read_member(member_file), "save %d" % save)
                self.assertEqual([pages.sj(member_file) + b".txt"], site.member_files())


class BrowserFormReading(unittest.TestCase):
    """The helper itself must read values the way a browser does."""

    def test_values_are_decoded_as_html_and_sent_in_shift_jis(self):
        page = ('<form action="/x" method="post" enctype="multipart/form-data">'
                '<input type=hidden name="h" value="a&nbsp;b&amp;c">'
                '<input type="text" name="t" Value="x&#10;y&lt;br&gt;表">'
                '<input type=submit value="go"></form>'
                '<input name="after" value="ignored">').encode("cp932")
        form = browser_form.read_form(page)
        self.assertEqual(("/x", "POST", "multipart/form-data"),
                         (form.action, form.method, form.enctype))
        self.assertEqual([(b"h", b"a&#160;b&c"), (b"t", b"xy<br>" + "表".encode("cp932"))],
                         form.parts())


if __name__ == "__main__":
    unittest.main()
