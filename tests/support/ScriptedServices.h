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

// The affiliate program world for "dog training": a results page (any n and b) with three
// items (www.dogtraining.com, clicker.example.org, and one without a usable address), the
// link counts 1,234 and 56 of the two sites, and their traffic ranks 427 and 9. Everything
// else is answered by CategoryAnswer.
inline std::string AffiliateAnswer(const std::string& target) {
  const auto item = [](const std::string& address) {
    return "<li><div><a class=yschttl href=\"http://r.example/\">A <b>title</b></a></div>"
           "<div class=abstr>Abstract.</div><em class=yschurl>" +
           address + "</em></li>";
  };
  if (target.rfind("/search?p=%22dog+training%22&ei=UTF-8&", 0) == 0)
    return HttpResponse("200 OK",
                        "<ul><li><a href=/images>Images</a></li></ul><p>Results 1 - 3 of about "
                        "<b>1,200</b> for <b>dog training</b></p><ol>" +
                            item("WWW.DogTraining.com/classes/index.html") + item("http://Clicker.Example.org/dogs") +
                            item("ab") + "</ol>");
  if (target == "/search?p=link%3Ahttp%3A%2F%2Fwww.dogtraining.com")
    return HttpResponse("200 OK", "Results 1 - 10 of about <b>1,234</b> linking to www.dogtraining.com");
  if (target == "/search?p=link%3Ahttp%3A%2F%2Fclicker.example.org")
    return HttpResponse("200 OK", "Results 1 - 10 of about <b>56</b> linking to clicker.example.org");
  if (target == "/data/details/?url=www.dogtraining.com")
    return HttpResponse("200 OK", "<b>Traffic Rank for dogtraining.com:</b> <a>4</a><a>2</a><a>7</a><br>");
  if (target == "/data/details/?url=www.clicker.example.org")
    return HttpResponse("200 OK", "<b>Traffic Rank for clicker.example.org:</b> <a>9</a><br>");
  return CategoryAnswer(target);
}

}  // namespace quillet::test
