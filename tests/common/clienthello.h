// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// The first bytes a TLS client sends, as OpenSSL's libssl makes them: an
// independent source of real ClientHellos for the tests.

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <QByteArray>

// The ClientHello of a client that asks for `server_name` (none when empty),
// offering TLS versions up to `max_version` (TLS1_2_VERSION, TLS1_3_VERSION)
// and the ALPN protocols given (wire format); empty on a failure.
inline QByteArray client_hello(const QByteArray& server_name, int max_version = TLS1_3_VERSION,
                               const QByteArray& alpn = {})
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr)
        return {};
    SSL_CTX_set_max_proto_version(context, max_version);
    SSL* ssl = SSL_new(context);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out); // the connection owns both now
    if (!server_name.isEmpty())
        SSL_set_tlsext_host_name(ssl, server_name.constData());
    if (!alpn.isEmpty())
        SSL_set_alpn_protos(ssl, reinterpret_cast<const unsigned char*>(alpn.constData()),
                            static_cast<unsigned>(alpn.size()));
    SSL_set_connect_state(ssl);
    SSL_do_handshake(ssl); // wants to read the answer: the hello is written
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    const QByteArray hello(data, static_cast<int>(size));
    SSL_free(ssl);
    SSL_CTX_free(context);
    return hello;
}
