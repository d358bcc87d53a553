// Tests of GetContentType: extension lookup, case, overriding rows and the default.
#include <gtest/gtest.h>

#include "common/MediaTypes.h"

namespace {

TEST(MediaTypesTest, MapsExtensionsToMediaTypes) {
  struct Case {
    const char* name;
    const char* type;
  };
  const Case cases[] = {
      {"photo.JPG", "image/jpeg"},
      {"index.html", "text/html"},
      {"style.css", "text/html"},
      {"dir.v2/page.Htm", "text/html"},
      {"x.mpeg", "video/mpeg"},  // the later row wins
      {"x.mpa", "audio/x-mpeg"},
      {"a.cgi", ""},
      {"lib.jar", ""},
      {"doc.pdf", "application/pdb"},
      {"plan.sc2", "application/vnd.ms-schedule"},
      {"plan.scd,sch", "application/vnd.ms-schedule"},  // one entry, comma included
      {"plan.sch", "application/octet-stream"},
      {"msg.dime", "application/dime"},
      {"run.exe", "application/Octet-Stream"},
      {"icon.ico", "image/icon"},
      {"archive.tar.gz", "text/html"},
      {"archive", "application/octet-stream"},
      {"name.", "application/octet-stream"},
      {"x.unknown", "application/octet-stream"},
      {".txt", "text/plain"},
      {"", "application/octet-stream"},
  };
  for (const Case& c : cases) EXPECT_STREQ(GetContentType(c.name), c.type) << c.name;
  EXPECT_STREQ(GetContentType(nullptr), "application/octet-stream");
}

}  // namespace
