#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""HTTPS exchanges on the loopback addresses, with Python's ssl on both sides
writing their key logs: the traffic the TLS tests capture.

  tlstraffic.py DIR PORT EXCHANGE...

EXCHANGE is FAMILY:VERSION:REQUEST:RESPONSE (4 or 6; 12 or 13; body sizes in
bytes). Each runs on a connection of its own, all at once; the server answers
on 127.0.0.1 and ::1, PORT. DIR holds cert.pem and key.pem, and gets
python-keys.log and, for exchange i, sent-i-request.bin and
sent-i-response.bin: what each side's application sent (and what the other
received: the script fails otherwise). Prints "ok" when every exchange went
through.
"""

import os
import random
import socket
import ssl
import sys
import threading


def message(first_line, body):
    return (first_line + "\r\nContent-Length: %d\r\n\r\n" % len(body)).encode() + body


def read_message(stream):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = stream.recv(65536)
        if not chunk:
            raise EOFError("closed in the header")
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(body) < length:
        chunk = stream.recv(65536)
        if not chunk:
            raise EOFError("closed in the body")
        body += chunk
    return head, body


def main():
    folder, port, exchanges = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    keylog = os.path.join(folder, "python-keys.log")
    plans = []
    for index, text in enumerate(exchanges):
        family, version, request, response = text.split(":")
        generator = random.Random(index)
        plans.append({
            "family": socket.AF_INET if family == "4" else socket.AF_INET6,
            "tls12": version == "12",
            "request": message("PUT /%d HTTP/1.1\r\nHost: localhost" % index,
                               generator.randbytes(int(request))),
            "response": message("HTTP/1.1 200 OK", generator.randbytes(int(response))),
        })
    for index, plan in enumerate(plans):
        for part in ("request", "response"):
            with open(os.path.join(folder, "sent-%d-%s.bin" % (index, part)), "wb") as out:
                out.write(plan[part])

    server_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server_context.load_cert_chain(os.path.join(folder, "cert.pem"),
                                   os.path.join(folder, "key.pem"))
    server_context.keylog_filename = keylog
    listeners = []
    for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((address, port))
        listener.listen(64)
        listener.settimeout(60)
        listeners.append(listener)
    failures = []

    def answer(connection):
        try:
            with server_context.wrap_socket(connection, server_side=True) as stream:
                head, body = read_message(stream)
                index = int(head.split(b" ")[1][1:])
                if head + b"\r\n\r\n" + body != plans[index]["request"]:
                    failures.append("server %d: not the request sent" % index)
                stream.sendall(plans[index]["response"])
                stream.unwrap()
        except Exception as error:  # noqa: BLE001 - every failure is reported
            failures.append("server: %r" % error)

    def serve(listener, count):
        handlers = []
        for _ in range(count):
            connection, _ = listener.accept()
            handler = threading.Thread(target=answer, args=(connection,))
            handler.start()
            handlers.append(handler)
        for handler in handlers:
            handler.join()

    def ask(index, plan):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.keylog_filename = keylog
        if plan["tls12"]:
            context.maximum_version = ssl.TLSVersion.TLSv1_2
        address = "127.0.0.1" if plan["family"] == socket.AF_INET else "::1"
        try:
            with socket.create_connection((address, port), timeout=60) as connection:
                with context.wrap_socket(connection) as stream:
                    stream.sendall(plan["request"])
                    head, body = read_message(stream)
                    if head + b"\r\n\r\n" + body != plan["response"]:
                        failures.append("client %d: not the response sent" % index)
                    try:
                        stream.unwrap()
                    except (ssl.SSLError, OSError):
                        pass
        except Exception as error:  # noqa: BLE001
            failures.append("client %d: %r" % (index, error))

    servers = [threading.Thread(target=serve, args=(listeners[i], sum(
        1 for plan in plans if plan["family"] == family)))
        for i, family in enumerate((socket.AF_INET, socket.AF_INET6))]
    for server in servers:
        server.start()
    clients = [threading.Thread(target=ask, args=(i, plan)) for i, plan in enumerate(plans)]
    for client in clients:
        client.start()
    for thread in clients + servers:
        thread.join()
    for listener in listeners:
        listener.close()
    if failures:
        print("\n".join(failures))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
