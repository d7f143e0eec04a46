#include "services/serve/HtmlPages.h"

#include <algorithm>

#include "services/text/Strings.h"

namespace quillet::services {
namespace {

std::string Document(std::string_view title, std::string_view body) {
  std::string page;
  page.reserve(body.size() + 200);
  page += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  page += EscapeHtml(title);
  page += "</title></head>\n<body>\n";
  page += body;
  page += "\n</body></html>\n";
  return page;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string DisplayAddress(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // The scheme goes; a stored address always has one, but one written into the store by
  // another tool may not.
  size_t scheme = url.find("://");
  if (scheme != std::string_view::npos && scheme < url.find_first_of("/?#")) url.remove_prefix(scheme + 3);
  size_t pathAt = std::min(url.find_first_of("/?#"), url.size());
  std::string_view authority = url.substr(0, pathAt);
  std::string_view rest = url.substr(pathAt);
  // The host the store keys the page by (NormalizeHost): without any user part.
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  // An empty port says nothing, and its ':' with the path's "//" would read as "://".
  while (!authority.empty() && authority.back() == ':') authority.remove_suffix(1);
  std::string shown = Lower(authority);
  // The program takes the host from the first "http://" and up to the next '/': the host is
  // always followed by a '/', and no "://" comes after it.
  if (!rest.empty() && rest.front() != '/') shown += '/';
  shown += rest;
  std::string out;
  out.reserve(shown.size() + 16);
  for (size_t i = 0; i < shown.size(); ++i) {
    auto byte = static_cast<unsigned char>(shown[i]);
    if (shown.compare(i, 3, "://") == 0) {
      out += "%3A%2F%2F";
      i += 2;
    } else if (byte <= 0x20 || byte == 0x7F || byte == '<' || byte == '>' || byte == '&' || byte == '"') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += shown[i];
    }
  }
  return out;
}

std::string SuggestionText(std::string_view term) {
  std::string out;
  out.reserve(term.size());
  for (char c : term) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '<' || c == '>' || c == ';') continue;
    out += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  return out;
}

std::string RenderSuggestionPage(std::string_view topic, const std::vector<Suggestion>& rows) {
  // The marker " done " is cut on first, so it must be the first one on the page: nothing
  // from the request comes before it, and the fixed text before it avoids the word.
  std::string body;
  body.reserve(200 + rows.size() * 160);
  body += "<h1>Keyword suggestions</h1>\n<p>Count of searches done in the last month";
  body += " (" + std::to_string(rows.size()) + " terms).</p>\n";
  body += "<table>\n<tr><th>Searches</th><th>Term</th></tr>\n";
  for (const Suggestion& row : rows) {
    body += "<tr><td>&nbsp;";
    body += std::to_string(row.searches);
    body += "</td><td>&nbsp;<a href=\"/d/searchinventory/suggestion/?term=";
    body += PercentEncode(row.term);
    body += "&amp;mkt=us&amp;lang=en_US\">";
    // Not entity-escaped: the program reads the term as the text after the link's '>' and
    // would lose everything up to an entity's ';'.
    body += SuggestionText(row.term);
    body += "</a></td></tr>\n";
  }
  body += "</table>\n<p>Suggestions for: ";
  body += EscapeHtml(topic);
  body += "</p>";
  return Document("Keyword suggestions", body);
}

std::string RenderSearchPage(std::string_view query, std::int64_t total, std::int64_t first,
                             const std::vector<ResultItem>& items) {
  // "of about" comes before any echo of the query, so the first one is always this one.
  std::string body;
  body.reserve(300 + items.size() * 300);
  body += "<h1>Web search</h1>\n<p>Results ";
  if (items.empty()) {
    body += "0 ";
  } else {
    body += std::to_string(first) + " - " + std::to_string(first + static_cast<std::int64_t>(items.size()) - 1) + " ";
  }
  body += "of about <b>";
  body += WithThousands(total);
  body += "</b> for <i>";
  body += EscapeHtml(query);
  body += "</i></p>\n";
  if (!items.empty()) {
    body += "<ol start=\"" + std::to_string(first) + "\">\n";
    for (const ResultItem& item : items) {
      body += "<li><a href=\"";
      body += EscapeHtml(item.url);
      body += "\">";
      body += EscapeHtml(item.title);
      body += "</a><p>";
      body += EscapeHtml(item.snippet);
      body += "</p><em>";
      body += DisplayAddress(item.url);
      body += "</em></li>\n";
    }
    body += "</ol>";
  }
  return Document("Web search", body);
}

std::string RenderTrafficPage(std::string_view host, std::optional<std::int64_t> rank) {
  std::string body = "<h1>Site details</h1>\n";
  if (!rank) {
    // No "<br>" anywhere: without one the program finds no rank and shows its placeholder.
    body += "<p>No traffic data is known for ";
    body += EscapeHtml(host);
    body += ".</p>";
    return Document("Site details", body);
  }
  // The host follows a blank, never a '>', so none of its digits can be taken for the rank.
  body += "<p>Three-month traffic rank for ";
  body += EscapeHtml(host);
  body += ": <b>";
  for (char digit : std::to_string(*rank)) {
    body += "<span>";
    body += digit;
    body += "</span>";
  }
  body += "</b><br>\nLower is busier.</p>";
  return Document("Site details", body);
}

std::string RenderMessagePage(std::string_view title, std::string_view message) {
  return Document(title, "<h1>" + EscapeHtml(title) + "</h1>\n<p>" + EscapeHtml(message) + "</p>");
}

}  // namespace quillet::services
