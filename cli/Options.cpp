#include "cli/Options.h"

#include "net/FetchPage.h"
#include "net/Text.h"
#include "research/Cutting.h"

namespace quillet::cli {
namespace {

enum class Takes { kNothing, kText, kNumber };

struct OptionRule {
  const char* name;
  Takes takes;
  bool category, affiliate;  // the commands that accept it
};

constexpr OptionRule kOptions[] = {
    {"--topics", Takes::kText, true, false},
    {"--ideas", Takes::kText, false, true},
    {"--skip", Takes::kNumber, false, true},
    {"--max", Takes::kNumber, false, true},
    {"--settings", Takes::kNothing, false, true},
    {"--json", Takes::kNothing, true, true},
    {"--excel", Takes::kNothing, true, true},
    {"--output", Takes::kText, true, true},
    {"-o", Takes::kText, true, true},
    {"--service", Takes::kText, true, true},
    {"--help", Takes::kNothing, true, true},
    {"-h", Takes::kNothing, true, true},
};

const OptionRule* FindOption(const std::string& name) {
  for (const OptionRule& rule : kOptions)
    if (name == rule.name) return &rule;
  return nullptr;
}

// "host" or "host:port", also written as "http://host:port/"; empty when it is neither.
std::string ServiceAddress(std::string text) {
  if (LowerAscii(text.substr(0, 7)) == "http://") text.erase(0, 7);
  if (!text.empty() && text.back() == '/') text.pop_back();
  if (text.empty() || text.find_first_of("/\\?#@ \t\r\n") != std::string::npos) return {};
  return SplitUrl("http://" + text).ok ? text : std::string();
}

// Stores one option's value; an error text when it is not acceptable.
std::string Apply(const OptionRule& rule, const std::string& value, Options& o) {
  const std::string name = rule.name;
  if (rule.takes == Takes::kNumber) {
    std::int32_t number = 0;
    if (!ReadInt32(value, number)) return name + " needs a whole number, not \"" + value + "\"";
    (name == "--skip" ? o.skip : o.max) = number;
  } else if (name == "--topics") {
    o.topicsFile = value;
  } else if (name == "--ideas") {
    o.ideasFile = value;
  } else if (name == "--output" || name == "-o") {
    o.output = value;
  } else if (name == "--service") {
    o.service = ServiceAddress(value);
    if (o.service.empty()) return "--service needs HOST or HOST:PORT, not \"" + value + "\"";
  } else if (name == "--settings") {
    o.settings = true;
  } else if (name == "--json") {
    o.json = true;
  } else if (name == "--excel") {
    o.excel = true;
  } else {
    o.help = true;
  }
  if (rule.takes == Takes::kText && value.empty()) return name + " needs a value";
  return {};
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  Options& o = parsed.options;
  if (args.empty()) {
    parsed.error = "say what to research: category or affiliate";
    return parsed;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    o.help = true;
    return parsed;
  }
  if (args[0] == "category") {
    o.command = Command::kCategory;
  } else if (args[0] == "affiliate") {
    o.command = Command::kAffiliate;
  } else {
    parsed.error = "unknown command \"" + args[0] + "\": say category or affiliate";
    return parsed;
  }

  bool onlyTopics = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyTopics || arg.size() < 2 || arg[0] != '-') {
      o.topics.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyTopics = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionRule* rule = FindOption(name);
    if (!rule) {
      parsed.error = "unknown option " + name;
      return parsed;
    }
    if (!(o.command == Command::kCategory ? rule->category : rule->affiliate)) {
      parsed.error = name + " belongs to the other command";
      return parsed;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (rule->takes == Takes::kNothing) {
        parsed.error = name + " takes no value";
        return parsed;
      }
      value = arg.substr(equals + 1);
    } else if (rule->takes != Takes::kNothing) {
      if (++i == args.size()) {
        parsed.error = name + " needs a value";
        return parsed;
      }
      value = args[i];
    }
    parsed.error = Apply(*rule, value, o);
    if (!parsed.error.empty()) return parsed;
  }
  if (o.json && o.excel) parsed.error = "--excel is for CSV, not --json";
  return parsed;
}

const char* UsageText() {
  return "usage:\n"
         "  quillet-research category TOPIC... [--topics FILE] [OPTIONS]\n"
         "  quillet-research affiliate TERM... [--ideas FILE.qlc] [--skip N] [--max N] [--settings] [OPTIONS]\n"
         "\n"
         "category: for each topic, the rows that Start shows on the Category tab:\n"
         "  Category, Demand, Supply, Profitability.\n"
         "affiliate: for each term, the rows that Search shows on the Affiliate Program tab:\n"
         "  Website URL, Rank #, Estimated # of affiliates, Alexa traffic rank.\n"
         "With several topics or terms, a first column names the one each row belongs to.\n"
         "\n"
         "  --topics FILE          more topics, one a line (- reads standard input)\n"
         "  --ideas FILE.qlc       more terms: the categories of an idea list file\n"
         "  --skip N               top results to skip (default 0)\n"
         "  --max N                results to ask for, 2 to 30 (default 20)\n"
         "  --settings             skip and max as Quillet's Settings... dialog has them (Windows)\n"
         "  --json                 JSON Lines instead of CSV\n"
         "  --excel                CSV for this computer's spreadsheet: byte order mark and the\n"
         "                         list separator of the user's locale\n"
         "  -o, --output FILE      write to FILE instead of standard output\n"
         "  --service HOST[:PORT]  the data service (default: QUILLET_SERVICE_HOST, else 127.0.0.1:8790)\n"
         "\n"
         "CSV: a topic, category, term or site that begins with =, +, -, @, a tab or a CR\n"
         "gets a ' before it, inside its quotes, so that a spreadsheet shows it as text and\n"
         "never runs it as a formula; numbers and placeholders stay as they are. Both formats\n"
         "are UTF-8: a byte that is not UTF-8 is written as the ISO 8859-1 character of its\n"
         "value, and a NUL in CSV as U+FFFD. Profitability ? means the Supply's search page\n"
         "never came.\n"
         "\n"
         "Ctrl-C ends the run after the row in progress; what was written stays valid, also\n"
         "when the disk fills up (the file then ends with the last whole row).\n"
         "Exit codes: 0 all done, 1 a topic got no page from the service or the output\n"
         "could not be written, 2 usage, 130 interrupted by Ctrl-C.\n";
}

}  // namespace quillet::cli
