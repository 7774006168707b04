// Calculations on several threads at once: every call works on records of
// its own, so each result must be the one the same call gives alone, to the
// last bit. The test command also runs this test under ThreadSanitizer, which
// reports any memory that two calls share without synchronisation.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "plan/ordered_work.h"
#include "plan/plan.h"
#include "plan/shared_searches.h"
#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

// Every number of an answer in a fixed order, and its error message: two
// answers are the same when all numbers are equal (or both not a number)
// and the messages match.
struct Fingerprint {
  std::vector<double> numbers;
  std::string error;
};

void add_extreme(const Extreme& e, std::vector<double>& n) {
  n.insert(n.end(), {e.power, e.or_g, e.or_e, static_cast<double>(e.small_cells)});
}

Fingerprint fingerprint(const Outcome& out) {
  const Result& r = out.result;
  Fingerprint f;
  f.numbers = {r.size, r.n_cases, r.n_controls, static_cast<double>(r.flat),
               r.or_e_conditional, r.or_g_conditional, static_cast<double>(r.solver_info),
               r.or_e_range.low, r.or_e_range.high, r.or_g_range.low, r.or_g_range.high};
  add_extreme(r.least, f.numbers);
  add_extreme(r.most, f.numbers);
  for (const SearchRun& s : r.searches) {
    f.numbers.insert(f.numbers.end(), {static_cast<double>(s.objective_calls),
                                       static_cast<double>(s.gradient_calls),
                                       static_cast<double>(s.return_code)});
  }
  if (!out.ok()) f.error = out.error->message();
  return f;
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void expect_same(const Fingerprint& got, const Fingerprint& alone, const std::string& what) {
  EXPECT_EQ(got.error, alone.error) << what;
  ASSERT_EQ(got.numbers.size(), alone.numbers.size()) << what;
  for (std::size_t i = 0; i < got.numbers.size(); ++i) {
    EXPECT_TRUE(same(got.numbers[i], alone.numbers[i]))
        << what << ", number " << i << ": " << got.numbers[i] << " on a thread, "
        << alone.numbers[i] << " alone";
  }
}

struct Job {
  const char* name;
  std::function<Fingerprint()> run;
};

Job calculation(const char* name, Scenario s, SharedSearches* shared = nullptr) {
  return {name, [s, shared] { return fingerprint(plan::run(s, shared)); }};
}

Scenario scenario(Mode mode, int k, SearchMethod method) {
  Scenario s = testing::example_scenario(mode);
  s.design.quantiles = k;
  s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}};
  s.settings.search = method;
  return s;
}

// Power and size, both search methods, k from 2 to 100, unequal exposure
// categories, an answer that is an error (a box reaching beyond the model's
// numerical reach, whose diagnosis evaluates further points) and the single
// points; and global calculations that take their design's search from a
// store shared by all threads (kept small, so designs also leave it), each
// the same as computed alone without it.
std::vector<Job> jobs(SharedSearches& shared) {
  Scenario prevalences = scenario(Mode::size, 0, SearchMethod::global);
  prevalences.design.exposure_prevalences = {0.1, 0.2, 0.4, 0.2, 0.1};
  prevalences.design.gene_prevalence = 0.05;
  prevalences.design.controls_per_case = 2.0;
  Scenario beyond = scenario(Mode::power, 4, SearchMethod::global);
  beyond.ranges.or_g = Range{1.0, 1e5};
  const Design example = testing::example_scenario(Mode::power).design;
  return {
      calculation("power, k 4, global", scenario(Mode::power, 4, SearchMethod::global)),
      calculation("size, k 4, global", scenario(Mode::size, 4, SearchMethod::global)),
      calculation("power, k 2, centre", scenario(Mode::power, 2, SearchMethod::centre)),
      calculation("size, k 100, centre", scenario(Mode::size, 100, SearchMethod::centre)),
      calculation("power, k 100, global", scenario(Mode::power, 100, SearchMethod::global)),
      calculation("size, 5 unequal categories, global", prevalences),
      calculation("power, beyond reach", beyond),
      calculation("power, k 4, global, shared", scenario(Mode::power, 4, SearchMethod::global),
                  &shared),
      calculation("size, k 4, global, shared", scenario(Mode::size, 4, SearchMethod::global),
                  &shared),
      calculation("size, 5 unequal categories, global, shared", prevalences, &shared),
      calculation("power, beyond reach, shared", beyond, &shared),
      {"power at a point",
       [example] { return Fingerprint{{power_at(example, 300, 1.2, 2.5, {})}, ""}; }},
      {"cases needed at a point",
       [example] { return Fingerprint{{cases_needed_at(example, 0.9, 0.8, 1.5, {})}, ""}; }},
  };
}

TEST(Concurrency, EveryResultIsTheOneComputedAlone) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20;
  // The console is one for the whole process: no calculation may write to it.
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  console::bind(in, out, err);
  SharedSearches shared(2);
  const std::vector<Job> all = jobs(shared);
  std::vector<Fingerprint> alone;
  for (const Job& job : all) alone.push_back(job.run());

  // Each thread runs every job kRounds times, starting from a different job,
  // so that different designs are computed at the same moment.
  std::vector<std::vector<Fingerprint>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&all, &results = got[t], t] {
      for (std::size_t i = 0; i < kRounds * all.size(); ++i) {
        results.push_back(all[(i + t) % all.size()].run());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  console::bind_standard();
  EXPECT_EQ(out.str() + err.str(), "");

  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(got[t].size(), kRounds * all.size());
    for (std::size_t i = 0; i < got[t].size(); ++i) {
      const std::size_t j = (i + t) % all.size();
      expect_same(got[t][i], alone[j], std::string(all[j].name) + ", thread " + std::to_string(t));
    }
  }
  EXPECT_FALSE(alone[0].numbers.empty());
  EXPECT_NE(alone[6].error, "") << "the design beyond reach has an answer";
}

// A design asked for by several threads at once is searched once, and every
// asker gets that search, or its failure; a design that has left the store
// is searched again.
TEST(Concurrency, SharedSearchesSearchEachDesignOnce) {
  constexpr int kThreads = 4;
  SharedSearches shared(2);
  std::atomic<int> searches{0};
  const auto search = [&searches] {
    ++searches;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return SharedSearches::Found{};
  };
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      shared.find_or_search({1.0}, search);
      try {
        shared.find_or_search({2.0}, [&searches]() -> SharedSearches::Found {
          ++searches;
          throw std::runtime_error("no box");
        });
      } catch (const std::runtime_error&) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(searches, 2);
  EXPECT_EQ(failures, kThreads);
  shared.find_or_search({3.0}, search);  // {1} leaves the store of two
  shared.find_or_search({1.0}, search);
  EXPECT_EQ(searches, 4);
}

// Rows calculated on several threads are finished on the calling thread in
// the order given, each work once and before its finish, with at most a few
// per thread in flight; with one thread each job runs as it is given.
TEST(Concurrency, OrderedWorkFinishesInTheOrderGiven) {
  for (const int threads : {1, 2, 4}) {
    OrderedWork work(threads);
    constexpr int kJobs = 500;
    std::vector<int> value(kJobs, 0);
    std::vector<int> finished;
    const std::thread::id caller = std::this_thread::get_id();
    for (int i = 0; i < kJobs; ++i) {
      work.add([&value, i] { value[static_cast<std::size_t>(i)] = i * i + 1; },
               [&value, &finished, caller, i] {
                 EXPECT_EQ(std::this_thread::get_id(), caller);
                 EXPECT_EQ(value[static_cast<std::size_t>(i)], i * i + 1);
                 finished.push_back(i);
               });
      EXPECT_LE(i + 1 - static_cast<int>(finished.size()), 4 * threads) << "in flight";
    }
    work.finish_all();
    ASSERT_EQ(finished.size(), static_cast<std::size_t>(kJobs)) << threads;
    for (int i = 0; i < kJobs; ++i) EXPECT_EQ(finished[static_cast<std::size_t>(i)], i);
  }
}

}  // namespace
}  // namespace gxe::plan
