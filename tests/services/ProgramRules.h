#pragma once
// The program's affiliate search reading single pages: the result items of a results page,
// the link count and the traffic rank, as its list would show them.
#include <string>
#include <vector>

namespace quillet::services::testing {

// The Website URL column of each row that a results page gives.
std::vector<std::string> ReadResultHosts(const std::string& page);
// The Estimated # of affiliates column for a link-count page.
std::string ReadLinkCount(const std::string& page);
// The traffic rank column for a details page.
std::string ReadTrafficRank(const std::string& page);

}  // namespace quillet::services::testing
