// Tests of Crypto: one-shot messages, per-block keystream, and the opaque cache-key file names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "sealvault/Crypto.h"
#include "sealvault/Debug.h"

namespace {

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};
using Owned = std::unique_ptr<unsigned char, FreeDeleter>;

std::string Bytes(const unsigned char* p, int n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}
const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Encrypts with one object (destroyed at once) and decrypts with another.
std::string RoundTrip(const char* encryptName, const char* decryptName, const std::string& plain,
                      const char* pass, const char* decryptPass) {
  int length = static_cast<int>(plain.size());
  Owned sealed;
  {
    Crypto encryptor(encryptName, nullptr, 1);
    sealed.reset(encryptor.Encrypt(pass, U(plain), &length, nullptr));
  }
  if (sealed == nullptr) return "<encrypt failed>";
  Crypto decryptor(decryptName, nullptr, 0);
  Owned opened(decryptor.Decrypt(decryptPass, sealed.get(), &length, nullptr));
  if (opened == nullptr) return length == 0 ? "<decrypt failed>" : "<length not reset>";
  EXPECT_EQ(opened.get()[length], '\0') << "result must be NUL-terminated";
  return Bytes(opened.get(), length);
}

TEST(CryptoTest, MessagesRoundTripAcrossCipherNames) {
  const std::string binary("\0\x01\xff\0binary\0", 12);
  struct Case {
    const char* encrypt;
    const char* decrypt;
    std::string plain;
  } cases[] = {
      {nullptr, "idea", "name=value&other=1"},  // the UDP pairing of null and "idea"
      {"idea", nullptr, binary},
      {"IDEA", "idea", ""},
      {"aes128", "idea", std::string(100000, 'x')},
      {"chacha20", nullptr, "short"},
      {"Blowfish", "des", "legacy names"},
      {"aes-256-cbc", "idea", "mode suffix"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encrypt ? c.encrypt : "(null)");
    EXPECT_EQ(RoundTrip(c.encrypt, c.decrypt, c.plain, "secret", "secret"), c.plain);
  }
}

TEST(CryptoTest, WrongPassPhraseGivesNull) {
  EXPECT_EQ(RoundTrip(nullptr, "idea", "hello", "secret", "Secret"), "<decrypt failed>");
  EXPECT_EQ(RoundTrip(nullptr, "idea", "hello", "secret", ""), "<decrypt failed>");
}

TEST(CryptoTest, EncryptionIsRandomisedAndAddsFixedOverhead) {
  Crypto crypto(nullptr, nullptr, 1);
  const std::string plain = "same text";
  int first_length = static_cast<int>(plain.size());
  int second_length = first_length;
  Owned first(crypto.Encrypt("k", U(plain), &first_length, nullptr));
  Owned second(crypto.Encrypt("k", U(plain), &second_length, nullptr));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first_length, static_cast<int>(plain.size()) + 46);
  EXPECT_EQ(first_length, second_length);
  EXPECT_NE(Bytes(first.get(), first_length), Bytes(second.get(), second_length));
  EXPECT_EQ(Bytes(first.get(), first_length).find(plain), std::string::npos);
}

TEST(CryptoTest, AlteredOrTruncatedMessagesAreRejected) {
  Crypto crypto(nullptr, nullptr, 1);
  const std::string plain = "the message body";
  int length = static_cast<int>(plain.size());
  Owned sealed(crypto.Encrypt("pw", U(plain), &length, nullptr));
  ASSERT_NE(sealed, nullptr);
  const std::string good = Bytes(sealed.get(), length);
  // format byte, cipher id, salt, nonce, ciphertext, tag
  for (size_t at : {size_t{0}, size_t{1}, size_t{5}, size_t{20}, size_t{31}, good.size() - 1}) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x01);
    int n = static_cast<int>(bad.size());
    EXPECT_EQ(Owned(crypto.Decrypt("pw", U(bad), &n, nullptr)), nullptr) << "flipped byte " << at;
    EXPECT_EQ(n, 0);
  }
  for (size_t keep : {size_t{0}, size_t{10}, size_t{45}, good.size() - 1}) {
    int n = static_cast<int>(keep);
    EXPECT_EQ(Owned(crypto.Decrypt("pw", U(good), &n, nullptr)), nullptr) << "kept " << keep;
  }
}

TEST(CryptoTest, MissingArgumentsFailWithoutCrash) {
  Crypto crypto(nullptr, nullptr, 1);
  int length = 3;
  EXPECT_EQ(crypto.Encrypt(nullptr, U(std::string("abc")), &length, nullptr), nullptr);
  EXPECT_EQ(length, 0);
  length = 3;
  EXPECT_EQ(crypto.Encrypt("k", nullptr, &length, nullptr), nullptr);
  EXPECT_EQ(crypto.Encrypt("k", U(std::string("abc")), nullptr, nullptr), nullptr);
  length = -1;
  EXPECT_EQ(crypto.Decrypt("k", U(std::string("abc")), &length, nullptr), nullptr);
}

TEST(CryptoTest, UnknownCipherNameFallsBackAndIsLogged) {
  const auto log =
      std::filesystem::temp_directory_path() / ("crypto-log-" + std::to_string(getpid()));
  ASSERT_TRUE(Debug::SetLogFile(log.c_str()));
  const std::string result = RoundTrip("no-such-cipher", "idea", "data", "k", "k");
  Debug::SetLogFile(nullptr);
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(log);
  EXPECT_EQ(result, "data");
  EXPECT_NE(text.find("unknown cipher name no-such-cipher"), std::string::npos) << text;
}

// Runs one block through Init/Update/Final as the encrypted socket does.
std::string Block(Crypto& crypto, const char* key, const char* iv, const std::string& data) {
  if (!crypto.Init(key, reinterpret_cast<const unsigned char*>(iv))) return "<init failed>";
  if (!crypto.Update(U(data), static_cast<int>(data.size()))) return "<update failed>";
  unsigned char* out = crypto.Final();
  if (out == nullptr) return "<final failed>";
  EXPECT_EQ(out[crypto.GetLength()], '\0');
  return Bytes(out, crypto.GetLength());
}

TEST(CryptoTest, BlocksDecryptWithAnEncryptingObjectOfThePeer) {
  for (const char* name : {static_cast<const char*>(nullptr), "aes128", "chacha20"}) {
    SCOPED_TRACE(name ? name : "(null)");
    Crypto sender(name, nullptr, 1);
    Crypto receiver(name, nullptr, 1);  // the socket makes both sides with mode 1
    const std::string frame("block\0with NUL and some length", 30);
    const std::string wire = Block(sender, "Key", "IV", frame);
    EXPECT_EQ(wire.size(), frame.size());
    EXPECT_NE(wire, frame);
    EXPECT_EQ(Block(receiver, "Key", "IV", wire), frame);
    EXPECT_EQ(Block(sender, "Key", "IV", frame), wire) << "every block restarts the keystream";
    EXPECT_NE(Block(sender, "Key", "iv", frame), wire);
    EXPECT_NE(Block(sender, "key", "IV", frame), wire);
  }
}

TEST(CryptoTest, BlockStateRules) {
  Crypto crypto(nullptr, nullptr, 1);
  const std::string data = "0123456789";
  EXPECT_FALSE(crypto.Update(U(data), 10)) << "Update before Init";
  EXPECT_EQ(crypto.Final(), nullptr);
  EXPECT_EQ(crypto.GetLength(), 0);
  EXPECT_FALSE(crypto.Init(nullptr, nullptr));

  ASSERT_TRUE(crypto.Init("k", nullptr));
  ASSERT_TRUE(crypto.Update(U(data), 4));
  ASSERT_TRUE(crypto.Update(U(data) + 4, 6));
  unsigned char* split = crypto.Final();
  ASSERT_NE(split, nullptr);
  const std::string split_bytes = Bytes(split, crypto.GetLength());
  EXPECT_EQ(crypto.Final(), split) << "Final twice gives the same block";
  EXPECT_FALSE(crypto.Update(U(data), 1)) << "the block is closed after Final";
  EXPECT_EQ(Block(crypto, "k", "", data), split_bytes)
      << "null iv equals empty iv; split equals whole";
  EXPECT_EQ(Block(crypto, "k", "", ""), "");
}

bool SafeFileName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name != "." && name != ".." && name[0] != '.' &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

TEST(CryptoTest, OpaqueNamesAreDeterministicSafeAndReversible) {
  std::string all_bytes;
  for (int c = 1; c < 256; ++c) all_bytes += static_cast<char>(c);
  const std::string keys[] = {
      "a",
      ".",
      "..",
      "/",
      "get http://host/dir/a.xsd",
      "docs/schema/a.xsd?x=1&y=%2F",
      "caf\xc3\xa9 \xe2\x82\xac",
      all_bytes.substr(0, 191),
      std::string(191, '/'),
  };
  const auto dir = std::filesystem::temp_directory_path() / ("opaque-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    Crypto encoder(nullptr, nullptr, 1);
    Crypto other(nullptr, nullptr, 1);
    const std::string name =
        encoder.EncodeOpaque(key.c_str(), static_cast<int>(key.size()) + 1, nullptr, true);
    EXPECT_EQ(name,
              other.EncodeOpaque(key.c_str(), static_cast<int>(key.size()) + 1, nullptr, true));
    EXPECT_TRUE(SafeFileName(name)) << name;
    EXPECT_TRUE(std::ofstream(dir / name).good()) << "the name must be creatable";
    Crypto decoder(nullptr, nullptr, 0);
    const char* back =
        decoder.DecodeOpaque(name.c_str(), static_cast<int>(name.size()) + 1, nullptr, true);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back), key);
  }
  EXPECT_EQ(static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {})),
            std::size(keys));
  std::filesystem::remove_all(dir);
}

TEST(CryptoTest, OpaqueLengthWithoutTerminatorEncodesTheSame) {
  Crypto crypto(nullptr, nullptr, 1);
  const std::string with_nul = crypto.EncodeOpaque("abc", 4, nullptr, true);
  EXPECT_EQ(crypto.EncodeOpaque("abc", 3, nullptr, true), with_nul);
  EXPECT_EQ(crypto.EncodeOpaque("", 1, nullptr, true), nullptr);
  EXPECT_EQ(crypto.EncodeOpaque(nullptr, 4, nullptr, true), nullptr);
  EXPECT_EQ(crypto.EncodeOpaque("abc", 0, nullptr, true), nullptr);
}

TEST(CryptoTest, LongKeysGetDistinctOneWayNames) {
  const std::string base = "http://host/" + std::string(300, 'p');
  Crypto crypto(nullptr, nullptr, 1);
  const std::string first =
      crypto.EncodeOpaque((base + "1").c_str(), static_cast<int>(base.size()) + 2, nullptr, true);
  const std::string second =
      crypto.EncodeOpaque((base + "2").c_str(), static_cast<int>(base.size()) + 2, nullptr, true);
  EXPECT_TRUE(SafeFileName(first)) << first;
  EXPECT_NE(first, second);
  EXPECT_EQ(first, crypto.EncodeOpaque((base + "1").c_str(), static_cast<int>(base.size()) + 2,
                                       nullptr, true));
  EXPECT_EQ(crypto.DecodeOpaque(first.c_str(), static_cast<int>(first.size()) + 1, nullptr, true),
            nullptr);
  const std::string edge(192, 'k');  // first key length past the limit
  EXPECT_EQ(crypto.EncodeOpaque(edge.c_str(), 193, nullptr, true)[0], '~');
}

TEST(CryptoTest, ForeignFileNamesDoNotDecode) {
  Crypto crypto(nullptr, nullptr, 0);
  for (const char* name : {"", ".hidden", "abc!", "A", "QR", "a=b", "with space", "~deadbeef~QQ"}) {
    EXPECT_EQ(crypto.DecodeOpaque(name, static_cast<int>(std::strlen(name)) + 1, nullptr, true),
              nullptr)
        << name;
  }
  EXPECT_STREQ(crypto.DecodeOpaque("QQ", 3, nullptr, true), "A");
  EXPECT_EQ(crypto.DecodeOpaque(nullptr, 3, nullptr, true), nullptr);
}

}  // namespace
