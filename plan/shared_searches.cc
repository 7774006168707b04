#include "plan/shared_searches.h"

#include <exception>

namespace gxe::plan {

SharedSearches::Found SharedSearches::find_or_search(const Key& key,
                                                     const std::function<Found()>& search) {
  std::promise<Found> promise;
  std::shared_future<Found> result;
  bool mine = false;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = recent_.begin(); it != recent_.end(); ++it) {
      if (it->first == key) {
        recent_.splice(recent_.begin(), recent_, it);
        result = recent_.front().second;
        break;
      }
    }
    if (!result.valid()) {
      mine = true;
      result = promise.get_future().share();
      recent_.emplace_front(key, result);
      if (recent_.size() > kept_) recent_.pop_back();
    }
  }
  // A design not kept is searched here, outside the lock, so that other
  // designs go on meanwhile; whoever asks for it in between waits below.
  if (mine) {
    try {
      promise.set_value(search());
    } catch (...) {
      promise.set_exception(std::current_exception());
    }
  }
  return result.get();
}

}  // namespace gxe::plan
