// TlsContextsInternal: makes the shared TLS contexts once and hands them out.
#include "TlsContextsInternal.h"

#include <memory>
#include <mutex>
#include <string>

#include "OpenSslErrorInternal.h"
#include "sealvault/Debug.h"

namespace corvane {

namespace {

constexpr const char* kTag = "SChannel";

struct ContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using ContextPtr = std::unique_ptr<SSL_CTX, ContextFree>;

// Settings shared by both sides.
ContextPtr MakeContext(const SSL_METHOD* method) {
  ContextPtr context(SSL_CTX_new(method));
  if (context == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) return nullptr;
  // Many servers close without close_notify; HTTP bodies carry their own
  // length, so such a close reads as the end of the stream.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(context.get(), SSL_MODE_AUTO_RETRY);
  return context;
}

ContextPtr MakeClient() {
  ContextPtr context = MakeContext(TLS_client_method());
  if (context == nullptr || SSL_CTX_set_default_verify_paths(context.get()) != 1) return nullptr;
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  return context;
}

ContextPtr MakeServer() {
  ContextPtr context = MakeContext(TLS_server_method());
  if (context == nullptr) return nullptr;
  static constexpr unsigned char kSessionContext[] = "corvane.schannel";
  if (SSL_CTX_set_session_id_context(context.get(), kSessionContext, sizeof kSessionContext - 1) !=
      1)
    return nullptr;
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  return context;
}

struct Shared {
  std::mutex lock;
  ContextPtr client;
  ContextPtr server;
};

Shared& Contexts() {
  static Shared shared;
  return shared;
}

SSL_CTX* Get(ContextPtr Shared::*slot, ContextPtr (*make)(), const char* what) {
  Shared& shared = Contexts();
  std::lock_guard<std::mutex> guard(shared.lock);
  ContextPtr& context = shared.*slot;
  if (context == nullptr) {
    ClearOpenSslErrors();
    context = make();
    if (context == nullptr) {
      Debug log;
      LogOpenSslErrors(log, kTag, __LINE__, what);
    }
  }
  return context.get();
}

}  // namespace

SSL_CTX* TlsContexts::Client() {
  return Get(&Shared::client, MakeClient, "SChannel - cannot set up the TLS client context");
}

SSL_CTX* TlsContexts::Server() {
  return Get(&Shared::server, MakeServer, "SChannel - cannot set up the TLS server context");
}

bool TlsContexts::AddTrustedCa(const char* path) {
  Debug log;
  SSL_CTX* client = Client();
  if (client == nullptr) return false;
  if (path == nullptr) {
    log.logerror(kTag, __LINE__, "SChannel::AddTrustedCA - no file given\n");
    return false;
  }
  ClearOpenSslErrors();
  // The store locks itself, so handshakes running meanwhile are safe.
  if (X509_STORE_load_file(SSL_CTX_get_cert_store(client), path) != 1) {
    const std::string what = std::string("SChannel::AddTrustedCA - cannot load CA file ") + path;
    LogOpenSslErrors(log, kTag, __LINE__, what.c_str());
    return false;
  }
  return true;
}

}  // namespace corvane
