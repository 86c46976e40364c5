#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the seeds of fuzz_tlsrecord to fuzz/corpus/tlsrecord/: TLS 1.3
connections of each suite (with key updates both ways) and a TLS 1.2 one of
AES-GCM and of ChaCha20-Poly1305, encrypted with the fixed secrets the target
gives (byte 0x11 + label), and the same with a bit flipped in a record, a
record length over the limit, and a segment lost in front of a record.
Needs python3-cryptography. Run from the source tree's top folder."""

import hashlib
import hmac
import os
import struct

from cryptography.hazmat.primitives.ciphers.aead import AESGCM, ChaCha20Poly1305

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "tlsrecord")
MASTER, CLIENT_HS, SERVER_HS, CLIENT_AP, SERVER_AP = range(5)
SUITES13 = {0x1301: (AESGCM, 16, hashlib.sha256), 0x1302: (AESGCM, 32, hashlib.sha384),
            0x1303: (ChaCha20Poly1305, 32, hashlib.sha256)}


def secret(label, length):
    return bytes([0x11 + label]) * length


def hkdf_expand_label(hash_, key, label, length):
    info = struct.pack(">H", length) + bytes([len(b"tls13 " + label)]) + b"tls13 " + label + b"\0"
    out, block, i = b"", b"", 1
    while len(out) < length:
        block = hmac.new(key, block + info + bytes([i]), hash_).digest()
        out += block
        i += 1
    return out[:length]


def record(type_, body):
    return bytes([type_, 3, 3]) + struct.pack(">H", len(body)) + body


def handshake(type_, body):
    return bytes([type_]) + struct.pack(">I", len(body))[1:] + body


def client_hello(tls13):
    extensions = b""
    if tls13:
        extensions += struct.pack(">HHB", 43, 3, 2) + b"\x03\x04"
    body = b"\x03\x03" + bytes(range(32)) + b"\x00" + b"\x00\x04\x13\x01\x13\x02\x01\x00"
    body += struct.pack(">H", len(extensions)) + extensions
    return record(22, handshake(1, body))


def server_hello(suite, tls13):
    extensions = struct.pack(">HHH", 43, 2, 0x0304) if tls13 else b""
    body = b"\x03\x03" + bytes(range(100, 132)) + b"\x00" + struct.pack(">HB", suite, 0)
    body += struct.pack(">H", len(extensions)) + extensions
    return record(22, handshake(2, body))


class Sender13:
    def __init__(self, suite, label):
        self.aead, self.key_length, self.hash = SUITES13[suite]
        self.length = self.hash().digest_size
        self.keys(secret(label, self.length))

    def keys(self, traffic):
        self.traffic = traffic
        self.cipher = self.aead(hkdf_expand_label(self.hash, traffic, b"key", self.key_length))
        self.iv = hkdf_expand_label(self.hash, traffic, b"iv", 12)
        self.seq = 0

    def update(self):
        self.keys(hkdf_expand_label(self.hash, self.traffic, b"traffic upd", self.length))

    def seal(self, type_, content):
        plain = content + bytes([type_])
        header = bytes([23, 3, 3]) + struct.pack(">H", len(plain) + 16)
        nonce = bytes(a ^ b for a, b in zip(self.iv, b"\0\0\0\0" + struct.pack(">Q", self.seq)))
        self.seq += 1
        return header + self.cipher.encrypt(nonce, plain, header)


def prf(secret_, label, seed, length):
    seed = label + seed
    out, a = b"", seed
    while len(out) < length:
        a = hmac.new(secret_, a, hashlib.sha256).digest()
        out += hmac.new(secret_, a + seed, hashlib.sha256).digest()
    return out[:length]


class Sender12:
    def __init__(self, chacha, client):
        key_length, iv_length = (32, 12) if chacha else (16, 4)
        block = prf(secret(MASTER, 48), b"key expansion", bytes(range(100, 132)) + bytes(range(32)),
                    2 * (key_length + iv_length))
        keys = [block[:key_length], block[key_length:2 * key_length]]
        ivs = [block[2 * key_length:2 * key_length + iv_length], block[2 * key_length + iv_length:]]
        side = 0 if client else 1
        self.chacha = chacha
        self.cipher = (ChaCha20Poly1305 if chacha else AESGCM)(keys[side])
        self.iv = ivs[side]
        self.seq = 0

    def seal(self, type_, content):
        seq = struct.pack(">Q", self.seq)
        self.seq += 1
        aad = seq + bytes([type_, 3, 3]) + struct.pack(">H", len(content))
        if self.chacha:
            nonce = bytes(a ^ b for a, b in zip(self.iv, b"\0\0\0\0" + seq))
            return record(type_, self.cipher.encrypt(nonce, content, aad))
        return record(type_, seq + self.cipher.encrypt(self.iv + seq, content, aad))


def segments(flows, choice):
    """flows: (direction, bytes, lost) in order; bytes go in segments of at
    most 1400."""
    out = bytes([choice])
    for direction, data, lost in flows:
        for at in range(0, len(data), 1400):
            part = data[at:at + 1400]
            out += bytes([direction | (2 if lost else 0)]) + struct.pack(">H", len(part)) + part
    return out


def tls13(suite, flip=False, long_header=False, lose=False):
    server_hs = Sender13(suite, SERVER_HS)
    client_hs = Sender13(suite, CLIENT_HS)
    server = Sender13(suite, SERVER_AP)
    client = Sender13(suite, CLIENT_AP)
    flows = [(0, client_hello(True), False),
             (1, server_hello(suite, True) + record(20, b"\x01")
              + server_hs.seal(22, handshake(8, b"\0\0") + handshake(20, bytes(server_hs.length))),
              False),
             (0, record(20, b"\x01") + client_hs.seal(22, handshake(20, bytes(client_hs.length)))
              + client.seal(23, b"GET / HTTP/1.1\r\n\r\n"), False)]
    response = server.seal(23, b"HTTP/1.1 200 OK\r\n\r\n" + b"x" * 3000)
    if flip:
        response = response[:40] + bytes([response[40] ^ 1]) + response[41:]
    flows.append((1, response, False))
    if lose:
        flows.append((1, server.seal(23, b"lost " * 50), True))
    flows.append((1, server.seal(22, handshake(24, b"\x01")), False))
    server.update()
    flows.append((1, server.seal(23, b"after the update"), False))
    flows.append((0, client.seal(22, handshake(24, b"\x00")), False))
    client.update()
    flows.append((0, client.seal(23, b"the client's after its update"), False))
    if long_header:
        flows.append((1, bytes([23, 3, 3, 0x48, 0x01]) + bytes(64), False))
    flows.append((1, server.seal(21, b"\x01\x00"), False))
    length = 48 if suite == 0x1302 else 32
    return segments(flows, 0x1E | (0x20 if length == 48 else 0))


def tls12(chacha, flip=False, lose=False):
    suite = 0xCCA8 if chacha else 0xC02F
    client = Sender12(chacha, True)
    server = Sender12(chacha, False)
    flows = [(0, client_hello(False), False),
             (1, server_hello(suite, False) + record(22, handshake(14, b"")), False),
             (0, record(20, b"\x01") + client.seal(22, handshake(20, bytes(12)))
              + client.seal(23, b"GET / HTTP/1.1\r\n\r\n"), False),
             (1, record(20, b"\x01") + server.seal(22, handshake(20, bytes(12))), False)]
    response = server.seal(23, b"HTTP/1.1 200 OK\r\n\r\n" + b"y" * 2000)
    if flip:
        response = response[:30] + bytes([response[30] ^ 0x80]) + response[31:]
    flows.append((1, response, False))
    if lose:
        flows.append((1, server.seal(23, b"lost " * 40), True))
    flows.append((1, server.seal(23, b"the last"), False))
    return segments(flows, 0x01)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    for suite in SUITES13:
        seeds["tls13-%04x" % suite] = tls13(suite)
    seeds["tls13-flipped"] = tls13(0x1301, flip=True)
    seeds["tls13-long-record"] = tls13(0x1303, long_header=True)
    seeds["tls13-lost"] = tls13(0x1302, lose=True)
    seeds["tls12-aesgcm"] = tls12(False)
    seeds["tls12-chacha"] = tls12(True)
    seeds["tls12-flipped-lost"] = tls12(False, flip=True, lose=True)
    seeds["not-tls"] = segments([(0, b"GET / HTTP/1.0\r\n\r\n", False), (1, b"HTTP/1.0 200 OK", False)], 0)
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
