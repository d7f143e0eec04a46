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
// "<td>&nbsp;<a href=...>term</a></td>" (SuggestionText). The topic is echoed only after
// the table.
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
// The address as shown in a result, which the program reads the result's site from: the
// host the store keys the page by (no scheme, no user part), then '/' and the rest, with
// every "://" as %3A%2F%2F (the program would take the host behind it), and blanks,
// control bytes, '<', '>', '&' and '"' percent-encoded.
std::string DisplayAddress(std::string_view url);
// A stored term as the suggestion page shows it: without '<', '>' and ';' (the program cuts
// the term on those, and an entity would end in ';'), control bytes as blanks. Every term
// the importer accepts is shown as it is.
std::string SuggestionText(std::string_view term);

}  // namespace quillet::services
