"""A gate site in a fresh temporary directory: the executable, config.txt, one site's
settings, its leaf and member directories, and requests run against it."""

import os
import subprocess

import cgi_harness
import gate_pages as pages


class GateSite:
    """Layout under the temporary root:
    config.txt, sessions/site1.txt, leaves/, members/, dumps/ (when dumping)."""

    def __init__(self, test, dump=False, config=True):
        self.test = test
        self.cgi = cgi_harness.make_site()  # temp dir with a copy of the executable
        test.addCleanup(self.cgi.remove)
        self.root = self.cgi.root
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
    def write_config(self, data):
        self.cgi.write("config.txt", data)

    def write_session(self, name, text):
        name_b = pages.sj(name)
        with open(os.path.join(os.fsencode(self.sessions), name_b + b".txt"), "wb") as f:
            f.write(pages.sj(text))

    def member_path(self, member_id):
        return os.path.join(os.fsencode(self.members), pages.sj(member_id) + b".txt")

    def write_member(self, member_id, data):
        with open(self.member_path(member_id), "wb") as f:
            f.write(data)

    def read_member(self, member_id):
        with open(self.member_path(member_id), "rb") as f:
            return f.read()

    def member_files(self):
        return sorted(os.listdir(os.fsencode(self.members)))

    def dump_files(self):
        """(day directory name, file name, bytes) of every dump, sorted."""
        found = []
        if not os.path.isdir(self.dumps):
            return found
        for day in sorted(os.listdir(self.dumps)):
            day_dir = os.path.join(self.dumps, day)
            if not os.path.isdir(day_dir):
                continue
            for name in sorted(os.listdir(day_dir)):
                with open(os.path.join(day_dir, name), "rb") as f:
                    found.append((day, name, f.read()))
        return found

    # --- requests --------------------------------------------------------------
    def environment(self, method, body, query, content_type, content_length):
        env = {"REQUEST_METHOD": method, "SERVER_PROTOCOL": "HTTP/1.1", "PATH_INFO": "",
               "SCRIPT_NAME": "/cgi/orvanegate.exe"}
        if query is not None:
            env["QUERY_STRING"] = query
        if body is not None or content_length is not None:
            env["CONTENT_LENGTH"] = str(len(body or b"") if content_length is None else content_length)
            env["CONTENT_TYPE"] = content_type
        return env

    def post(self, body, query=None, content_type="application/x-www-form-urlencoded",
             content_length=None):
        env = self.environment("POST", body, query, content_type, content_length)
        return self.run(env, body or b"")

    def run(self, env, stdin):
        """The gate's standard output; it must exit with 0 and write nothing else."""
        result = self.cgi.run(env, stdin)
        self.test.assertEqual(0, result.exit_code, cgi_harness.escape_bytes(result.stderr))
        self.test.assertEqual(b"", result.stderr)
        return result.stdout

    def post_form(self, *pairs, **kwargs):
        return self.post(pages.urlencoded(*pairs), **kwargs)

    def post_multipart(self, *parts):
        return self.post(pages.multipart(*parts), content_type=pages.multipart_type())

    def get(self, query):
        return self.run(self.environment("GET", None, query, "", None), b"")

    def run_together(self, bodies, content_type="application/x-www-form-urlencoded"):
        """Runs one POST per body in processes started at once; their outputs in order."""
        children = []
        for body in bodies:
            env = dict(cgi_harness.sanitizer_environment())
            env.update(self.environment("POST", body, None, content_type, None))
            children.append(subprocess.Popen([self.cgi.exe], env=env, cwd=self.root,
                                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                             stderr=subprocess.PIPE))
        # Every process is running and waiting for its body before any body is sent.
        for child, body in zip(children, bodies):
            child.stdin.write(body)
            child.stdin.close()
            child.stdin = None  # closed already: communicate must not flush it
        outputs = []
        for child in children:
            out, err = child.communicate(timeout=30)
            self.test.assertEqual(0, child.returncode, cgi_harness.escape_bytes(err))
            self.test.assertEqual(b"", err)
            outputs.append(out)
        return outputs

    # --- expectations ----------------------------------------------------------
    def assert_reply(self, page, actual, status="200 OK"):
        cgi_harness.assert_bytes_equal(reply(page, status), actual)

    def assert_page(self, page, actual):
        self.assert_reply(page, actual)

    def assert_error(self, message, actual):
        self.assert_reply(pages.error_page(message), actual)


def reply(page, status="200 OK"):
    """The CGI reply of a page with the gate's headers."""
    head = b"Status: " + status.encode() + b"\r\nContent-Type: text/html\r\n"
    if page:
        head += b"Content-Length: %d\r\n" % len(page)
    return head + b"Content:\r\n\r\n" + page


def split_reply(actual):
    """(header block, page) of a reply."""
    head, sep, page = actual.partition(b"Content:\r\n\r\n")
    return head + sep, page
