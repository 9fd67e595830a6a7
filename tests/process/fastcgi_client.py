"""A small FastCGI client: sends one request as a web server does and reads the reply.

``request(address, params, stdin=b"", ...)`` connects to ``address`` (a Unix socket path,
or a ``(host, port)`` pair), sends BEGIN_REQUEST (responder role), the parameters, the body
as STDIN records, and returns a ``Reply`` (stdout, stderr, app_status, protocol_status) once
END_REQUEST arrives. ``body_chunk``/``stop_after`` let a test send part of a body and hang
up; ``read_reply=False`` hangs up before reading anything.
"""

import socket
import struct
from dataclasses import dataclass

VERSION = 1
BEGIN_REQUEST, ABORT_REQUEST, END_REQUEST, PARAMS, STDIN, STDOUT, STDERR = 1, 2, 3, 4, 5, 6, 7
RESPONDER = 1
REQUEST_ID = 1
# A record's content is at most 65535 bytes.
MAX_CONTENT = 65535


@dataclass
class Reply:
    stdout: bytes
    stderr: bytes
    app_status: int
    protocol_status: int


def record(kind, content, request_id=REQUEST_ID):
    """One record: header, content, padding to a multiple of 8."""
    padding = -len(content) % 8
    return (struct.pack(">BBHHBx", VERSION, kind, request_id, len(content), padding)
            + content + b"\0" * padding)


def stream(kind, data):
    """The records of a whole stream, closed by an empty record."""
    chunks = [data[i:i + MAX_CONTENT] for i in range(0, len(data), MAX_CONTENT)]
    return b"".join(record(kind, chunk) for chunk in chunks) + record(kind, b"")


def length_prefix(length):
    return bytes([length]) if length < 128 else struct.pack(">I", length | 0x80000000)


def encode_params(params):
    out = []
    for name, value in params.items():
        name = name.encode("latin-1") if isinstance(name, str) else name
        value = value.encode("latin-1") if isinstance(value, str) else value
        out.append(length_prefix(len(name)) + length_prefix(len(value)) + name + value)
    return b"".join(out)


def connect(address, timeout):
    if isinstance(address, tuple):
        conn = socket.create_connection(address, timeout=timeout)
    else:
        conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        conn.settimeout(timeout)
        try:
            conn.connect(address)
        except OSError:
            conn.close()
            raise
    return conn


def read_exactly(conn, count):
    data = bytearray()
    while len(data) < count:
        got = conn.recv(count - len(data))
        if not got:
            raise ConnectionError("the responder closed the connection mid-record")
        data += got
    return bytes(data)


def read_reply(conn):
    stdout, stderr = bytearray(), bytearray()
    while True:
        _, kind, _, length, padding = struct.unpack(">BBHHBx", read_exactly(conn, 8))
        content = read_exactly(conn, length + padding)[:length]
        if kind == STDOUT:
            stdout += content
        elif kind == STDERR:
            stderr += content
        elif kind == END_REQUEST:
            app_status, protocol_status = struct.unpack(">IB3x", content)
            return Reply(bytes(stdout), bytes(stderr), app_status, protocol_status)


def request(address, params, stdin=b"", timeout=20, stop_after=None, read_reply_too=True):
    """Send one request; with stop_after, only that many body bytes are sent and the
    connection is closed (no reply is read)."""
    conn = connect(address, timeout)
    try:
        head = record(BEGIN_REQUEST, struct.pack(">HB5x", RESPONDER, 0))
        conn.sendall(head + stream(PARAMS, encode_params(params)))
        if stop_after is not None:
            body = stdin[:stop_after]
            conn.sendall(b"".join(record(STDIN, body[i:i + MAX_CONTENT])
                                  for i in range(0, len(body), MAX_CONTENT)))
            return None
        conn.sendall(stream(STDIN, stdin))
        if not read_reply_too:
            return None
        return read_reply(conn)
    finally:
        conn.close()
