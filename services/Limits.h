#pragma once
// Every bound the data service puts on what a client or an input file can make it spend, in
// one place (services/README.md lists them). A shared server must stay fair to every client
// and never run out of memory because of one request or one line.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quillet::services::limits {

using std::chrono::milliseconds;

// Serving.
// Request line and headers together; past it 414 (the line alone) or 431.
constexpr std::size_t kMaxRequestHeader = 16 * 1024;
// A kept-alive or new connection may wait this long for the first byte of a request...
constexpr milliseconds kIdleTimeout{5000};
// ...and the whole request header must then arrive within this, however it trickles in.
constexpr milliseconds kRequestDeadline{10000};
// A client that does not read its answer is dropped after this.
constexpr milliseconds kWriteDeadline{10000};
// After a refusal, unread input (a body sent anyway) is read and thrown away for at most
// this long and this many bytes, so that the client sees the answer instead of a reset; a
// client that sends without pause is cut off at whichever comes first.
constexpr milliseconds kLingerTime{2000};
constexpr std::size_t kLingerBytes = 4 * 1024 * 1024;
// Open connections. Past it the connection that has waited longest without a complete
// request is closed; when every connection is busy, new ones wait in the listen queue.
constexpr int kMaxConnections = 1024;
// Threads answering requests from the store; idle and slow connections never hold one.
constexpr int kDefaultWorkers = 16;
// The most --threads may ask for: each thread holds a store connection and its caches.
constexpr int kMaxWorkers = 256;
// Time a request may take from its arrival (its header complete), waiting for a worker
// included; past it the answer is a page without data (503).
constexpr milliseconds kQueryBudget{1000};
// Requests waiting for a worker: per client address, so that one client cannot fill the
// queue, and in all, so that a crowd cannot either. Past either, 503 at once.
constexpr int kMaxQueuedPerClient = 32;
constexpr int kMaxQueued = 512;
// A request that took the store this long (or ran out of time) is costly: its repeats run on
// at most a quarter of the workers and wait in a short queue of their own (kMaxCostlyQueued,
// 503 at once past it), so that other requests always find a worker.
constexpr milliseconds kCostlyRequest{100};
constexpr int kMaxCostlyQueued = 16;
// So is a request (by path and query) already waiting or answered this many times at once:
// many clients repeating one request take no more than the costly share either.
constexpr int kMaxRepeatsInFlight = 4;
// Requests whose cost is remembered (by path and query); past it the memory starts afresh.
constexpr std::size_t kCostMemory = 4096;
// Log lines a second, past which lines are counted and summed up in one; counts of routine
// refusals (queue full, evictions at the connection cap, malformed requests) are written as
// one line this often.
constexpr int kLogLinesPerSecond = 10;
constexpr milliseconds kLogSummaryInterval{60000};

// Requests.
constexpr std::size_t kMaxQueryLength = 2048;
// Words of a topic, and words of a search phrase (as the store splits them).
constexpr std::size_t kMaxWords = 16;
constexpr int kMaxSuggestions = 100;
constexpr int kMaxResults = 100;
constexpr std::int64_t kMaxFirstResult = 1000;
// Matches (the first stored) that a result list puts in order, so that a common word costs
// no more than this.
constexpr int kMaxCandidates = 10000;

// The SQLite store.
// A writer waits this long for another writer's lock (two imports at once) before it fails.
constexpr milliseconds kSqliteBusyTimeout{5000};
// A database file that replaces the served one is checked (schema, a read of each table,
// PRAGMA quick_check) before it is used; the check stops after this and the file is then
// used if everything checked so far was sound.
constexpr milliseconds kSqliteFileCheck{10000};

// Importing.
// Lines of the line-based files (keyword exports, rank lists).
constexpr std::size_t kMaxTableLine = 64 * 1024;
constexpr std::size_t kMaxFields = 256;
// A JSON Lines page record, text included.
constexpr std::size_t kMaxPageLine = 8 * 1024 * 1024;
constexpr std::size_t kMaxLinksPerPage = 10000;
constexpr std::size_t kMaxUrlLength = 4096;
constexpr std::size_t kMaxTitleLength = 2048;
constexpr std::size_t kMaxTermLength = 200;
// Hosts whose store ids an import keeps at hand; past it the cache starts afresh.
constexpr std::size_t kHostCacheEntries = 200000;
// Nesting of JSON objects and arrays, in page records and in crawl metadata.
constexpr int kMaxJsonDepth = 64;

// Web-crawl archives (WARC records): header lines of one record (each at most
// kMaxTableLine long), the text kept of one page (the rest of a longer record is read past),
// and the largest metadata record (its JSON is read whole; a longer one is skipped).
constexpr std::size_t kMaxWarcHeaderLines = 256;
constexpr std::size_t kMaxPageText = 1024 * 1024;
constexpr std::size_t kMaxMetadataRecord = 8 * 1024 * 1024;

// Demand summed over the files of one run (pageview hours, search-console exports) is kept
// in the store, not in memory; a term's total stops growing here.
constexpr std::int64_t kMaxDemandTotal = std::int64_t{1} << 40;

// Known phrases (the terms' exact-phrase page counts, kept up to date by every import): the
// filter that tells which words of a page may start a known phrase, and the count changes an
// import gathers before it writes them.
constexpr std::size_t kMaxPhraseFilterBytes = 32 * 1024 * 1024;
constexpr std::size_t kPhraseCountBatch = 100000;
// Page text queued for the thread that finds the known phrases of pages beside the writer.
constexpr std::size_t kPhraseQueueBytes = 16 * 1024 * 1024;

// Getting public data (`get`).
// Bytes of a download held between the network and its reader; past it the transfer waits
// (TCP holds the rest), so a reader slower than the network costs no memory.
constexpr std::size_t kDownloadBuffer = 1024 * 1024;
// A connection must be made within this, and a transfer that receives no byte for this long
// is taken for cut (and resumed).
constexpr milliseconds kGetConnectTimeout{30000};
constexpr milliseconds kGetIdleTimeout{60000};
// A transfer slower than this on average over the window, counting only the time spent
// waiting for the network, is taken for cut (and resumed): a server that sends a byte now and
// then is never silent for the idle timeout, yet would take days.
constexpr std::int64_t kGetLowestSpeed = 1000;  // bytes a second
constexpr milliseconds kGetSpeedWindow{60000};
// Tries of one transfer since it last received a byte, with pauses doubling from the first
// to the longest: about two minutes of a server or network that does not answer, then the
// run stops rather than hammer it.
constexpr int kGetTries = 8;
constexpr milliseconds kGetFirstPause{1000};
constexpr milliseconds kGetLongestPause{60000};
// Until some server has answered in a run, a host that cannot be resolved or refuses the
// connection is tried this many times (pauses of 1 and 2 s): a mistyped mirror or a network
// that is down is said within seconds, not after the long schedule meant for transfers that
// had started.
constexpr int kGetFirstContactTries = 3;
// A Retry-After is waited out, at least the pause the schedule would wait anyway (a server
// asking for none, or for a time past, must not get eight tries at once), at most this long
// (a server asking for hours is taken for one that will not serve soon).
constexpr milliseconds kGetLongestRetryAfter{600000};
// No publisher's file is near this large: a server that declares more is not believed, and the
// file is refused.
constexpr std::int64_t kGetLargestFile = std::int64_t{1} << 40;
// A file whose transfer cannot be resumed (the server ignores ranges, or the file changed) is
// imported again from its start, at most this many more times.
constexpr int kGetFileRestarts = 2;
// The publisher's list of crawls (JSON) and the first lines of a paths list.
constexpr std::size_t kMaxCrawlList = 4 * 1024 * 1024;
constexpr std::size_t kMaxPathLength = 1024;

// The ClickHouse store.
// An answer to a serving read; a larger one is an error, never a shortened answer. It is
// refused on its announced length before any of it is read, and read in pieces of
// kClickHouseReadPiece otherwise, the deadline checked between pieces.
constexpr std::size_t kMaxClickHouseAnswer = 4 * 1024 * 1024;
constexpr std::size_t kClickHouseReadPiece = 64 * 1024;
// The status line and headers of an answer.
constexpr std::size_t kMaxClickHouseHeader = 64 * 1024;
// An answer to an import's load of stored keys (a few million numbers at a time) or sums.
constexpr std::size_t kMaxClickHouseKeyAnswer = 64 * 1024 * 1024;
// Rows an import holds per table before sending them in one insert: large blocks, bounded
// memory (six tables).
constexpr std::size_t kInsertBatchBytes = 8 * 1024 * 1024;
// Stored keys (addresses, terms, domains) an import loads per request to tell new from stored.
constexpr std::int64_t kKeysPerLoad = 2000000;
// One statement of an import (an insert, a schema change) may take this long.
constexpr milliseconds kClickHouseWriteTimeout{600000};
// A running import says it is alive this often; one silent for kStaleImport is taken for
// killed, and its rows are deleted by the next import or server to start.
constexpr milliseconds kImportHeartbeat{5000};
constexpr milliseconds kStaleImport{120000};

}  // namespace quillet::services::limits
