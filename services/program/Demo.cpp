#include "services/program/Demo.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "services/store/sqlite/SqliteStore.h"

namespace quillet::services {
namespace {

struct Niche {
  const char* head;
  std::vector<const char*> hostWords;
  std::vector<const char*> related;
};

// Our own niches. Related phrases become terms of their own and fill the page texts.
const std::vector<Niche>& Niches() {
  static const std::vector<Niche> kNiches = {
      {"dog training",
       {"dog", "puppy", "canine", "paws"},
       {"puppy training", "clicker training", "dog obedience", "leash training", "crate training",
        "dog training collars", "dog behavior", "dog treats", "agility training", "house training"}},
      {"cat care",
       {"cat", "kitty", "feline", "whiskers"},
       {"cat litter", "cat food", "cat toys", "kitten care", "cat grooming", "cat health", "scratching posts",
        "cat trees", "indoor cats", "cat allergies"}},
      {"home brewing",
       {"brew", "hops", "malt", "ale"},
       {"beer kits", "brewing equipment", "craft beer", "wort chiller", "ale yeast", "hops varieties",
        "all grain brewing", "kegging", "brewing recipes", "home brew supplies"}},
      {"bed & breakfast",
       {"inn", "stay", "cottage", "guesthouse"},
       {"b&b deals", "country inns", "weekend getaways", "romantic getaways", "guest houses", "b&b reviews",
        "breakfast menus", "inn keepers", "seaside cottages", "farm stays"}},
      {"salt & pepper",
       {"spice", "grinder", "pantry", "season"},
       {"pepper mills", "salt grinders", "sea salt", "black pepper", "spice racks", "himalayan salt", "peppercorns",
        "seasoning blends", "spice gifts", "kitchen spices"}},
      {"fly fishing",
       {"fly", "trout", "angler", "reel"},
       {"fly rods", "fly reels", "trout flies", "fly tying", "fishing waders", "casting lessons", "river fishing",
        "fishing knots", "salmon fishing", "fishing vests"}},
      {"wedding planning",
       {"bride", "wedding", "vows", "bridal"},
       {"wedding dresses", "wedding favors", "wedding invitations", "bridal showers", "wedding cakes", "wedding venues",
        "wedding rings", "wedding photography", "wedding music", "honeymoon ideas"}},
      {"weight loss",
       {"slim", "fit", "diet", "lean"},
       {"diet plans", "low carb diets", "weight loss pills", "calorie counting", "fat burning", "healthy recipes",
        "weight loss tips", "meal plans", "diet shakes", "belly fat"}},
      {"golf equipment",
       {"golf", "fairway", "tee", "birdie"},
       {"golf clubs", "golf balls", "golf bags", "golf shoes", "putters", "golf drivers", "golf gloves", "golf carts",
        "golf lessons", "golf grips"}},
      {"scuba diving",
       {"scuba", "dive", "reef", "ocean"},
       {"dive computers", "scuba gear", "wetsuits", "dive trips", "diving certification", "dive masks", "coral reefs",
        "underwater photography", "dive watches", "snorkeling gear"}},
      {"guitar lessons",
       {"guitar", "chord", "strum", "fret"},
       {"guitar chords", "acoustic guitars", "electric guitars", "guitar tabs", "guitar amps", "bass guitar",
        "guitar strings", "guitar scales", "fingerpicking", "guitar pedals"}},
      {"organic gardening",
       {"garden", "compost", "seed", "green"},
       {"composting", "raised beds", "heirloom seeds", "garden tools", "vegetable gardens", "organic fertilizer",
        "companion planting", "herb gardens", "garden pests", "mulching"}},
      {"digital cameras",
       {"camera", "lens", "pixel", "shutter"},
       {"camera lenses", "digital slr", "camera bags", "memory cards", "tripods", "camera reviews", "photo printers",
        "compact cameras", "camera batteries", "photo editing"}},
      {"home security",
       {"secure", "alarm", "guard", "lock"},
       {"security cameras", "burglar alarms", "door locks", "motion sensors", "safes", "security lights",
        "alarm monitoring", "smart locks", "window locks", "home safes"}},
      {"credit repair",
       {"credit", "score", "debt", "loan"},
       {"credit scores", "credit reports", "debt consolidation", "bad credit loans", "credit cards", "debt relief",
        "credit counseling", "loan rates", "credit limits", "payday loans"}},
      {"yoga classes",
       {"yoga", "zen", "lotus", "asana"},
       {"yoga mats", "yoga poses", "hot yoga", "yoga retreats", "yoga clothes", "meditation", "prenatal yoga",
        "yoga videos", "yoga blocks", "breathing exercises"}},
      {"baby products",
       {"baby", "tot", "cradle", "nursery"},
       {"baby strollers", "car seats", "baby monitors", "cloth diapers", "baby cribs", "baby clothes",
        "nursery furniture", "baby bottles", "baby carriers", "teething toys"}},
      {"coffee makers",
       {"coffee", "bean", "brew", "espresso"},
       {"espresso machines", "coffee grinders", "coffee beans", "french press", "drip coffee", "coffee pods",
        "cold brew", "coffee mugs", "latte art", "milk frothers"}},
      {"car audio",
       {"audio", "bass", "amp", "sound"},
       {"car speakers", "car amplifiers", "subwoofers", "car stereos", "head units", "speaker wire", "car radios",
        "sound deadening", "car alarms", "dash cams"}},
      {"hair loss",
       {"hair", "scalp", "follicle", "mane"},
       {"hair loss treatment", "hair growth", "hair transplants", "thinning hair", "hair vitamins", "hair loss shampoo",
        "bald spots", "hair regrowth", "wigs", "scalp care"}},
      {"model trains",
       {"train", "rail", "loco", "depot"},
       {"train sets", "ho scale", "n scale", "model railroads", "train tracks", "locomotives", "train layouts",
        "model scenery", "toy trains", "railroad models"}},
      {"wine tasting",
       {"wine", "vine", "cellar", "vino"},
       {"red wine", "white wine", "wine clubs", "wine racks", "wine glasses", "wine tours", "wine pairing",
        "wine cellars", "sparkling wine", "wine gifts"}},
      {"running shoes",
       {"run", "stride", "pace", "sprint"},
       {"trail running", "marathon training", "running socks", "running watches", "running shorts", "shoe inserts",
        "running tips", "5k training", "running gear", "track spikes"}},
      {"aquarium fish",
       {"aqua", "reef", "tank", "fin"},
       {"fish tanks", "tropical fish", "aquarium filters", "goldfish", "aquarium plants", "betta fish",
        "aquarium lights", "saltwater aquarium", "fish food", "aquarium heaters"}},
      {"knitting patterns",
       {"knit", "yarn", "stitch", "purl"},
       {"knitting needles", "yarn stores", "crochet patterns", "sock knitting", "knitted scarves", "baby blankets",
        "knitting kits", "wool yarn", "cable knitting", "knitting for beginners"}},
      {"solar panels",
       {"solar", "sun", "volt", "grid"},
       {"solar energy", "solar lights", "solar chargers", "solar water heaters", "solar inverters", "off grid power",
        "solar batteries", "solar roof", "solar kits", "wind turbines"}},
      {"skin care",
       {"skin", "glow", "derma", "pure"},
       {"anti aging cream", "acne treatment", "face masks", "sunscreen", "moisturizers", "eye cream", "skin serums",
        "dry skin", "face wash", "natural skin care"}},
      {"camping gear",
       {"camp", "trail", "tent", "summit"},
       {"camping tents", "sleeping bags", "camp stoves", "hiking boots", "backpacks", "camping chairs", "lanterns",
        "water filters", "camping food", "hammocks"}},
      {"piano lessons",
       {"piano", "keys", "sonata", "melody"},
       {"digital pianos", "piano chords", "sheet music", "keyboard lessons", "piano scales", "piano teachers",
        "piano tuning", "music theory", "grand pianos", "piano books"}},
      {"web hosting",
       {"host", "server", "cloud", "byte"},
       {"cheap web hosting", "domain names", "vps hosting", "dedicated servers", "cloud hosting", "website builders",
        "email hosting", "ssl certificates", "reseller hosting", "wordpress hosting"}},
      {"tattoo designs",
       {"tattoo", "ink", "needle", "tribal"},
       {"tribal tattoos", "tattoo removal", "tattoo artists", "small tattoos", "tattoo ideas", "tattoo aftercare",
        "tattoo flash", "henna tattoos", "tattoo fonts", "tattoo kits"}},
      {"horse riding",
       {"horse", "saddle", "stable", "pony"},
       {"riding boots", "horse saddles", "riding lessons", "horse feed", "horse trailers", "riding helmets", "dressage",
        "horse grooming", "pony rides", "horse care"}},
      {"chess strategy",
       {"chess", "knight", "rook", "gambit"},
       {"chess openings", "chess sets", "chess tactics", "chess puzzles", "chess clocks", "endgame tips", "chess books",
        "online chess", "chess tournaments", "chess for kids"}},
      {"kitchen knives",
       {"knife", "blade", "edge", "chef"},
       {"chef knives", "knife sharpeners", "knife sets", "japanese knives", "cutting boards", "steak knives",
        "paring knives", "knife blocks", "sharpening stones", "bread knives"}},
      {"bird watching",
       {"bird", "wing", "feather", "nest"},
       {"bird feeders", "binoculars", "bird houses", "bird seed", "field guides", "hummingbird feeders", "bird baths",
        "bird calls", "owl boxes", "spotting scopes"}},
      {"mortgage rates",
       {"mortgage", "home", "rate", "lend"},
       {"home loans", "refinance rates", "mortgage calculator", "fixed rate mortgage", "first time buyers",
        "home equity loans", "reverse mortgage", "mortgage brokers", "closing costs", "down payment"}},
  };
  return kNiches;
}

const std::vector<const char*> kPrefixes = {"best", "cheap", "free", "discount", "top", "buy", "used", "online"};
const std::vector<const char*> kSuffixes = {
    "tips",     "reviews",  "for beginners", "guide",  "online", "near me", "prices", "deals", "ideas",  "books",
    "supplies", "for sale", "classes",       "how to", "uk",     "store",   "forum",  "kits",  "videos", "secrets"};
const std::vector<const char*> kHostSuffixes = {"hub",   "world",  "guide",  "zone", "central", "pro",  "tips",
                                                "depot", "online", "mart",   "land", "101",     "hq",   "insider",
                                                "daily", "corner", "planet", "shop", "expert",  "place"};
const std::vector<const char*> kHostPrefixes = {"", "", "", "the", "my", "best", "all", "just", "go", "i"};
const std::vector<const char*> kTlds = {"com", "com", "com", "com", "net", "org", "info", "co.uk", "com.au", "biz"};

const std::vector<const char*> kSentences = {
    "If you are looking for {K}, start with the basics.",
    "Many readers ask us about {K} and {R}.",
    "Our team compared {R} options over the last year.",
    "The right {V} kit makes {K} much easier.",
    "Prices for {K} vary a lot from one shop to the next.",
    "Here is what we learned about {R} this season.",
    "Read our notes on {K} before you buy anything.",
    "A good {V} guide covers {R} as well.",
    "Most people get started with {K} in a weekend.",
    "We update this page whenever {R} changes.",
    "Compare {K} deals and save money.",
    "Experts agree that {R} matters more than most think.",
    "Our forum has a long thread on {K}.",
    "Newcomers to {V} circles often ask about {R}.",
    "This article was written by our editors.",
    "Thanks for reading and come back soon.",
    "Sign up for our newsletter for more news.",
    "Prices were checked at the time of writing.",
};
const std::vector<const char*> kTitles = {
    "{K}: a beginner's guide", "{K} explained",   "10 things to know about {K}", "{K} reviews and prices",
    "The truth about {K}",     "{K} made simple", "Our favourite {K}",           "{K} questions answered",
};
const std::vector<const char*> kPaths = {"", "articles/", "blog/", "guides/", "reviews/", "news/"};

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  double Normal() {
    double u = std::max(Unit(), 1e-12), v = Unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }

 private:
  std::uint64_t state_;
};

// Picks an index with probability proportional to its weight (cumulative weights given).
size_t Pick(Random& random, const std::vector<double>& cumulative) {
  double target = random.Unit() * cumulative.back();
  size_t index =
      static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), target) - cumulative.begin());
  return std::min(index, cumulative.size() - 1);
}

std::vector<double> Cumulative(const std::vector<double>& weights) {
  std::vector<double> sums(weights.size());
  double total = 0;
  for (size_t i = 0; i < weights.size(); ++i) sums[i] = total += weights[i];
  return sums;
}

// Two significant digits, the way keyword tools round their averages.
std::int64_t RoundVolume(double value) {
  if (value < 10) return 10;
  double scale = std::pow(10.0, std::floor(std::log10(value)) - 1);
  return static_cast<std::int64_t>(std::llround(value / scale) * scale);
}

std::string Fill(std::string_view pattern, const std::string& keyword, const std::string& related,
                 const std::string& vocab) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}') {
      char slot = pattern[i + 1];
      out += slot == 'K' ? keyword : slot == 'R' ? related : vocab;
      i += 2;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string Capitalized(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string Slug(const std::string& text) {
  std::string slug;
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) slug += c;
    else if (c >= 'A' && c <= 'Z') slug += static_cast<char>(c - 'A' + 'a');
    else if (!slug.empty() && slug.back() != '-') slug += '-';
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return slug;
}

struct DemoKeyword {
  std::string term;
  std::int64_t volume;
  size_t niche;
};

std::vector<DemoKeyword> MakeKeywords(Random& random) {
  std::vector<DemoKeyword> keywords;
  const auto& niches = Niches();
  for (size_t n = 0; n < niches.size(); ++n) {
    double headVolume = std::exp(std::log(15000.0) + random.Unit() * std::log(60.0));  // 15k .. 900k
    std::vector<std::pair<std::string, double>> bases = {{niches[n].head, headVolume}};
    for (const char* related : niches[n].related)
      bases.push_back({related, headVolume * std::exp(std::log(0.02) + random.Unit() * std::log(30.0))});
    for (const auto& [base, volume] : bases) {
      keywords.push_back({base, RoundVolume(volume), n});
      // Each base gets a few of the modifiers; the share of searches falls off steeply.
      for (const char* prefix : kPrefixes) {
        if (random.Unit() < 0.35)
          keywords.push_back({std::string(prefix) + " " + base,
                              RoundVolume(volume * std::exp(-2.0 - 1.5 * random.Unit() + 0.6 * random.Normal())), n});
      }
      for (const char* suffix : kSuffixes) {
        if (random.Unit() < 0.4)
          keywords.push_back({base + " " + suffix,
                              RoundVolume(volume * std::exp(-2.5 - 2.0 * random.Unit() + 0.7 * random.Normal())), n});
      }
    }
  }
  return keywords;
}

struct DemoHost {
  std::string name;  // as shown in addresses, possibly with "www."
  size_t niche;
  double weight;  // popularity
};

std::vector<DemoHost> MakeHosts(Random& random, int count) {
  std::vector<DemoHost> hosts;
  std::set<std::string> taken;
  const auto& niches = Niches();
  for (int i = 0; i < count; ++i) {
    size_t niche = static_cast<size_t>(i) % niches.size();
    const auto& words = niches[niche].hostWords;
    std::string base = std::string(kHostPrefixes[random.Below(kHostPrefixes.size())]) +
                       words[random.Below(words.size())] + kHostSuffixes[random.Below(kHostSuffixes.size())];
    std::string tld = kTlds[random.Below(kTlds.size())];
    std::string name = base + "." + tld;
    for (int k = 2; taken.count(name); ++k) name = base + std::to_string(k) + "." + tld;
    taken.insert(name);
    // Popularity follows a power law over a random order of the hosts.
    double weight = 1.0 / std::pow(1.0 + random.Unit() * count, 1.1);
    hosts.push_back({(random.Unit() < 0.6 ? "www." : "") + name, niche, weight});
  }
  return hosts;
}

}  // namespace

DemoSummary WriteDemo(StoreWriter& writer, const DemoOptions& options, const DemoProgress& progress) {
  DemoSummary summary;
  Random random(options.seed);
  std::vector<DemoKeyword> keywords = MakeKeywords(random);
  std::vector<DemoHost> hosts = MakeHosts(random, std::max(1, options.hosts));
  const size_t nicheCount = Niches().size();
  for (const DemoKeyword& keyword : keywords) {
    if (writer.PutKeyword(keyword.term, keyword.volume) == StoreWriter::Put::Added) ++summary.keywords;
  }

  // Per niche: its keywords weighted so that pages favour big terms, but not in proportion,
  // which makes some terms much better served than others; and its hosts by popularity.
  std::vector<std::vector<size_t>> nicheKeywords(nicheCount), nicheHosts(nicheCount);
  std::vector<std::vector<double>> keywordSums(nicheCount), hostSums(nicheCount);
  for (size_t k = 0; k < keywords.size(); ++k) nicheKeywords[keywords[k].niche].push_back(k);
  for (size_t h = 0; h < hosts.size(); ++h) nicheHosts[hosts[h].niche].push_back(h);
  for (size_t n = 0; n < nicheCount; ++n) {
    std::vector<double> weights;
    for (size_t k : nicheKeywords[n])
      weights.push_back(std::pow(static_cast<double>(keywords[k].volume), 0.6) * std::exp(random.Normal()));
    keywordSums[n] = Cumulative(weights);
    weights.clear();
    for (size_t h : nicheHosts[n]) weights.push_back(hosts[h].weight);
    if (weights.empty()) weights.push_back(0);
    hostSums[n] = Cumulative(weights);
  }
  std::vector<double> allHostWeights;
  for (const DemoHost& host : hosts) allHostWeights.push_back(host.weight);
  std::vector<double> allHostSums = Cumulative(allHostWeights);
  // Pages are spread over hosts by the square root of popularity.
  std::vector<double> pageWeights;
  for (const DemoHost& host : hosts) pageWeights.push_back(std::sqrt(host.weight));
  std::vector<double> pageSums = Cumulative(pageWeights);

  // Results are listed in the order pages are stored: first one page of every host, popular
  // hosts first, then a second page of every host that has one, and so on.
  std::vector<std::pair<int, size_t>> pageOrder;  // (page number on its host, host)
  std::vector<int> pagesSoFar(hosts.size(), 0);
  for (int p = 0; p < options.pages; ++p) {
    size_t h = Pick(random, pageSums);
    pageOrder.push_back({pagesSoFar[h]++, h});
  }
  std::stable_sort(pageOrder.begin(), pageOrder.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return hosts[a.second].weight > hosts[b.second].weight;
  });
  std::vector<size_t> pageHosts;
  for (const auto& entry : pageOrder) pageHosts.push_back(entry.second);

  PageInput page;
  std::map<size_t, int> pagesOnHost;
  std::vector<bool> hostStored(hosts.size(), false);
  std::set<size_t> linked;
  for (int p = 0; p < options.pages; ++p) {
    size_t h = pageHosts[static_cast<size_t>(p)];
    const DemoHost& host = hosts[h];
    size_t n = host.niche;
    const Niche& niche = Niches()[n];
    const DemoKeyword& main = keywords[nicheKeywords[n][Pick(random, keywordSums[n])]];
    std::string title = Capitalized(Fill(kTitles[random.Below(kTitles.size())], main.term, "", ""));
    std::string text;
    int sentences = 3 + static_cast<int>(random.Below(4));
    for (int s = 0; s < sentences; ++s) {
      const std::string& keyword = s == 0 ? main.term : keywords[nicheKeywords[n][Pick(random, keywordSums[n])]].term;
      std::string related = niche.related[random.Below(niche.related.size())];
      std::string vocab = niche.hostWords[random.Below(niche.hostWords.size())];
      if (!text.empty()) text += ' ';
      text += Fill(kSentences[random.Below(kSentences.size())], keyword, related, vocab);
    }
    page.links.clear();
    linked.clear();
    int linkCount = static_cast<int>(random.Below(7));
    for (int l = 0; l < linkCount; ++l) {
      bool sameNiche = random.Unit() < 0.8 && !nicheHosts[n].empty();
      size_t to = sameNiche ? nicheHosts[n][Pick(random, hostSums[n])] : Pick(random, allHostSums);
      page.links.push_back("http://" + hosts[to].name + "/");
      if (to != h) linked.insert(to);
    }
    int number = ++pagesOnHost[h];
    page.url = "http://" + host.name + "/" + kPaths[random.Below(kPaths.size())] + Slug(main.term) + "-" +
               std::to_string(number) + ".html";
    page.title = std::move(title);
    page.text = std::move(text);
    if (writer.AddPage(page)) {
      ++summary.pages;
      summary.links += static_cast<std::int64_t>(linked.size());
      hostStored[h] = true;
      for (size_t to : linked) hostStored[to] = true;
    }
    if (progress && (p + 1) % 10000 == 0) progress(p + 1, options.pages);
  }

  // Traffic ranks follow popularity with some noise; about one host in ten has none.
  std::vector<size_t> order(hosts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return hosts[a].weight != hosts[b].weight ? hosts[a].weight > hosts[b].weight : a < b;
  });
  for (size_t position = 0; position < order.size(); ++position) {
    if (random.Unit() < 0.1) continue;
    double share = static_cast<double>(position) / static_cast<double>(order.size());
    double rank = std::exp(std::log(900.0) + share * std::log(20000.0) + 0.4 * random.Normal());
    std::int64_t value = std::clamp<std::int64_t>(std::llround(rank), 1, 2000000000);
    if (writer.PutRank(hosts[order[position]].name, value) == StoreWriter::Put::Added) ++summary.ranks;
  }
  summary.hosts = std::count(hostStored.begin(), hostStored.end(), true);
  writer.RecordSource({kDemoSource, kDemoSource, 0, summary.keywords + summary.pages + summary.ranks, 0, {}, 0});
  return summary;
}

bool HoldsUserData(const std::vector<SourceRecord>& sources, const StoreCounts& counts) {
  bool demo = false;
  for (const SourceRecord& source : sources) {
    if (source.kind != kDemoSource) return true;
    demo = true;
  }
  return !demo && (counts.pages > 0 || counts.terms > 0 || counts.ranked > 0);
}

std::string KeptBeforeDemo(const std::string& path) { return path + ".before-demo"; }

void RemoveDatabase(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    std::filesystem::remove(std::filesystem::path(std::u8string(path.begin(), path.end())) += suffix, ignored);
}

void TakeBackKept(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string keptName = KeptBeforeDemo(path);
  fs::path target(std::u8string(path.begin(), path.end())), kept(std::u8string(keptName.begin(), keptName.end()));
  auto suffixed = [](fs::path p, const char* suffix) { return p += suffix; };
  if (!fs::exists(kept)) throw std::runtime_error("there is no " + keptName + " to take back");
  std::error_code ignored, moved;
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(suffixed(target, suffix), ignored);
  const bool log = fs::exists(suffixed(kept, "-wal"));
  if (log) fs::rename(suffixed(kept, "-wal"), suffixed(target, "-wal"), moved);
  if (!moved) fs::rename(kept, target, moved);
  if (moved) {
    if (log) fs::rename(suffixed(target, "-wal"), suffixed(kept, "-wal"), ignored);
    throw std::runtime_error("cannot put " + keptName + " back (" + moved.message() +
                             "); is the database open in another program, such as a running data service?");
  }
  fs::remove(suffixed(kept, "-shm"), ignored);
}

void PutInPlace(const std::string& path, const std::string& built, bool keep) {
  namespace fs = std::filesystem;
  // Names are UTF-8, as SQLite takes them: a path made from a plain std::string would be read
  // in the ANSI code page on Windows.
  fs::path target(std::u8string(path.begin(), path.end()));
  auto suffixed = [](fs::path p, const char* suffix) { return p += suffix; };
  // A log and index of the file being replaced belong to it alone: left beside the new file,
  // the new file would be read through them. A file kept goes with its log (it may hold
  // committed imports); its index is made again from the log when it is opened.
  std::error_code ignored;
  if (keep && fs::exists(target)) {
    const std::string keptName = KeptBeforeDemo(path);
    fs::path kept(std::u8string(keptName.begin(), keptName.end()));
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(suffixed(kept, suffix), ignored);
    std::error_code moved;
    const bool log = fs::exists(suffixed(target, "-wal"));
    if (log) fs::rename(suffixed(target, "-wal"), suffixed(kept, "-wal"), moved);
    if (!moved) fs::rename(target, kept, moved);
    if (moved) {
      if (log) fs::rename(suffixed(kept, "-wal"), suffixed(target, "-wal"), ignored);
      RemoveDatabase(built);
      throw std::runtime_error("cannot keep " + path + " aside as " + keptName + " (" + moved.message() +
                               "); nothing was replaced");
    }
  }
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(suffixed(target, suffix), ignored);
  std::error_code renamed;
  fs::rename(fs::path(std::u8string(built.begin(), built.end())), target, renamed);
  if (renamed) {
    RemoveDatabase(built);
    throw std::runtime_error("cannot replace " + path + " (" + renamed.message() +
                             "); is it open in another program, such as a running data service?");
  }
}

namespace {

// Writes a new SQLite file beside path with fill, then puts it in place.
void ReplaceDatabase(const std::string& path, bool keep, const std::function<void(SqliteWriter&)>& fill) {
  namespace fs = std::filesystem;
  fs::path target(std::u8string(path.begin(), path.end()));
  if (target.has_parent_path()) fs::create_directories(target.parent_path());
  const std::string building = path + ".building";
  RemoveDatabase(building);
  try {
    SqliteWriter writer(building, SqliteWriter::Mode::Bulk);
    fill(writer);
    writer.Commit();
  } catch (...) {
    RemoveDatabase(building);
    throw;
  }
  PutInPlace(path, building, keep);
}

}  // namespace

DemoSummary BuildDemo(const std::string& path, const DemoOptions& options, const DemoProgress& progress, bool keep) {
  DemoSummary summary;
  ReplaceDatabase(path, keep, [&](SqliteWriter& writer) { summary = WriteDemo(writer, options, progress); });
  return summary;
}

void BuildEmpty(const std::string& path) {
  ReplaceDatabase(path, false, [](SqliteWriter&) {});
}

}  // namespace quillet::services
