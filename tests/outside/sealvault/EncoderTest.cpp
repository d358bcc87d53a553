// Tests of Encoder: Base64 lines, MIME-ready file encoding and tolerant decoding.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sealvault/Encoder.h"

namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string EncodeText(const std::string& bytes) {
  Encoder encoder("base64");
  int length = static_cast<int>(bytes.size());
  const char* text = encoder.Encode(U(bytes), &length);
  if (text == nullptr) return "<null>";
  EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
  return text;
}

std::string DecodeText(const std::string& text) {
  Encoder encoder("base64");
  int length = static_cast<int>(text.size());
  const unsigned char* bytes = encoder.Decode(text.c_str(), &length);
  if (bytes == nullptr) return length == 0 ? "<null>" : "<length not reset>";
  EXPECT_EQ(bytes[length], '\0');
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

TEST(EncoderTest, Rfc4648VectorsBothWays) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(EncodeText(plain), encoded);
    EXPECT_EQ(DecodeText(encoded), plain);
  }
}

TEST(EncoderTest, BinaryWithNulsAndLongInputStayOnOneLine) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i % 256);
  const std::string text = EncodeText(bytes);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(DecodeText(text), bytes);
}

TEST(EncoderTest, DecodeSkipsLineBreaksAndToleratesMissingPadding) {
  EXPECT_EQ(DecodeText("Zm9v\r\nYmFy\r\n"), "foobar");
  EXPECT_EQ(DecodeText(" Zm9v\tYg\n"), "foob");
  EXPECT_EQ(DecodeText("Zm8"), "fo");
  EXPECT_EQ(DecodeText("Zg="), "f");
}

TEST(EncoderTest, InvalidInputGivesNull) {
  for (const char* bad :
       {"Zm9v!", "Z", "Zm9vY", "Zg=a", "====", "Zm9v=", "Zg===", "Zm\x80v", "Zm-v"})
    EXPECT_EQ(DecodeText(bad), "<null>") << bad;
  Encoder encoder("base64");
  int length = 4;
  EXPECT_EQ(encoder.Decode(nullptr, &length), nullptr);
  EXPECT_EQ(encoder.Encode(nullptr, &length), nullptr);
  length = -1;
  EXPECT_EQ(encoder.Encode(U(std::string("x")), &length), nullptr);
  Encoder unknown("uuencode");
  length = 1;
  EXPECT_EQ(unknown.Encode(U(std::string("x")), &length), nullptr);
}

class EncoderFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("encoder-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { std::filesystem::remove(path_); }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::filesystem::path path_;
};

TEST_F(EncoderFileTest, FileIsValidMimeBase64) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>((i * 7) % 256);
  Write(bytes);
  Encoder encoder("base64");
  int length = 0;
  const char* text = encoder.EncodeFile(path_.c_str(), &length);
  ASSERT_NE(text, nullptr);
  const std::string encoded(text, length);
  // every line at most 76 characters and ended by CR LF, nothing after the last
  size_t start = 0;
  while (start < encoded.size()) {
    const size_t end = encoded.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 76u);
    EXPECT_EQ(encoded.substr(start, end - start).find_first_of("\r\n"), std::string::npos);
    start = end + 2;
  }
  EXPECT_EQ(DecodeText(encoded), bytes);
}

TEST_F(EncoderFileTest, EmptyAndMissingFiles) {
  Write("");
  Encoder encoder("base64");
  int length = 5;
  const char* text = encoder.EncodeFile(path_.c_str(), &length);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(length, 0);
  length = 5;
  EXPECT_EQ(encoder.EncodeFile((path_.string() + ".missing").c_str(), &length), nullptr);
  EXPECT_EQ(length, 0);
}

}  // namespace
