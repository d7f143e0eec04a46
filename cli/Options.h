#pragma once
// The command line of quillet-research: what to research, how to write it, where to ask.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli {

enum class Command { kCategory, kAffiliate };

struct Options {
  Command command = Command::kCategory;
  std::vector<std::string> topics;  // the topics or terms given as arguments, in order
  std::string topicsFile;           // category: one topic a line; "-" is standard input
  std::string ideasFile;            // affiliate: the categories of an idea list file
  std::optional<std::int32_t> skip;
  std::optional<std::int32_t> max;  // as given; the search keeps it within its bounds
  bool settings = false;            // affiliate: skip and max as the program has them stored
  bool json = false;
  bool excel = false;
  std::string output;   // empty: standard output
  std::string service;  // "host" or "host:port"; empty: as the program takes it
  bool help = false;
};

struct ParsedArguments {
  Options options;
  std::string error;  // not empty: a usage error, to be shown with the usage text
};

// The arguments after the program name. Options may stand anywhere after the command, as
// "--name value" or "--name=value"; "--" makes every later argument a topic.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// What --help prints.
const char* UsageText();

}  // namespace quillet::cli
