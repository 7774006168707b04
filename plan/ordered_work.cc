#include "plan/ordered_work.h"

#include <algorithm>
#include <utility>

#include "plan/simulation.h"

namespace gxe::plan {
namespace {

// Jobs in flight per thread: enough to keep every thread busy while the
// calling thread writes, few enough to keep memory bounded.
constexpr std::size_t kJobsPerThread = 4;

}  // namespace

int thread_count(int threads) {
  if (threads > 0) return threads;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int row_threads(const SimulationSettings& simulation) {
  return simulation.replicates > 0 ? 1 : static_cast<int>(simulation.threads);
}

OrderedWork::OrderedWork(int threads)
    : threads_(thread_count(threads)), window_(kJobsPerThread * static_cast<std::size_t>(threads_)) {
  for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { run_workers(); });
}

OrderedWork::~OrderedWork() {
  try {
    finish_all();
  } catch (...) {  // a destructor does not throw; finish_all() reports it to the caller
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::shared_ptr<OrderedWork::Job> OrderedWork::take_unstarted() {
  const auto next = std::find_if(jobs_.begin(), jobs_.end(),
                                 [](const std::shared_ptr<Job>& j) { return !j->started; });
  if (next == jobs_.end()) return nullptr;
  (*next)->started = true;
  return *next;
}

void OrderedWork::run_job(Job& job, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  try {
    job.work();
  } catch (...) {
    job.failure = std::current_exception();
  }
  lock.lock();
  job.done = true;
}

void OrderedWork::run_workers() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    work_ready_.wait(lock, [&] { return closing_ || (job = take_unstarted()) != nullptr; });
    if (!job) return;  // closing, nothing left to start
    run_job(*job, lock);
    job_done_.notify_one();  // only the calling thread waits for a job
  }
}

void OrderedWork::finish_front() {
  std::shared_ptr<Job> job;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!jobs_.front()->done) {
      if (std::shared_ptr<Job> mine = take_unstarted()) {
        run_job(*mine, lock);
      } else {
        job_done_.wait(lock);
      }
    }
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  if (job->failure) std::rethrow_exception(job->failure);
  job->finish();
}

void OrderedWork::add(std::function<void()> work, std::function<void()> finish) {
  if (threads_ == 1) {
    work();
    finish();
    return;
  }
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (jobs_.size() < window_) {
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->finish = std::move(finish);
        jobs_.push_back(std::move(job));
        break;
      }
    }
    finish_front();
  }
  work_ready_.notify_one();
}

void OrderedWork::finish_all() {
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (jobs_.empty()) return;
    }
    finish_front();
  }
}

}  // namespace gxe::plan
