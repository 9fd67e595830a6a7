"""Expected pages, records and request bodies of the gate, built independently of it.

Every Japanese text is written here in UTF-8 and encoded with cp932, so the bytes the
gate sends are compared against an encoding it did not make itself.
"""

import re
import sys

CRLF = b"\r\n"
LOOSE_DTD = "http://www.w3.org/TR/html4/loose.dtd"
META = '<META http-equiv="Content-Type" content="text/html; charset=Shift_JIS"></head>'

# The gate's messages, in the cp932 bytes it must send.
NO_DATA = "no data データがありません"
NO_SESSION = "The session does not exist. セッションが存在しません"
NO_MEMBERDB = "MemberDB does not exist. メンバーデータが存在しません"
BLANK = "There is a blank. 空欄があります"
BAD_ID_CHARS = "The ID contains characters that cannot be used. ＩＤに使用できない文字が含まれています"
PW_MISMATCH = "The password is wrong. パスワードの入力エラー"
PW_SHORT = "Password must be five or more characters. パスワードは５文字以上で"
ID_TAKEN = "The same ID is already registered. 同じＩＤが既に登録されています"
PW_ID_MISSING = "The ID does not exist. ＩＤが存在しません"
NEW_PW_MISMATCH = "A new password is different. 新パスワードの入力エラー"
PW_NOT_CHANGED = "password was not changed. 変更できませんでした"
ID_PW_REQUIRED = "ID and password are required. ID,PWは必須です"
PROF_ID_MISSING = "ID does not exist. ＩＤが存在しません"
PROF_NOT_CHANGED = "profile was not changed. 変更できませんでした"
NO_MEMBER = "The member does not exist.メンバーが存在しません"
LEAF_WRONG_PW = "The password is wrong. パスワードが違います"
NO_ATTACHMENT = "There is no attached file. 添付ファイルがありません"
UNSTORABLE = "The attached file cannot be stored under this name. この名前の添付ファイルは保存できません"
NO_FILE_NAME = "No file name is available. ファイル名を割り当てられません"
COUNTER_UNUSABLE = "The file counter cannot be used now. カウンターファイルを使用できません"
ENTRY_TOO_LONG = "The entry is too long. 入力が長すぎます"
CROSS_SITE = "The form was sent from another site. 他のサイトから送信されたフォームは受け付けません"
TOO_MANY_WRONG = ("Too many wrong passwords. Try again in a minute. "
                  "パスワードの誤りが続きました。1分後にもう一度お試しください")
TOO_MANY_REGISTRATIONS = ("Too many registrations from your network. Try again later. "
                          "登録が多すぎます。しばらくしてから再度お試しください")


def sj(text):
    """Text as the gate's Shift_JIS bytes; bytes pass unchanged."""
    return text if isinstance(text, bytes) else text.encode("cp932")


def lines(*items):
    return b"".join(sj(item) + CRLF for item in items)


def error_page(message):
    return lines("<html><head><title>error</title>", META,
                 b"<body><h3>ERROR: " + sj(message) + b"</h3>", "</body></html>")


def registration_accepted_page():
    return lines("<html><head><title>Registration acceptance</title>", META,
                 "<body><h3>ACCEPTED. 登録を受け付けました</h3>",
                 '<form><input type="button" value="close 閉じる" onclick="window.close()"></form>',
                 "</body></html>")


def file_accepted_page():
    return lines("<html><head><title>File acceptance</title>", META,
                 "<body><h3>ACCEPTED. ファイルを受け付けました</h3>", "</body></html>")


def profile_page(member_id, record):
    """record: dict of bytes values; missing keys read as empty."""
    value = lambda key: sj(record.get(key, b""))
    rows = [("id", sj(member_id)), ("name", value("realname")), ("country", value("country")),
            ("profile", value("comment"))]
    for n in "123":
        url = value("url" + n)
        rows.append((value("urlname" + n), b'<a href="' + url + b'"  target="_blank"> ' + url + b"</a>"))
    out = [('<!DOCTYPE html PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN" "' + LOOSE_DTD + '">'
            '<html lang="ja"> <head><title>Profile <#filename></title><META http-equiv="Content-Type"'
            ' content="text/html; charset=Shift_JIS"><base target="_self"></head><body>'),
           '<table border="0" width="100%" cellspacing="1" cellpadding="2">']
    for label, cell in rows:
        out += ['<tr><td width="6%" bgcolor="#999999" align="left"><font size="2" color="#F0F0F0"><b>',
                sj(label),
                '</b></font></td><td width="90%" bgcolor="#CCCCCC" align="left"><font size="2">',
                cell + b"</font></td></tr>"]
    out.append("</table></body></html>")
    return lines(*out)


HINTED = ("urlname1", "url1")


def form_value(stored):
    """A stored value as the change-profile form shows it: a stored space ("&nbsp;") and
    line break ("<br>") become the plain space a text input can send back."""
    return sj(stored).replace(b"&nbsp;", b" ").replace(b"<br>", b" ")


def change_profile_form_lines(session, member_id, record):
    """The form's lines; the two example hints after urlname1 and url1 are left to the
    gate, so their lines hold only the fixed prefix (ending in '"> ') and are matched
    as prefixes by assert_form. Values are given as stored."""
    value = lambda key: form_value(record.get(key, b""))
    out = ['<!DOCTYPE html PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN"',
           ' "' + LOOSE_DTD + '"><html lang="ja">',
           "<head><title>Orvane Change Profile<#filename></title>", META,
           '<body bgcolor="#FFFFFF"><h4>■プロフィール変更</h4>', "",
           '<form name="SendForm" action="/cgi/orvanegate.exe" method="POST" ENCTYPE="multipart/form-data">',
           b'<input type=hidden name="session" value="' + form_value(session) + b'">',
           '<input type=hidden name="command" value="changeprof2">', "",
           '<font size="2">', '<table border="0" cellpadding="0" cellspacing="0" width="100%">', ""]

    def row(label, field, kind, size, val):
        head = [sj('    <tr><td height="30" width="160" align="right">&nbsp; ' + label + "</td>"),
                b'    <td width="6"></td>']
        cell = sj('    <td><input type="%s" name="%s" size="%s" Value="' % (kind, field, size)) + val
        if field in HINTED:
            return head + [(cell + b'"> ', "prefix"), b"    </td></tr>", b""]
        return head + [cell + b'"></td></tr>', b""]

    out += row("ＩＤ", "id", "text", 20, form_value(member_id))
    out += row("パスワード", "pw", "password", 15, value("pw"))
    out += row("名前", "realname", "text", 20, value("realname"))
    out += row("国", "country", "text", 20, value("country"))
    out += row("一行自己紹介", "comment", "text", 100, value("comment"))
    out += row("メールアドレス", "mail", "text", 50, value("mail"))
    out += ["    <tr><td></td><td></td><td>",
            "    ●ＵＲＬは、ホームページ、ブログ、ＳＮＳなどのアドレス(省略可)<br>",
            "    </td></tr>", ""]
    for n in "123":
        out += row("URL%sのタイトル" % n, "urlname" + n, "text", 50, value("urlname" + n))
        out += row("URL" + n, "url" + n, "text", 50, value("url" + n))
    out += ['    <tr><td height="50" width="160"></td><td width="6"></td>',
            '    <td><input type=submit value="　　登録　　"></td></tr>', "",
            "</table></font></form></body></html>"]
    return out


def record(*pairs):
    """A member record file's bytes from (name, value) pairs, CR LF after every line."""
    return lines(*(sj(name) + b"=" + sj(val) for name, val in pairs))


def registration_record(member_id, pw, realname, country, mail):
    return record(("id", member_id), ("pw", pw), ("realname", realname), ("country", country),
                  ("mail", mail))


def leaf_record(*items):
    """A leaf record file's bytes holding the form lines given."""
    return lines("<qelkeys>", *items, "", "</qelkeys>")


LEAF_IMAGE = b"\x89PNG\x00\r\n&\x1a\nimage"


def leaf_posting(upload=(b"photo.jpg", b"image/jpeg", LEAF_IMAGE), member=b"m1",
                 password=b"secret", extra=()):
    """The multipart parts of a postleaf form; upload None sends no file part."""
    parts = [(b"session", b"site1"), (b"command", b"postleaf"), (b"id", member),
             (b"pw", password)]
    if upload is not None:
        parts.append((b"upfile",) + tuple(upload))
    return parts + list(extra)


def urlencoded(*pairs):
    """A URL-encoded body from (name, value) pairs; values are bytes or text, encoded
    with %XX for every byte outside the unreserved ASCII set."""
    def enc(text):
        out = []
        for byte in sj(text):
            ch = chr(byte)
            if ch.isascii() and (ch.isalnum() or ch in "-_.~"):
                out.append(ch)
            else:
                out.append("%%%02X" % byte)
        return "".join(out)
    return "&".join(enc(name) + "=" + enc(val) for name, val in pairs).encode("ascii")


BOUNDARY = b"----orvaneFormBoundary7MA4YWxk"


def multipart(*parts, boundary=BOUNDARY):
    """A multipart/form-data body. Each part is (name, value) for a text field or
    (name, filename, content_type, data) for a file."""
    out = b""
    for part in parts:
        out += b"--" + boundary + CRLF
        if len(part) == 2:
            name, val = part
            out += b'Content-Disposition: form-data; name="' + sj(name) + b'"' + CRLF + CRLF
            out += sj(val) + CRLF
        else:
            name, filename, ctype, data = part
            out += (b'Content-Disposition: form-data; name="' + sj(name) + b'"; filename="' +
                    sj(filename) + b'"' + CRLF + b"Content-Type: " + sj(ctype) + CRLF + CRLF)
            out += data + CRLF
    return out + b"--" + boundary + b"--" + CRLF


def multipart_type(boundary=BOUNDARY):
    return "multipart/form-data; boundary=" + boundary.decode("ascii")


def hash_checked(record, password, stand_in=b"{}"):
    """The record with its pwhash line, a hash of the password with the gate's parameters
    (checked by argon2-cffi), replaced by stand_in."""
    try:
        import argon2
    except ImportError:  # an interpreter other than Debian's, which holds python3-argon2
        sys.path.append("/usr/lib/python3/dist-packages")
        import argon2
    found = re.search(rb"(?:^|\n)pwhash=(\$argon2id\$v=19\$m=19456,t=2,p=1\$[A-Za-z0-9+/]{22}\$"
                      rb"[A-Za-z0-9+/]{43})\r\n", record)
    if found is None:
        raise AssertionError("no pwhash line the gate writes in %r" % record)
    argon2.PasswordHasher().verify(found.group(1), password)
    return record.replace(b"pwhash=" + found.group(1), stand_in, 1)
