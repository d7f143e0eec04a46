#pragma once
// Scripted answers of the three outside services for tests that run the real program or
// its forms: a small fixed research world, served by a LoopbackServer route.
#include <string>

#include "tests/support/LoopbackServer.h"

namespace quillet::test {

// Suggestions for any topic: "dog training" (1000), "dog collars" (150), "puppy" (7);
// phrase counts 50,000 and 2,000 for the first two, none for "puppy".
inline std::string CategoryAnswer(const std::string& target) {
  if (target.rfind("/d/searchinventory/suggestion/?term=", 0) == 0)
    return HttpResponse("200 OK",
                        "<table> done <tr><td>&nbsp;1000</td><td>&nbsp;<a href=x>Dog Training</a></td></tr>"
                        "<tr><td>&nbsp;150</td><td>&nbsp;<a href=x>dog collars</a></td></tr>"
                        "<tr><td>&nbsp;7</td><td>&nbsp;<a href=x>puppy</a></td></tr></table>");
  if (target == "/search?p=%22dog+training%22") return HttpResponse("200 OK", "of about <b>50,000</b>");
  if (target == "/search?p=%22dog+collars%22") return HttpResponse("200 OK", "of about <b>2,000</b>");
  return HttpResponse("404 Not Found", "<html>nothing</html>");
}

}  // namespace quillet::test
