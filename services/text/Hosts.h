#pragma once
// Host names as the data is keyed: the host of a page, of a link, of a traffic-rank line
// and of a request all come through here, so that they meet.
#include <string>
#include <string_view>

namespace quillet::services {

// The host of an address: case folded (FoldCase), without scheme, user, path, port, trailing dots and a
// leading "www.". "http://www.Dogs.com:80/a" gives "dogs.com".
std::string NormalizeHost(std::string_view address);

// The normalised host of an address (NormalizeHost) when it is a name a page could have:
// letters, digits, '-', '_' and non-ASCII UTF-8, at least one inner dot, no control byte
// and no ill-formed UTF-8. Empty when it is not.
std::string ValidHost(std::string_view address);

}  // namespace quillet::services
