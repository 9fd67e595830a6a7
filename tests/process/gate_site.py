"""A gate site in a fresh temporary directory: the executable, config.txt, one site's
settings, its leaf and member directories, and requests run against it."""

import dataclasses
import os
import re

import cgi_harness
import gate_pages as pages

FORM_TYPE = "application/x-www-form-urlencoded"
SCRIPT_NAME = "/cgi/orvanegate.exe"
# The operator's line of one wrong password.
REFUSAL_LINE = re.compile(
    rb"orvanegate: (wrong password|too many wrong passwords): address \S+ id \S+ command \S+\n"
    rb"|orvanegate: too many registrations: address \S+ session \S+\n")


class GateSite(cgi_harness.Site):
    """Layout under the temporary root:
    config.txt, sessions/site1.txt, leaves/, members/, dumps/ (when dumping)."""

    def __init__(self, test, dump=False, config=True):
        super().__init__()
        test.addCleanup(self.remove)
        self.test = test
        self.sessions = os.path.join(self.root, "sessions")
        self.members = os.path.join(self.root, "members")
        self.leaves = os.path.join(self.root, "leaves")
        self.dumps = os.path.join(self.root, "dumps")
        for d in (self.sessions, self.members, self.leaves):
            os.mkdir(d)
        if dump:
            os.mkdir(self.dumps)
        if config:
            text = "sessiondb=" + self.sessions + "\r\n"
            if dump:
                text += "dumppath=" + self.dumps + "\r\n"
            self.write_config(text.encode())
        self.write_session("site1", "path=%s\r\nmembersdb=%s\r\n" % (self.leaves, self.members))

    # --- files -----------------------------------------------------------------
    # Paths under the site inside configuration texts are written as the executable names
    # them (cgi_harness.native_text).
    def write_config(self, data):
        self.write("config.txt", cgi_harness.native_text(data, self.root))

    def write_session(self, name, text):
        name_b = cgi_harness.host_name(pages.sj(name))
        with open(os.path.join(os.fsencode(self.sessions), name_b + b".txt"), "wb") as f:
            f.write(cgi_harness.native_text(pages.sj(text), self.root))

    def set_settings(self, **settings):
        """Rewrites site1's settings: its directories, each with a trailing delimiter, and
        the keys given."""
        self.write_session("site1", "path=%s/\r\nmembersdb=%s/\r\n" % (self.leaves, self.members)
                           + "".join("%s=%s\r\n" % item for item in settings.items()))

    def member_path(self, member_id):
        name = cgi_harness.host_name(pages.sj(member_id))
        return os.path.join(os.fsencode(self.members), name + b".txt")

    def write_member(self, member_id, data):
        with open(self.member_path(member_id), "wb") as f:
            f.write(data)

    def read_member(self, member_id):
        with open(self.member_path(member_id), "rb") as f:
            return f.read()

    def member_files(self):
        """The members directory's files but the lock files and the directory of counts,
        which stay by design."""
        return sorted(name for name in os.listdir(os.fsencode(self.members))
                      if name not in (b".members.lock", b".guesses.lock", b".guesses"))

    def count_files(self):
        """The files in the directory of counts, as paths below it with "/"."""
        top = os.path.join(os.fsencode(self.members), b".guesses")
        return sorted(os.path.relpath(os.path.join(d, name), top).replace(os.sep.encode(), b"/")
                      for d, _, names in os.walk(top) for name in names)

    def leaf_files(self):
        """The leaf directory as {file name: bytes}, but idle posting slots (empty .leaf<k>
        files kept for the next posting)."""
        files = {name: self.read(os.path.join("leaves", name)) for name in os.listdir(self.leaves)
                 if os.path.isfile(os.path.join(self.leaves, name))}
        return {name: data for name, data in files.items() if not is_idle_slot(name, data)}

    def dump_files(self):
        """(day directory name, file name, bytes) of every dump, sorted."""
        found = []
        for day in sorted(os.listdir(self.dumps)) if os.path.isdir(self.dumps) else []:
            day_dir = os.path.join(self.dumps, day)
            if os.path.isdir(day_dir):
                found += [(day, name, self.read(os.path.join(day_dir, name)))
                          for name in sorted(os.listdir(day_dir))]
        return found

    # --- requests --------------------------------------------------------------
    def post_env(self, body, query=None, content_type=FORM_TYPE, content_length=None):
        """The CGI variables of a POST of body; content_length overrides its real length."""
        length = len(body) if content_length is None else content_length
        return cgi_harness.cgi_env("POST", query=query, content_length=length,
                                   CONTENT_TYPE=content_type, SCRIPT_NAME=SCRIPT_NAME)

    def post(self, body, query=None, content_type=FORM_TYPE, content_length=None):
        return self.answer(self.post_env(body, query, content_type, content_length), body)

    def post_form(self, *pairs, **kwargs):
        return self.post(pages.urlencoded(*pairs), **kwargs)

    def post_multipart(self, *parts):
        return self.post(pages.multipart(*parts), content_type=pages.multipart_type())

    def post_logged(self, body, content_type=FORM_TYPE):
        """(standard output, standard error) of a POST answered with status 500, which
        writes the operator's log line to standard error; it must still exit with 0."""
        result = self.run(self.post_env(body, content_type=content_type), body)
        self.test.assertEqual(0, result.exit_code, result.stderr)
        return result.stdout, result.stderr

    def get(self, query):
        return self.answer(cgi_harness.cgi_env("GET", query=query, SCRIPT_NAME=SCRIPT_NAME))

    def answer(self, env, stdin=b""):
        """The gate's standard output; it must exit with 0 and write nothing else."""
        return self.checked(self.run(env, stdin))

    def checked(self, result):
        """The standard output of a finished run that exited with 0 and wrote no stderr but
        wrong-password and refusal lines, which the counting tests check where they matter."""
        cgi_harness.check_stderr(self.test, dataclasses.replace(
            result, stderr=REFUSAL_LINE.sub(b"", result.stderr)))
        self.test.assertEqual(0, result.exit_code,
                              "stdout: " + cgi_harness.escape_bytes(result.stdout[:400]))
        return result.stdout

    def run_together(self, bodies, content_type=FORM_TYPE):
        """Runs one POST per body in processes started at once; their outputs in order."""
        children = [self.start(self.post_env(body, content_type=content_type)) for body in bodies]
        # Every process is running and waiting for its body before any body is sent.
        for child, body in zip(children, bodies):
            child.stdin.write(body)
            child.stdin.close()
            child.stdin = None  # closed already: communicate must not flush it
        outputs = []
        for child, body in zip(children, bodies):
            result = cgi_harness.finish(child, timeout=30)
            if cgi_harness.wine_start_failed(result):  # it runs again on its own
                result = self.run(self.post_env(body, content_type=content_type), body)
            outputs.append(self.checked(result))
        return outputs

    # --- expectations ----------------------------------------------------------
    def assert_page(self, page, actual):
        cgi_harness.assert_bytes_equal(reply(page), actual)

    def assert_error(self, message, actual):
        self.assert_page(pages.error_page(message), actual)


def is_idle_slot(name, data):
    """A posting slot file with no note: kept for the next posting, no leaf."""
    return re.fullmatch(r"\.leaf\d+", name) is not None and not data


def leaf_site(test, **settings):
    """A site for postings: config and site1's settings name their directories with a
    trailing delimiter, site1 has the settings given and member m1 the password secret."""
    site = GateSite(test)
    site.write_config(b"sessiondb=%s/\r\n" % site.sessions.encode())
    site.set_settings(**settings)
    site.write_member("m1", b"id=m1\r\npw=secret\r\n")
    return site


def reply(page, status="200 OK"):
    """The CGI reply of a page with the gate's headers."""
    head = b"Status: " + status.encode() + b"\r\nContent-Type: text/html\r\n"
    if page:
        head += b"Content-Length: %d\r\n" % len(page)
    return head + b"Content:\r\n\r\n" + page


def log_line(class_name, message, method="POST"):
    """The operator's log line of a status-500 answer to the gate's script."""
    return (b"orvanegate: status 500: " + pages.sj(class_name) + b": " + pages.sj(message) +
            b" (request: " + method.encode() + b" " + SCRIPT_NAME.encode() + b")\n")


def split_reply(actual):
    """(header block, page) of a reply."""
    head, sep, page = actual.partition(b"Content:\r\n\r\n")
    return head + sep, page
