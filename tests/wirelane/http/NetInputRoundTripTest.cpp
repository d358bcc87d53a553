// Tests of NetInput reading what NetOutput writes: encrypted forms, gzip, DIME attachments and
// chunks.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/HttpTestWire.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;

// Two HTTPSock ends of one loopback connection.
using HttpEnds = httptest::Wire<HTTPSock>;
using httptest::ContentOf;

TEST(NetInputRoundTripTest, EncryptedFormPostReadsBackAsVariables) {
  HttpEnds ends;
  NetOutput request(&ends.client, "pass phrase");
  request.Add("a", "1");
  request.Add("b", "x y&z");
  ASSERT_GT(request.Send(2, false, "POST", "/form"), 0);
  NetInput input(ends.server.get(), "pass phrase");
  EXPECT_GT(input.Receive(), 0);
  EXPECT_STREQ("1", input.Get("a"));
  EXPECT_STREQ("x y&z", input.Get("b"));
  EXPECT_STREQ("Corvane Client/3.02", input.GetHeader("User-Agent"));
  EXPECT_FALSE(input.IsCookieClient());
}

TEST(NetInputRoundTripTest, GzipResponseInflates) {
  HttpEnds ends;
  const std::string page = "<page>" + std::string(20000, 'p') + "</page>";
  NetOutput response(ends.server.get());
  response.AddHeader("Content-Encoding", "gzip");
  response.Write(page.data(), static_cast<int>(page.size()));
  ASSERT_GT(response.Send(1, false, nullptr, nullptr), 0);
  NetInput input(&ends.client);
  EXPECT_GT(input.Receive(), 0);
  EXPECT_EQ(page, ContentOf(input));
  EXPECT_STREQ("200", input.GetHeader("HTTPStatus"));
}

TEST(NetInputRoundTripTest, DimeAttachmentComesBackAsARecord) {
  const std::string path =
      ::testing::TempDir() + "netinput-dime-" + std::to_string(::getpid()) + ".png";
  const std::string picture(3000, '\x89');
  std::ofstream(path, std::ios::binary) << picture;
  HttpEnds ends;
  NetOutput request(&ends.client);
  ASSERT_TRUE(request.AddAttachment(path.c_str(), "pic", "image/png", "application/dime"));
  request.Write("<Envelope/>");
  ASSERT_GT(request.Send(2, false, "POST", "/soap"), 0);
  std::filesystem::remove(path);
  NetInput input(ends.server.get());
  EXPECT_GT(input.Receive(), 0);
  EXPECT_EQ("<Envelope/>", ContentOf(input));
  unsigned long length = 0;
  const unsigned char* data = input.GetAttachment("pic", length);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(picture, std::string(reinterpret_cast<const char*>(data), length));
}

TEST(NetInputRoundTripTest, ChunksSentAfterTheHeaderAreReadAsTheBody) {
  HttpEnds ends;
  NetOutput response(ends.server.get());
  response.AddHeader("Transfer-Encoding", "chunked");
  ASSERT_GE(response.Send(1, true, nullptr, nullptr), 0);
  EXPECT_EQ(5, response.SendChuck("hello", 5, false));
  EXPECT_EQ(6, response.SendChuck(" world", 6, true));
  NetInput input(&ends.client);
  EXPECT_EQ(11, input.Receive());
  EXPECT_EQ("hello world", ContentOf(input));
}

}  // namespace
