// Tests of the Transport interface: slot order, shared defaults, MakeTransport, DestroyTransport.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sealvault/Debug.h"
#include "transport/HTTPTransport.h"
#include "transport/Transport.h"
#include "transport/TransportTestSupport.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using transporttest::Made;

// The offset of a virtual function in its table, read from the Itanium ABI
// form of a pointer to member (table offset + 1 for virtual functions).
template <class Member>
std::ptrdiff_t SlotOffset(Member member) {
  std::ptrdiff_t representation[2];
  static_assert(sizeof member == sizeof representation);
  std::memcpy(representation, &member, sizeof member);
  return representation[0] - 1;
}

TEST(TransportTest, OperationsKeepTheirSlotOrder) {
  using T = Transport;
  const std::ptrdiff_t slots[] = {
      SlotOffset(&T::Send),
      SlotOffset(&T::AddHeader),
      SlotOffset(&T::Clear),
      SlotOffset(&T::SetProxy),
      SlotOffset(&T::GetHeader),
      SlotOffset(&T::SetProperty),
      SlotOffset(&T::GetProperty),
      SlotOffset(&T::AddAttachment),
      SlotOffset(static_cast<unsigned char* (T::*)(int, unsigned long&)>(&T::GetAttachment)),
      SlotOffset(
          static_cast<unsigned char* (T::*)(const char*, unsigned long&)>(&T::GetAttachment)),
      SlotOffset(static_cast<const char* (T::*)(int, const char*)>(&T::GetAttachmentProperty)),
      SlotOffset(
          static_cast<const char* (T::*)(const char*, const char*)>(&T::GetAttachmentProperty)),
  };
  // The destructor comes first (two entries in this ABI), then one entry each.
  EXPECT_EQ(static_cast<std::ptrdiff_t>(2 * sizeof(void*)), slots[0]);
  for (size_t i = 1; i < std::size(slots); ++i)
    EXPECT_EQ(slots[i - 1] + static_cast<std::ptrdiff_t>(sizeof(void*)), slots[i])
        << "slot " << i + 1;
}

TEST(TransportTest, FactoryFunctionsAreExportedUnderTheirPlainNames) {
  // Hosts find them by name, so the names must not be decorated.
  EXPECT_EQ(reinterpret_cast<void*>(&MakeTransport), ::dlsym(RTLD_DEFAULT, "MakeTransport"));
  EXPECT_EQ(reinterpret_cast<void*>(&DestroyTransport), ::dlsym(RTLD_DEFAULT, "DestroyTransport"));
}

// A carrier that supplies only what every carrier must.
class OneWayCarrier : public TransportDefaults {
 public:
  const char* Send(const char*, const char*, const char*, unsigned long*, const char*) override {
    return "";
  }
  void AddHeader(const char*, const char*) override {}
  void Clear() override {}
};

TEST(TransportTest, SharedDefaultsDoNothing) {
  OneWayCarrier carrier;
  Transport& transport = carrier;
  transport.SetProxy("proxy", 3128, "u", "p");
  transport.SetProperty("Timeout", "5");
  EXPECT_EQ(nullptr, transport.GetHeader("header|Content-Type"));
  EXPECT_EQ(nullptr, transport.GetProperty("Timeout"));
  EXPECT_FALSE(transport.AddAttachment("a", "b", "c", "d"));
  unsigned long size = 99;
  EXPECT_EQ(nullptr, transport.GetAttachment(0, size));
  EXPECT_EQ(0u, size);
  size = 99;
  EXPECT_EQ(nullptr, transport.GetAttachment("x", size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(nullptr, transport.GetAttachmentProperty(0, "id"));
  EXPECT_EQ(nullptr, transport.GetAttachmentProperty("x", "id"));
}

TEST(TransportTest, KindsBuildHttpOrSayTheCarrierIsMissing) {
  for (const int kind : {0, -1, 8, 9, 42}) {
    SCOPED_TRACE(kind);
    Made made(kind, "user", "password");
    ASSERT_NE(nullptr, made.transport);
    EXPECT_NE(nullptr, dynamic_cast<HTTPTransport*>(made.transport));
    if (kind == 8) {
      EXPECT_STREQ("1", made->GetProperty("WinSock"));
    } else {
      EXPECT_EQ(nullptr, made->GetProperty("WinSock"));
    }
  }
  for (int kind = 1; kind <= 7; ++kind) {
    SCOPED_TRACE(kind);
    sockettest::LogCapture log;
    EXPECT_EQ(nullptr, MakeTransport(kind, "user", "password", -1, nullptr));
    EXPECT_THAT(log.Text(),
                HasSubstr("transport kind " + std::to_string(kind) + " is not built yet"));
  }
}

TEST(TransportTest, DebugModeIsSetOnlyFromZeroOrBelow) {
  const int saved = Debug::m_nDebugMode;
  struct Case {
    int before;
    int argument;
    int after;
  } cases[] = {{0, -1, 0}, {0, 0, 0}, {0, 3, 3}, {-2, 3, 3}, {2, 3, 2}, {4, -1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " with " + std::to_string(c.argument));
    Debug::SetDebugMode(c.before);
    sockettest::LogCapture log;
    { Made made(0, nullptr, nullptr, c.argument); }
    EXPECT_EQ(c.after, Debug::m_nDebugMode.load());
    const std::string line = "MakeTransport - Setting DebugMode to " + std::to_string(c.argument);
    if (c.after != c.before) {
      EXPECT_THAT(log.Text(), HasSubstr(line));
    } else {
      EXPECT_THAT(log.Text(), Not(HasSubstr("Setting DebugMode")));
    }
  }
  Debug::SetDebugMode(saved);
}

// WSACleanup answers -1 once no start-up is left, which shows how many
// start-ups a transport took and gave back.
TEST(TransportTest, EachTransportHoldsOneSocketStartUp) {
  ASSERT_EQ(0, WSAStartup(0x0202, nullptr));  // the test's own
  DestroyTransport(nullptr);                  // must not give one back
  Transport* first = MakeTransport(0, nullptr, nullptr, -1, nullptr);
  Transport* second = MakeTransport(8, nullptr, nullptr, -1, nullptr);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(nullptr, MakeTransport(3, nullptr, nullptr, -1, nullptr));  // gives its own back
  DestroyTransport(first);
  DestroyTransport(second);
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(-1, WSACleanup());
}

}  // namespace
