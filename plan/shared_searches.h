#ifndef GXE_PLAN_SHARED_SEARCHES_H_
#define GXE_PLAN_SHARED_SEARCHES_H_

// The searches of a request's designs, shared by its rows. The global
// method's search depends on the design and the box alone (not on the number
// of cases, the level or the target power), so the rows of a list of cases,
// the points of a curve and the rows of a batch that share a design need it
// once. A front end keeps one SharedSearches for the rows of one request and
// hands it to each calculation.
//
// Thread-safe: calculations on several threads may ask at once, and when
// they ask for the same design, one searches and the others wait for its
// result. Only the most recently used designs are kept, so a stream of rows
// of any length runs in bounded memory; rows of one design come one after the
// other in every front end's order, so a few are enough.

#include <cstddef>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace gxe::plan {

// What one design's search gave (defined by the planning library).
struct DesignSearch;

class SharedSearches {
 public:
  using Key = std::vector<double>;  // the design and box, as exact numbers
  using Found = std::shared_ptr<const DesignSearch>;

  explicit SharedSearches(std::size_t kept = kKept) : kept_(kept) {}

  // The search of the design `key`: a kept one, or the one `search` makes
  // now (on this thread; others asking for the same key meanwhile wait).
  Found find_or_search(const Key& key, const std::function<Found()>& search);

  static constexpr std::size_t kKept = 16;

 private:
  std::size_t kept_;
  std::mutex mutex_;
  std::list<std::pair<Key, std::shared_future<Found>>> recent_;  // most recent first
};

}  // namespace gxe::plan

#endif  // GXE_PLAN_SHARED_SEARCHES_H_
