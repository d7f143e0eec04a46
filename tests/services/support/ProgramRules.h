#pragma once
// The program's own readers of the service's pages: the affiliate search's result items,
// link count and traffic rank, and whole category researches, as its lists would show them.
#include <string>
#include <vector>

#include "services/serve/Service.h"

namespace quillet::services::testing {

// A category research of the topic against the service: per row the term, its Demand, its
// Supply and its Profitability.
std::vector<std::vector<std::string>> ResearchRows(Service& service, const std::string& topic);

// The Website URL column of each row that a results page gives.
std::vector<std::string> ReadResultHosts(const std::string& page);
// The Estimated # of affiliates column for a link-count page.
std::string ReadLinkCount(const std::string& page);
// The traffic rank column for a details page.
std::string ReadTrafficRank(const std::string& page);

}  // namespace quillet::services::testing
