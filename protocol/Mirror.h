#pragma once
// A mirror address, as `get --mirror` takes it and the Quillet Data window checks it while it
// is typed: a company's copy of the publishers' files, or a test's server. And the addresses
// of the files got from it as they are shown and recorded: without a user name and password,
// which are sent to the server and never written anywhere else.
#include <string>
#include <string_view>

namespace quillet::protocol {

// Why text cannot be a mirror address, or empty when it can: http:// or https://, a host
// (a name, an IPv4 address or [an IPv6 one]), optionally user:password@ before it and :port
// after it, then optionally a path; no blanks, control characters, '?' or '#'.
std::string MirrorProblem(std::string_view text);

// The address without the user name and password of its authority, if it has any.
std::string WithoutCredentials(std::string_view url);

}  // namespace quillet::protocol
