#ifndef GXE_PLAN_ORDERED_WORK_H_
#define GXE_PLAN_ORDERED_WORK_H_

// Work spread over threads and finished in order, for the row loops of the
// front ends: each job's work (a calculation) runs on one of the threads,
// and its finish (writing the row) runs on the calling thread in the order
// the jobs were given, as soon as its work and every earlier job's are done.
// At most a few jobs per thread are in flight, so a stream of rows of any
// length runs in bounded memory, and the output does not depend on the
// number of threads.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace gxe::plan {

struct SimulationSettings;

class OrderedWork {
 public:
  // Work on `threads` threads (0: one per hardware thread): the calling
  // thread and threads - 1 workers. The calling thread reads and writes the
  // rows, and while it waits for the next row to finish it calculates rows
  // itself, so that no core sits idle and none is asked to run two threads.
  // With one, no thread is started: each job's work and finish run on the
  // calling thread as it is given, one row after the other.
  explicit OrderedWork(int threads);
  // Finishes every job given (an exception of a work is then dropped: call
  // finish_all() to see it).
  ~OrderedWork();
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // Gives a job; finishes earlier jobs while too many are in flight. An
  // exception thrown by a job's work is thrown here or by finish_all(), on
  // the calling thread, when that job's turn to finish comes.
  void add(std::function<void()> work, std::function<void()> finish);
  // Finishes every job given so far.
  void finish_all();

  int threads() const { return threads_; }

 private:
  struct Job {
    std::function<void()> work;
    std::function<void()> finish;
    bool started = false;
    bool done = false;
    std::exception_ptr failure;
  };

  void run_workers();
  void finish_front();
  // The first job not yet started, marked started; nothing when every job
  // is. Called with the mutex held.
  std::shared_ptr<Job> take_unstarted();
  // Runs a job's work without the mutex, then marks it done.
  void run_job(Job& job, std::unique_lock<std::mutex>& lock);

  int threads_;
  std::size_t window_;
  std::mutex mutex_;
  std::condition_variable work_ready_;  // a job to start, or closing
  std::condition_variable job_done_;    // a job's work is done
  std::deque<std::shared_ptr<Job>> jobs_;  // in the order given; the front finishes first
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

// The number of threads `threads` stands for: itself, or one per hardware
// thread for 0.
int thread_count(int threads);

// The threads that calculate rows: those of the settings, or one when every
// row is checked by a simulation, which then runs on them itself (and
// reports its progress on the calling thread).
int row_threads(const SimulationSettings& simulation);

}  // namespace gxe::plan

#endif  // GXE_PLAN_ORDERED_WORK_H_
