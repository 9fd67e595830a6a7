"""Posting a leaf (command postleaf) through the built executable, as a web server runs it."""

import datetime
import os
import re
import unittest

import cgi_harness
from cgi_harness import cgi_env

BOUNDARY = b"----orvaneFormBoundaryQ7x"
META = '<META http-equiv="Content-Type" content="text/html; charset=Shift_JIS"></head>'
IMAGE = b"\x89PNG\x00\r\n&\x1a\nimage"
STAMP = re.compile(rb"\d{8}-\d{6}-\d{3}")

NO_MEMBER = "The member does not exist.メンバーが存在しません"
WRONG_PASSWORD = "The password is wrong. パスワードが違います"
BLANK = "There is a blank. 空欄があります"
NO_ATTACHMENT = "There is no attached file. 添付ファイルがありません"
UNSTORABLE = "The attached file cannot be stored under this name. この名前の添付ファイルは保存できません"
NO_NAME = "No file name is available. ファイル名を割り当てられません"
COUNTER_UNUSABLE = "The file counter cannot be used now. カウンターファイルを使用できません"


def reply(page):
    """The whole standard output of a request answered with the page (str, sent as cp932)."""
    body = page.encode("cp932")
    return (b"Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
            b"Content:\r\n\r\n" % len(body)) + body


def error_reply(message):
    return reply("<html><head><title>error</title>\r\n" + META + "\r\n<body><h3>ERROR: "
                 + message + "</h3>\r\n</body></html>\r\n")


ACCEPTED_REPLY = reply("<html><head><title>File acceptance</title>\r\n" + META
                       + "\r\n<body><h3>ACCEPTED. ファイルを受け付けました</h3>\r\n"
                       "</body></html>\r\n")


def multipart(parts):
    """A multipart/form-data body: (name, value) text parts and
    (name, file name, content type, data) file parts, all bytes."""
    body = b""
    for part in parts:
        header = b'Content-Disposition: form-data; name="%s"' % part[0]
        if len(part) == 4:
            header += b'; filename="%s"\r\nContent-Type: %s' % (part[1], part[2])
        body += b"--" + BOUNDARY + b"\r\n" + header + b"\r\n\r\n" + part[-1] + b"\r\n"
    return body + b"--" + BOUNDARY + b"--\r\n"


def posting(upload=(b"photo.jpg", b"image/jpeg", IMAGE), member=b"m1", password=b"secret",
            extra=()):
    """The parts of a posting form; upload None sends no file part."""
    parts = [(b"session", b"site1"), (b"command", b"postleaf"), (b"id", member),
             (b"pw", password)]
    if upload is not None:
        parts.append((b"upfile",) + tuple(upload))
    return parts + list(extra)


def record(*lines):
    """A leaf record holding the form lines (bytes) given."""
    return b"<qelkeys>\r\n" + b"".join(line + b"\r\n" for line in lines) + b"\r\n</qelkeys>\r\n"


class PostLeafCase(cgi_harness.CgiTestCase):
    """A site site1 with member m1 (password secret) and an empty leaf directory."""

    def new_site(self, **settings):
        site = self.make_site()
        site.write("config.txt", b"sessiondb=%s/\r\n" % site.path("sessions").encode())
        site.write("members/m1.txt", b"id=m1\r\npw=secret\r\n")
        os.makedirs(site.path("leaves"))
        self.set_settings(site, **settings)
        return site

    @staticmethod
    def set_settings(site, **settings):
        text = "path=%s/\r\nmembersdb=%s/\r\n" % (site.path("leaves"), site.path("members"))
        text += "".join("%s=%s\r\n" % item for item in settings.items())
        site.write("sessions/site1.txt", text.encode())

    def post(self, site, parts, expected_reply):
        body = multipart(parts)
        env = cgi_env("POST", content_length=len(body),
                      CONTENT_TYPE="multipart/form-data; boundary=" + BOUNDARY.decode())
        result = self.run_cgi(site, env, body)
        self.assertEqual(result.exit_code, 0)
        self.assertBytesEqual(expected_reply, result.stdout, "reply")

    @staticmethod
    def leaves(site):
        """The leaf directory as {file name: bytes}."""
        folder = site.path("leaves")
        return {name: site.read(os.path.join("leaves", name))
                for name in os.listdir(folder) if os.path.isfile(os.path.join(folder, name))}

    def assertLeaves(self, site, expected):
        found = self.leaves(site)
        self.assertEqual(sorted(found), sorted(expected))
        for name, data in expected.items():
            self.assertBytesEqual(data, found[name], name)


class Refusals(PostLeafCase):
    def test_each_refusal_answers_its_message_and_writes_nothing(self):
        site = self.new_site()
        # Records that an id leaving the member directory would otherwise reach.
        for name in ("a\\m1", "c:m1", "m\x01x"):
            site.write("members/%s.txt" % name, b"id=x\r\npw=secret\r\n")
        site.write("leaves/fixed.jpg", b"taken")
        site.write("counter.txt", b"7")
        os.makedirs(site.path("counterdir"))
        site.write("default.TXT", b"not an image")
        gif = (b"a.gif", b"image/gif", IMAGE)
        blank = [(b"Blank-Title", b"  \r\n ")]
        counter = {"FileNameTemplate": "leaf####"}  # its default counter file must not appear
        cases = [
            ("unknown member", posting(member=b"m2"), {}, NO_MEMBER),
            ("id leaving the directory", posting(member=b"../members/m1"), {}, NO_MEMBER),
            ("id with a backslash", posting(member=b"a\\m1"), {}, NO_MEMBER),
            ("id with a colon", posting(member=b"c:m1"), {}, NO_MEMBER),
            ("id with a control byte", posting(member=b"m\x01x"), {}, NO_MEMBER),
            ("wrong password", posting(password=b"Secret"), counter, WRONG_PASSWORD),
            ("password before blanks", posting(password=b"", extra=blank), {}, WRONG_PASSWORD),
            ("blank before attachment", posting(upload=None, extra=blank), {}, BLANK),
            ("no file part", posting(upload=None), {}, NO_ATTACHMENT),
            ("image type not accepted", posting(upload=gif), {}, NO_ATTACHMENT),
            ("empty file", posting(upload=(b"a.jpg", b"image/jpeg", b"")), {}, NO_ATTACHMENT),
            ("no file name", posting(upload=(b"", b"image/png", IMAGE)), {}, NO_ATTACHMENT),
            ("text upload", posting(upload=(b"notes.TXT", b"image/png", IMAGE)), counter,
             UNSTORABLE),
            ("text default image", posting(upload=None),
             {"DefaultImgFile": site.path("default.TXT")}, UNSTORABLE),
            ("every name taken", posting(),
             {"FileNameTemplate": "fixed", "FileNameCounter": site.path("counter.txt")}, NO_NAME),
            ("counter is a directory", posting(),
             {"FileNameTemplate": "leaf#", "FileNameCounter": site.path("counterdir")},
             COUNTER_UNUSABLE),
        ]
        for label, parts, settings, message in cases:
            with self.subTest(label):
                self.set_settings(site, **settings)
                self.post(site, parts, error_reply(message))
                self.assertLeaves(site, {"fixed.jpg": b"taken"})
        self.assertEqual(site.read("counter.txt"), b"7")
        self.assertEqual(os.listdir(site.path("counterdir")), [])


class Naming(PostLeafCase):
    def test_counter_with_default_file_in_the_leaf_directory(self):
        site = self.new_site(FileNameTemplate="leaf####")
        self.post(site, posting(), ACCEPTED_REPLY)
        self.assertLeaves(site, {"counter.txt": b"1", "leaf0001.jpg": IMAGE,
                                 "leaf0001.txt": record(b"session=site1", b"id=m1",
                                                        b"upfile=photo.jpg")})

    def test_counter_skips_a_taken_name_and_stores_the_number_drawn(self):
        # A relative counter path resolves against the working directory, the site.
        site = self.new_site(FileNameTemplate="leaf####", FileNameCounter="own/c.txt",
                             nameorder="num3d")
        site.write("own/c.txt", b"41\r\n")
        site.write("leaves/leaf0042.txt", b"")
        self.post(site, posting(), ACCEPTED_REPLY)
        self.assertEqual(sorted(self.leaves(site)), ["leaf0042.txt", "leaf0043.jpg",
                                                     "leaf0043.txt"])
        self.assertEqual(site.read("own/c.txt"), b"43")

    def test_num3d_takes_the_first_number_neither_of_whose_files_exists(self):
        site = self.new_site(nameorder="num3d")
        site.write("leaves/001.jpg", b"")
        site.write("leaves/002.txt", b"")
        self.post(site, posting(), ACCEPTED_REPLY)
        self.assertEqual(sorted(self.leaves(site)), ["001.jpg", "002.txt", "003.jpg", "003.txt"])

    def test_time_stamp_names_the_leaf_without_template_or_num3d(self):
        site = self.new_site(nameorder="NUM3D")
        self.post(site, posting(), ACCEPTED_REPLY)
        names = sorted(self.leaves(site))
        self.assertEqual(len(names), 2, names)
        base = names[0][:-4].encode()
        self.assertRegex(base, b"^" + STAMP.pattern + b"$")
        self.assertEqual(names, [base.decode() + ".jpg", base.decode() + ".txt"])
        stamp = datetime.datetime.strptime(base.decode(), "%Y%m%d-%H%M%S-%f")
        self.assertLess(abs(stamp - datetime.datetime.now()), datetime.timedelta(days=1))


class StoredBytes(PostLeafCase):
    def test_image_and_record_bytes_are_stored_exactly(self):
        site = self.new_site(nameorder="num3d")
        form = [(b"title", b"a b <c>&\"d\" \r\n\t"), (b"pw", b"again"), (b"Note", b"x\r\ny"),
                (b"command", b"other"), (b"PW", b"again"), (b"blank-Who", b" \x82\xa0")]
        stored = (b"title=a&nbsp;b&nbsp;&lt;c&gt;&amp;&quot;d&quot;", b"Note=x<br>y",
                  b"blank-Who=&nbsp;\x82\xa0")
        images = [b"\x00", b"a\r\nb&c\x00\xff", b"ends in CR\r", b"ends in CR LF\r\n",
                  b"\r\n--" + BOUNDARY[:-1] + b"\r\n"]
        for number, data in enumerate(images, start=1):
            with self.subTest(data=data):
                self.post(site, posting(upload=(b"p.png", b"image/png", data), extra=form),
                          ACCEPTED_REPLY)
                found = self.leaves(site)
                self.assertBytesEqual(data, found["%03d.png" % number], "image")
                self.assertBytesEqual(record(b"session=site1", b"id=m1", b"upfile=p.png", *stored),
                                      found["%03d.txt" % number], "record")

    def test_upload_names_give_the_stored_extension_and_the_record_line(self):
        site = self.new_site(nameorder="num3d")
        cases = [  # name sent, extension stored, name in the record
            (b"README", b"", b"README"),
            (b"arc.tar.GZ", b".gz", b"arc.tar.GZ"),
            (b"trail.", b".", b"trail."),
            (b"Photo.JPG", b".jpg", b"Photo.JPG"),
            ("写真.JPEG".encode("cp932"), b".jpeg", "写真.JPEG".encode("cp932")),
            ("C:\\写真\\ソ.PnG".encode("cp932"), b".png", "ソ.PnG".encode("cp932")),
            ("a.ソ".encode("cp932"), ".ソ".encode("cp932"), "a.ソ".encode("cp932")),
            (b"C:\\dir.x\\img", b"", b"img"),
            (b"dir.x/img.Gif", b".gif", b"img.Gif"),
            (b"x.jpg:stream", b"", b"stream"),
        ]
        for number, (sent, ext, shown) in enumerate(cases, start=1):
            with self.subTest(sent=sent):
                self.post(site, posting(upload=(sent, b"image/pjpeg", IMAGE)), ACCEPTED_REPLY)
                found = self.leaves(site)
                base = b"%03d" % number
                self.assertBytesEqual(IMAGE, found[os.fsdecode(base + ext)], "image")
                self.assertBytesEqual(record(b"session=site1", b"id=m1", b"upfile=" + shown),
                                      found[os.fsdecode(base + b".txt")], "record")
        self.assertEqual(len(found), 2 * len(cases))

    def test_default_image_stands_in_for_a_missing_upload(self):
        site = self.new_site(nameorder="num3d")
        site.write("images/default.PNG", b"default\x00\r\n")
        self.set_settings(site, nameorder="num3d", DefaultImgFile=site.path("images/default.PNG"))
        gif = (b"a.gif", b"image/gif", IMAGE)
        self.post(site, posting(upload=None), ACCEPTED_REPLY)
        self.post(site, posting(upload=gif), ACCEPTED_REPLY)
        self.post(site, posting(), ACCEPTED_REPLY)
        plain = record(b"session=site1", b"id=m1")
        self.assertLeaves(site, {"001.png": b"default\x00\r\n", "001.txt": plain,
                                 "002.png": b"default\x00\r\n", "002.txt": plain,
                                 "003.jpg": IMAGE,
                                 "003.txt": record(b"session=site1", b"id=m1",
                                                   b"upfile=photo.jpg")})


if __name__ == "__main__":
    unittest.main()
