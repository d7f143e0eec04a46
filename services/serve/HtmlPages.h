#pragma once
// The HTML pages the service answers with. The program reads them with fixed text markers
// on an ASCII-lower-cased copy, so every page keeps the markers it carries in the one place
// where they are looked for, and nothing echoed from a request can produce a marker: echoed
// text is escaped and always comes after the markers that are searched for first.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/store/Store.h"

namespace quillet::services {

// Term rows after " done ": per row a count cell "<td>&nbsp;N</td>" and a term cell
// "<td>&nbsp;<a href=...>term</a></td>". The topic is echoed only after the table.
std::string RenderSuggestionPage(std::string_view topic, const std::vector<Suggestion>& rows);

// "of about <b>1,234</b>" then, when items are given, an ordered list whose items each hold
// the address (without its scheme) as the first <em>. first is the 1-based number of items[0].
std::string RenderSearchPage(std::string_view query, std::int64_t total, std::int64_t first,
                             const std::vector<ResultItem>& items);

// "traffic rank for HOST" followed by the rank with each digit in a span of its own, then
// "<br>". Without a rank: a page that has neither the marker nor any "<br>".
std::string RenderTrafficPage(std::string_view host, std::optional<std::int64_t> rank);

// A well-formed page without any of the markers, for refused or unknown requests.
std::string RenderMessagePage(std::string_view title, std::string_view message);

// Helpers the renderers share (exposed for the tests).
std::string EscapeHtml(std::string_view text);
// The address as shown in a result: without "http://" or "https://", '<' and '>' escaped
// as %3C and %3E so the closing "</em>" is the first one.
std::string DisplayAddress(std::string_view url);

}  // namespace quillet::services
