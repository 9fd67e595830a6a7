"""A page's form submitted back unchanged, the way a browser does it.

``read_form(page)`` parses the first form of a Shift_JIS page with html.parser, which
decodes each attribute as HTML ("&nbsp;" becomes U+00A0, "&amp;" "&"). ``Form.parts()``
gives what a browser submits from it untouched: every named input that sends a value,
its value cleaned as the input type requires and encoded in cp932, where a character
cp932 cannot hold becomes a numeric character reference ("&#160;").
"""

import html.parser
from dataclasses import dataclass, field

# Inputs that send nothing when the form is submitted without clicking them.
NOT_SENT = ("submit", "button", "reset", "image", "file", "checkbox", "radio")
# A text or password box cannot hold a line break: a browser drops CR and LF.
SINGLE_LINE = ("text", "password", "search", "email", "url", "tel")


@dataclass
class Form:
    action: str = ""
    method: str = ""
    enctype: str = ""
    fields: list = field(default_factory=list)  # (name, type, value) as the browser holds them

    def parts(self):
        """(name bytes, value bytes) of every field a browser submits, in page order."""
        out = []
        for name, kind, value in self.fields:
            if kind in SINGLE_LINE:
                value = value.replace("\r", "").replace("\n", "")
            out.append((encode(name), encode(value)))
        return out

    def value(self, name):
        return next(v for n, _, v in self.fields if n == name)


def encode(text):
    """Text as a Shift_JIS page submits it."""
    return text.encode("cp932", errors="xmlcharrefreplace")


class _FormReader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.form = None
        self.done = False

    def handle_starttag(self, tag, attrs):
        attributes = {name: (value if value is not None else "") for name, value in attrs}
        if tag == "form" and self.form is None:
            self.form = Form(attributes.get("action", ""), attributes.get("method", "").upper(),
                             attributes.get("enctype", "").lower())
        elif tag == "input" and self.form is not None and not self.done:
            kind = attributes.get("type", "text").lower()
            if "name" in attributes and kind not in NOT_SENT:
                self.form.fields.append((attributes["name"], kind, attributes.get("value", "")))

    def handle_endtag(self, tag):
        if tag == "form" and self.form is not None:
            self.done = True


def read_form(page):
    """The first form of the page (bytes in Shift_JIS); AssertionError when it has none."""
    reader = _FormReader()
    reader.feed(page.decode("cp932", errors="replace"))
    reader.close()
    if reader.form is None:
        raise AssertionError("the page holds no form")
    return reader.form
