#pragma once
// The lines that quillet-services writes with --progress-lines (import, get, demo, status)
// and that the programs which run it read: one event a line, its name first, then its
// fields, separated by tabs. Written and read here only.
//
// A run (import, get, demo):
//   plan      FILES AMOUNT UNIT          the files of the run and what they hold (AMOUNT -1:
//                                        unknown; UNIT "bytes", or "pages" for the demo data)
//   file      N KIND AMOUNT NAME         file N (from 1) starts; AMOUNT -1: unknown
//   progress  N DONE TOTAL RUN_DONE RUN_TOTAL PER_SECOND     in the plan's unit
//   stored    TEXT                       what a file or the run stored
//   failed    TEXT ADVICE                a file skipped, or a file or the run that failed;
//                                        ADVICE: what the user can do about it, or empty
//   note      TEXT                       a retry, a wait
//   done      STATUS                     the exit status, last
// The state of a database (status):
//   database  PATH BYTES                 BYTES -1: the file is not there
//   counts    PAGES TERMS RANKED
//   service   STATE                      "running", "stopped" or "unknown"
//   userdata  0|1                        it holds imported or fetched data
//   kept      PATH BYTES                 the file kept from before the demo data
//   source    AT KIND STORED BYTES FIRST_LINES ADDRESS       one per source recorded
//   done      STATUS
//
// Fields never hold a tab or a line end: the encoder makes them blanks. A reader takes the
// fields it knows and ignores any after them, so that a field added at the end does not
// break an older reader.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::protocol {

enum class Event {
  kPlan,
  kFile,
  kProgress,
  kStored,
  kFailed,
  kNote,
  kDone,
  kDatabase,
  kCounts,
  kService,
  kUserData,
  kKept,
  kSource,
  kUnknown,  // a line of no known event, or with fewer fields than its event has
};

// The unit of a run's amounts.
inline constexpr const char* kUnitBytes = "bytes";
inline constexpr const char* kUnitPages = "pages";

// One line as read.
struct Line {
  Event event = Event::kUnknown;
  std::vector<std::string> fields;  // after the event's name

  // Field i, or empty when there is none.
  const std::string& Text(std::size_t i) const;
  // Field i as a whole number; -1 when it is none or missing, and the nearest bound when it
  // is out of range, so that no line can make a reader overflow.
  std::int64_t Number(std::size_t i) const;
};

// The event's line, without its end. Throws std::logic_error when the number of fields is
// not the event's: a writer's mistake, caught by its tests.
std::string Encode(Event event, std::initializer_list<std::string> fields);
// A line split into its event and fields (a CR before the end is dropped).
Line Decode(std::string_view line);

// The name an event is written with.
std::string_view EventName(Event event);

}  // namespace quillet::protocol
