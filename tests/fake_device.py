"""A fake acl.ACLService device for the exporter's tests: an HTTP/2 server
(Debian's python3-h2) on 127.0.0.1 that speaks gRPC's framing by hand, so
that it can answer anything a hostile device might: any bytes as a table's
JSON, a message larger than announced limits, millions of tiny streamed
pieces, half a reply and then silence, or nothing at all.

    device = FakeDevice(answer)   # answer(table) -> Answer
    device.addr                   # "127.0.0.1:PORT"
    device.close()

Each connection is served by a thread of its own; every socket wait is
bounded, and close() ends them all.
"""

import select
import socket
import struct
import threading
import urllib.parse

import h2.config
import h2.connection
import h2.events
import h2.exceptions

PREFIX = "/acl.ACLService/GetJsonACL"
TICK = 0.05  # seconds a serving thread waits for the socket at a time


def message(result):
    """One gRPC message of a GetJsonReply whose result is `result` (bytes):
    the length-prefixed frame of the protobuf (field 1, length-delimited)."""
    size, varint = len(result), b""
    while True:
        byte = size & 0x7F
        size >>= 7
        varint += bytes([byte | (0x80 if size else 0)])
        if not size:
            break
    body = b"\x0a" + varint + result
    return b"\x00" + struct.pack(">I", len(body)) + body


class Answer:
    """What the device answers to one table's call.

    chunks:  bytes to send as the reply's DATA (gRPC-framed messages: see
             message()); an iterable, read lazily
    status:  the grpc-status of the trailers (0 = OK)
    text:    the grpc-message (percent-encoded here, as gRPC does)
    reason:  the acl-devhost-reason trailer, or None
    stall:   after the chunks, send nothing more and keep the stream open
    silent:  do not even answer the headers
    """

    def __init__(self, chunks=(), status=0, text="", reason=None,
                 stall=False, silent=False):
        self.chunks, self.status, self.text = chunks, status, text
        self.reason, self.stall, self.silent = reason, stall, silent


UNIMPLEMENTED = Answer(status=12, text="Service is unimplemented")


def table_of(path):
    name = path[len(PREFIX):] if path.startswith(PREFIX) else path
    return name.removesuffix("Stream")


class _Stream:
    def __init__(self, answer):
        self.answer = answer
        self.chunks = iter(answer.chunks)
        self.pending = b""
        self.done = False


class FakeDevice:
    """answer(table) gives each call's Answer (table: the method's name
    without GetJsonACL and Stream). mute=True: accept connections and
    never send a byte."""

    def __init__(self, answer, mute=False):
        self.answer, self.mute = answer, mute
        self.calls = []  # (table, token) of each call, in order
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.listener.settimeout(TICK)
        self.addr = "127.0.0.1:%d" % self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.threads = [threading.Thread(target=self._accept, daemon=True)]
        self.threads[0].start()

    def close(self):
        self.stopping.set()
        for t in list(self.threads):
            t.join(timeout=5)
        self.listener.close()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                sock, _ = self.listener.accept()
            except socket.timeout:
                continue
            t = threading.Thread(target=self._serve, args=(sock,),
                                 daemon=True)
            self.threads.append(t)
            t.start()

    def _serve(self, sock):
        try:
            if self.mute:
                sock.settimeout(TICK)
                while not self.stopping.is_set():
                    try:
                        if not sock.recv(65536):
                            break
                    except socket.timeout:
                        pass
                return
            self._serve_h2(sock)
        except (OSError, h2.exceptions.ProtocolError):
            pass
        finally:
            sock.close()

    def _serve_h2(self, sock):
        conn = h2.connection.H2Connection(h2.config.H2Configuration(
            client_side=False, header_encoding="utf-8",
            validate_outbound_headers=False))
        conn.initiate_connection()
        sock.sendall(conn.data_to_send())
        streams = {}
        while not self.stopping.is_set():
            wanted = any(s.pending or not s.done and not s.answer.silent
                         for s in streams.values())
            readable, _, _ = select.select([sock], [], [], 0 if wanted
                                           else TICK)
            if readable:
                data = sock.recv(1 << 16)
                if not data:
                    return
                for event in conn.receive_data(data):
                    self._on_event(conn, event, streams)
            for sid, stream in list(streams.items()):
                self._send(conn, sid, stream)
                if stream.done and not stream.pending:
                    del streams[sid]
            out = conn.data_to_send()
            if out:
                sock.sendall(out)

    def _on_event(self, conn, event, streams):
        if isinstance(event, h2.events.RequestReceived):
            headers = dict(event.headers)
            table = table_of(headers.get(":path", ""))
            self.calls.append((table, headers.get("token_id")))
            answer = self.answer(table)
            streams[event.stream_id] = _Stream(answer)
            if not answer.silent:
                conn.send_headers(event.stream_id, [
                    (":status", "200"), ("content-type", "application/grpc")])
        elif isinstance(event, h2.events.DataReceived):
            conn.acknowledge_received_data(event.flow_controlled_length,
                                           event.stream_id)
        elif isinstance(event, h2.events.StreamReset):
            streams.pop(event.stream_id, None)

    def _send(self, conn, sid, stream):
        """Sends one frame of the stream's answer, as the window allows."""
        answer = stream.answer
        if answer.silent:
            return
        if not stream.pending and not stream.done:
            stream.pending = next(stream.chunks, None)
            if stream.pending is None:
                stream.pending, stream.done = b"", True
                if not answer.stall:
                    trailers = [("grpc-status", str(answer.status)),
                                ("grpc-message", urllib.parse.quote(
                                    answer.text, safe=" "))]
                    if answer.reason is not None:
                        trailers.append(("acl-devhost-reason", answer.reason))
                    conn.send_headers(sid, trailers, end_stream=True)
                return
        if not stream.pending:
            return
        try:
            room = min(conn.local_flow_control_window(sid),
                       conn.max_outbound_frame_size)
        except h2.exceptions.StreamClosedError:
            stream.pending, stream.done = b"", True
            return
        if room > 0:
            conn.send_data(sid, stream.pending[:room])
            stream.pending = stream.pending[room:]
