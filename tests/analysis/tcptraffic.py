#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The traffic that tst_tcpanalysis captures, on 127.0.0.1 and ::1 of the
network namespace it runs in:

    tcptraffic.py LOSSY MISSED STALLED RESET CLIENT_PORT

On LOSSY and MISSED, four transfers of 3 MiB each way (two per family). On
STALLED, a receiver with a small buffer that stops reading for a while,
and an idle connection whose client sends keep-alives. On RESET, three
connections that begin with a TLS ClientHello: the server resets the first
two, whose client uses CLIENT_PORT twice; the client resets the third,
leaving bytes unread. Says what failed, and exits with 1, when an exchange
did not go as planned."""

import socket
import ssl
import struct
import sys
import threading
import time

TRANSFER = 3 << 20
NAMES = ["first.tarnlook.test", "second.tarnlook.test", "six.tarnlook.test"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def host(family):
    return "::1" if family == socket.AF_INET6 else "127.0.0.1"


def stream(family, receive_buffer=0):
    s = socket.socket(family, socket.SOCK_STREAM)
    s.settimeout(30)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    return s


def listen(family, port, receive_buffer=0):
    s = stream(family, receive_buffer)
    s.bind((host(family), port))
    s.listen(16)
    return s


def receive_all(s):
    got = 0
    while True:
        data = s.recv(1 << 16)
        if not data:
            return got
        got += len(data)


def close(s, linger):
    # Linger 0: the connection ends with a RST; else close() returns once
    # the peer acknowledged everything, FIN included.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, linger))
    s.close()


def client_hello(name):
    outgoing = ssl.MemoryBIO()
    tls = ssl.create_default_context().wrap_bio(ssl.MemoryBIO(), outgoing, server_hostname=name)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:  # the answer: the hello is written
        pass
    return outgoing.read()


def transfers(port, family):
    server = listen(family, port)

    def serve():
        for _ in range(2):
            s, _ = server.accept()
            check(receive_all(s) == TRANSFER, "transfer to the server")
            s.sendall(b"y" * TRANSFER)
            close(s, 30)

    def client():
        s = stream(family)
        s.connect((host(family), port))
        s.sendall(b"x" * TRANSFER)
        s.shutdown(socket.SHUT_WR)
        check(receive_all(s) == TRANSFER, "transfer to the client")
        close(s, 30)

    return [serve, client, client]


def stalled(port):
    server = listen(socket.AF_INET, port, 4096)
    # The server takes the stalled transfer first: the idle client connects
    # only once the sender has.
    sender_connected = threading.Event()

    def serve():
        s, _ = server.accept()
        time.sleep(0.8)  # the pause is the traffic, not a wait for it
        check(receive_all(s) == TRANSFER, "stalled transfer")
        close(s, 30)
        idle, _ = server.accept()
        check(receive_all(idle) == 0, "idle connection")
        close(idle, 30)

    def sender():
        s = stream(socket.AF_INET)
        s.connect((host(socket.AF_INET), port))
        sender_connected.set()
        s.sendall(b"x" * TRANSFER)
        close(s, 30)

    def idle():
        s = stream(socket.AF_INET)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE, 1)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL, 1)
        sender_connected.wait(30)
        s.connect((host(socket.AF_INET), port))
        time.sleep(1.3)  # idle for a probe and its answer
        close(s, 30)

    return [serve, sender, idle]


def resets(port, client_port):
    servers = {family: listen(family, port) for family in (socket.AF_INET, socket.AF_INET6)}

    def run():
        for i, name in enumerate(NAMES):
            family = socket.AF_INET6 if i == 2 else socket.AF_INET
            hello = client_hello(name)
            client = stream(family)
            if i < 2:
                client.bind((host(family), client_port))
            client.connect((host(family), port))
            server, _ = servers[family].accept()
            client.sendall(hello)
            check(len(server.recv(len(hello), socket.MSG_WAITALL)) == len(hello), "hello")
            try:
                if i < 2:
                    close(server, 0)
                    client.recv(1)
                else:
                    server.sendall(b"z" * (1 << 16))
                    check(len(client.recv(1)) == 1, "a byte of the answer")
                    client.close()  # the rest unread
                    server.recv(1)
                failures.append("no reset of connection %d" % i)
            except ConnectionResetError:
                pass
            client.close()
            server.close()

    return [run]


def main():
    lossy, missed, stalled_port, reset_port, client_port = map(int, sys.argv[1:6])
    work = []
    for port in (lossy, missed):
        for family in (socket.AF_INET, socket.AF_INET6):
            work += transfers(port, family)
    work += stalled(stalled_port) + resets(reset_port, client_port)

    def guarded(step):
        try:
            step()
        except OSError as error:
            failures.append("%s: %s" % (step.__name__, error))

    threads = [threading.Thread(target=guarded, args=(step,)) for step in work]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        sys.exit("; ".join(failures))


main()
