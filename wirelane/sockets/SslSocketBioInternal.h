// SslSocketBioInternal: the OpenSSL BIO that carries TLS records over one of our socket
// descriptors.
#pragma once

struct bio_st;

namespace corvane::tls {

// A new BIO over descriptor (not owned: freeing the BIO leaves it open). It
// behaves like OpenSSL's socket BIO except that writes never raise SIGPIPE: a
// peer that has gone away gives a failed write (EPIPE), as our plain sockets
// do, instead of ending the process. Time-outs set on the descriptor apply.
// Null when OpenSSL cannot allocate it. Thread-safe.
bio_st* NewSocketBio(int descriptor);

}  // namespace corvane::tls
