#include "widgets/URLTarget.h"

#include <gtest/gtest.h>

#include <string>

namespace quillet::widgets {
namespace {

TEST(URLTarget, SchemeTestIgnoresCaseAndPosition) {
  struct Case {
    TURLType type;
    std::string caption;
    std::string target;
  };
  const Case cases[] = {
      {utMailTo, "support@orvane.example", "mailto:support@orvane.example"},
      {utMailTo, "MailTo:support@orvane.example", "MailTo:support@orvane.example"},
      {utMailTo, "mailto support", "mailto:mailto support"},  // no colon: not the scheme
      {utHTTP, "www.orvane.example", "http://www.orvane.example"},
      {utHTTP, "HTTP://WWW.ORVANE.EXAMPLE/", "HTTP://WWW.ORVANE.EXAMPLE/"},
      {utHTTP, "see http://orvane.example", "see http://orvane.example"},
      {utHTTP, "Go to hTtP://x", "Go to hTtP://x"},
      {utHTTP, "https://orvane.example", "http://https://orvane.example"},  // "https://" holds no "http://"
      {utHTTP, "", "http://"},
      {utFTP, "http://files.orvane.example", "ftp://http://files.orvane.example"},
      {utFTP, "FTP://files.orvane.example", "FTP://files.orvane.example"},
      {utFTP, "files.orvane.example", "ftp://files.orvane.example"},
      {utHTTP, "caf\xC9.example", "http://caf\xC9.example"},  // bytes above 127 are left alone
  };
  for (const Case& c : cases) EXPECT_EQ(LinkTarget(c.caption, c.type), c.target) << c.caption;
}

}  // namespace
}  // namespace quillet::widgets
