// Building, keeping and releasing the process-wide OpenSSL context of SSLSocket.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "wirelane/sockets/SslContextInternal.h"
#include "wirelane/sockets/SslErrorsInternal.h"

namespace corvane::tls {
namespace {

constexpr unsigned char kSessionIdContext[] = {'C', 'o', 'r', 'v', 'a', 'n', 'e', '1'};
constexpr long kSessionTimeoutSeconds = 600;
constexpr int kVerifyDepth = 9;

struct SharedState {
  std::mutex lock;  // serialises building and releasing
  std::atomic<SSL_CTX*> context{nullptr};
  std::string home_dir;
  // User data of the password callback; must stay put while the context lives.
  std::string password;
};

SharedState& State() {
  static SharedState state;
  return state;
}

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

int CopyPassword(char* buffer, int size, int /*writing*/, void* user) {
  const auto* password = static_cast<const std::string*>(user);
  if (password == nullptr || size <= 0) return 0;
  const int length = static_cast<int>(std::min<std::size_t>(password->size(), size - 1));
  std::memcpy(buffer, password->data(), static_cast<std::size_t>(length));
  buffer[length] = '\0';
  return length;
}

// Logs OpenSSL's verdict on each certificate of the peer's chain. The verdict
// is returned unchanged: when the verify mode asks for verification a failed
// certificate (the peer's own one included) fails the handshake; with mode 0
// OpenSSL goes on whatever is returned.
int VerifyPeer(int verdict, X509_STORE_CTX* store) {
  Debug d("SSLSocket::Verify");
  const int error = X509_STORE_CTX_get_error(store);
  if (verdict == 0) {
    d.print("SSL peer verify error:num=%d:%s\n", error, X509_verify_cert_error_string(error));
  }
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT: {
      char issuer[256] = "";
      if (X509* current = X509_STORE_CTX_get_current_cert(store); current != nullptr)
        X509_NAME_oneline(X509_get_issuer_name(current), issuer, sizeof issuer);
      d.print("Unable to get issuer cert - issuer= %s\n", issuer);
      break;
    }
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
      d.print("Certificate is not yet valid.\n");
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      d.print("Certificate has expired\n");
      break;
    default:
      break;
  }
  d.print("verify return:%d\n", verdict);
  return verdict;
}

// Handshake trace, installed when the debug level is 4 or more.
void TraceState(const SSL* ssl, int where, int ret) {
  Debug d("SSLSocket::State");
  const int role = where & ~SSL_ST_MASK;
  const char* side = (role & SSL_ST_CONNECT) != 0  ? "SSL_connect"
                     : (role & SSL_ST_ACCEPT) != 0 ? "SSL_accept"
                                                   : "undefined";
  if ((where & SSL_CB_LOOP) != 0) {
    d.print("%s:%s\n", side, SSL_state_string_long(ssl));
  } else if ((where & SSL_CB_ALERT) != 0) {
    d.print("SSL3 alert %s:%s:%s\n", (where & SSL_CB_READ) != 0 ? "read" : "write",
            SSL_alert_type_string_long(ret), SSL_alert_desc_string_long(ret));
  } else if ((where & SSL_CB_EXIT) != 0) {
    if (ret == 0) d.print("%s:failed in %s\n", side, SSL_state_string_long(ssl));
    if (ret < 0) d.print("%s:error in %s\n", side, SSL_state_string_long(ssl));
  }
}

bool IsProtocolFamilyName(const char* list) {
  return EqualsNoCase(list, "SSLv3") || EqualsNoCase(list, "TLSv1");
}

void ConfigureProtocol(SSL_CTX* ctx, const ContextSettings& settings, Debug& d) {
  if (settings.version == 3 || settings.version == 4) {
    // SSLv3 and TLS 1.0 alone are no longer accepted by OpenSSL 3; the
    // nearest choice that still means "only the better protocols" is TLS 1.2+.
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3);
  }
  if (Debug::m_nDebugMode >= 4) SSL_CTX_set_info_callback(ctx, TraceState);
  SSL_CTX_set_session_id_context(ctx, kSessionIdContext, sizeof kSessionIdContext);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_BOTH);
  SSL_CTX_set_timeout(ctx, kSessionTimeoutSeconds);
  if (settings.new_session != nullptr) SSL_CTX_sess_set_new_cb(ctx, settings.new_session);
  // "SSLv3"/"TLSv1" selected every cipher of the old protocol family; today
  // they would shut out the AEAD suites, so OpenSSL's default list stands in.
  const char* ciphers = settings.cipher_list;
  if (ciphers != nullptr && *ciphers != '\0' && !IsProtocolFamilyName(ciphers) &&
      SSL_CTX_set_cipher_list(ctx, ciphers) != 1) {
    LogSslFailure(d, __LINE__, "SSLSocket:: InitializeSSL - cipher list refused, default kept");
  }
}

void ConfigureTrust(SSL_CTX* ctx, const ContextSettings& settings, const std::string& home,
                    Debug& d) {
  const std::string ca_path = settings.ca_path != nullptr ? settings.ca_path : home + "/ca";
  SSL_CTX_set_verify(ctx, settings.verify_mode, VerifyPeer);
  if (settings.verify_mode != 0) SSL_CTX_set_verify_depth(ctx, kVerifyDepth);
  const bool has_ca_list = settings.ca_list != nullptr && *settings.ca_list != '\0';
  if (SSL_CTX_load_verify_locations(ctx, has_ca_list ? settings.ca_list : nullptr,
                                    ca_path.c_str()) != 1) {
    LogSslFailure(d, __LINE__, "SSLSocket:: InitializeSSL - unable to load CA file or directory");
  }
  if (SSL_CTX_set_default_verify_paths(ctx) != 1) ClearSslErrors();
  if (!has_ca_list) return;
  STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(settings.ca_list);
  if (names == nullptr) {
    LogSslFailure(d, __LINE__, "SSLSocket:: InitializeSSL - unable to read the CA list");
    return;
  }
  SSL_CTX_set_client_CA_list(ctx, names);  // takes ownership
}

int ApplyDhParameters(SSL_CTX* ctx, const char* file) {
  if (file != nullptr) {
    std::unique_ptr<BIO, BioFree> in(BIO_new_file(file, "r"));
    std::unique_ptr<EVP_PKEY, PkeyFree> params(in ? PEM_read_bio_Parameters(in.get(), nullptr)
                                                  : nullptr);
    if (params && EVP_PKEY_is_a(params.get(), "DH")) {
      if (SSL_CTX_set0_tmp_dh_pkey(ctx, params.get()) == 1) {
        params.release();  // the context owns it now
        return 1;
      }
      Debug d("SSL Initialization");
      LogSslFailure(d, __LINE__, "Diffie-Hellman parameters refused, built-in groups used instead");
    }
  }
  // A certificate file without parameters leaves "no start line" behind.
  ClearSslErrors();
  // The old built-in 512-bit group is far below what OpenSSL accepts now;
  // automatic selection gives a group matching the certificate's strength.
  return SSL_CTX_set_dh_auto(ctx, 1) == 1 ? 1 : 0;
}

// Logs a quoted failure text followed by OpenSSL's reason; returns 0.
int Refuse(Debug& d, int line, const char* message, const char* file) {
  d.logerror(kLogTag, line, message, file);
  d.logerror(kLogTag, line, "  reason: %s\n", SslFailureText().c_str());
  return 0;
}

int RefuseMismatch(Debug& d, int line) {
  return Refuse(d, line, "%s",
                "SSLSocket:: InitializeSSL - Private key does not match the certificate public "
                "key\n");
}

int LoadIdentity(SSL_CTX* ctx, const ContextSettings& settings, Debug& d) {
  d.print("Set certificate....\n");
  ApplyDhParameters(ctx, settings.certificate);
  // The chain form also sends intermediate certificates that follow the
  // server's own one in the file.
  if (SSL_CTX_use_certificate_chain_file(ctx, settings.certificate) != 1) {
    return Refuse(d, __LINE__, "SSLSocket:: InitializeSSL - unable to set certificate file: %s\n",
                  settings.certificate);
  }
  const char* key = settings.key_file != nullptr ? settings.key_file : settings.certificate;
  if (SSL_CTX_use_PrivateKey_file(ctx, key, SSL_FILETYPE_PEM) != 1) {
    // OpenSSL 3 compares key and certificate while loading the key already.
    const unsigned long last = ERR_peek_last_error();
    if (ERR_GET_LIB(last) == ERR_LIB_X509 && ERR_GET_REASON(last) == X509_R_KEY_VALUES_MISMATCH)
      return RefuseMismatch(d, __LINE__);
    return Refuse(d, __LINE__, "SSLSocket:: InitializeSSL - unable to set private key file: %s\n",
                  key);
  }
  if (SSL_CTX_check_private_key(ctx) != 1) return RefuseMismatch(d, __LINE__);
  return 1;
}

}  // namespace

int InitializeSharedContext(const ContextSettings& settings) {
  Debug d("SSL Initialization");
  SharedState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.home_dir = settings.home_dir != nullptr ? settings.home_dir : DefaultHomeDir();
  if (state.context.load() != nullptr) return 1;

  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) !=
      1) {
    d.logerror(kLogTag, __LINE__, "SSL Library Initialization failed.\n");
    return 0;
  }
  ClearSslErrors();
  SSL_CTX* ctx = SSL_CTX_new(TLS_method());
  if (ctx == nullptr) {
    LogSslFailure(d, __LINE__, "SSLSocket:: InitializeSSL - unable to create the TLS context");
    return 0;
  }
  if (settings.password != nullptr && *settings.password != '\0') {
    state.password = settings.password;
    SSL_CTX_set_default_passwd_cb(ctx, CopyPassword);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, &state.password);
  }
  ConfigureProtocol(ctx, settings, d);
  ConfigureTrust(ctx, settings, state.home_dir, d);
  const int result = settings.certificate != nullptr ? LoadIdentity(ctx, settings, d) : 1;
  // Published only now, so no socket sees a context still being configured;
  // kept even when a step failed (later sockets use it as it is).
  state.context.store(ctx);
  return result;
}

ssl_ctx_st* SharedContext() { return State().context.load(); }

void ReleaseSharedContext() {
  SharedState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  SSL_CTX_free(state.context.exchange(nullptr));
  state.password.clear();
  OPENSSL_thread_stop();
}

int SetSharedDhParameters(const char* file) {
  SharedState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  SSL_CTX* ctx = state.context.load();
  return ctx != nullptr ? ApplyDhParameters(ctx, file) : 0;
}

std::string HomeDir() {
  SharedState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.home_dir;
}

std::string DefaultHomeDir() {
  if (const char* configured = std::getenv("CORVANE"); configured != nullptr && *configured != '\0')
    return configured;
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && executable.has_parent_path())
    return executable.parent_path().parent_path().string();
  return ".";
}

}  // namespace corvane::tls
