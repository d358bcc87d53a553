// A socket BIO whose writes use MSG_NOSIGNAL, so TLS over a dead connection fails instead of
// killing us.
#include <openssl/bio.h>
#include <sys/socket.h>

#include <cerrno>

#include "wirelane/sockets/SslSocketBioInternal.h"

namespace corvane::tls {
namespace {

int WriteNoSignal(BIO* bio, const char* data, size_t size, size_t* written) {
  BIO_clear_retry_flags(bio);
  ssize_t sent;
  do {
    sent = ::send(BIO_get_fd(bio, nullptr), data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    if (BIO_sock_should_retry(-1)) BIO_set_retry_write(bio);
    return 0;
  }
  *written = static_cast<size_t>(sent);
  return 1;
}

// Everything except writing is OpenSSL's own socket BIO; the table is made
// once (C++ guarantees thread-safe initialisation of the static) and lives
// for the process.
const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    const BIO_METHOD* plain = BIO_s_socket();
    BIO_METHOD* made = BIO_meth_new(
        BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "corvane socket");
    if (made == nullptr) return made;
    BIO_meth_set_write_ex(made, WriteNoSignal);
    // The plain socket BIO implements the int-sized read; its read_ex entry is
    // only an adapter that calls back into that one.
    BIO_meth_set_read(made, BIO_meth_get_read(plain));
    BIO_meth_set_puts(made, BIO_meth_get_puts(plain));
    BIO_meth_set_ctrl(made, BIO_meth_get_ctrl(plain));
    BIO_meth_set_create(made, BIO_meth_get_create(plain));
    BIO_meth_set_destroy(made, BIO_meth_get_destroy(plain));
    return made;
  }();
  return method;
}

}  // namespace

bio_st* NewSocketBio(int descriptor) {
  const BIO_METHOD* method = SocketMethod();
  if (method == nullptr) return nullptr;
  BIO* bio = BIO_new(method);
  if (bio != nullptr) BIO_set_fd(bio, descriptor, BIO_NOCLOSE);
  return bio;
}

}  // namespace corvane::tls
