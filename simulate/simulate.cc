// Simulated power of the Wald and the likelihood-ratio tests of the trend
// interaction.

#include "simulate/simulate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <boost/random/binomial_distribution.hpp>

#include "model/fits_impl.h"
#include "model/power_impl.h"
#include "model/model.h"
#include "model/records.h"
#include "simulate/fit.h"

namespace gxe::simulate {
namespace {

constexpr int kMaxCells = 2 * model::kMaxCategories;
// Replicates that share one random stream. Fixed, so that the streams, and
// with them the result, do not depend on how the blocks are spread over the
// threads; small enough to balance the threads' work.
constexpr long kBlock = 64;
// The critical value is accepted when the upper tail beyond it gives back
// alpha/2 to this relative accuracy; below alpha of about 1e-298 the tail
// routine saturates at 0 and no critical value can be confirmed.
constexpr double kTailTolerance = 1e-6;

Error invalid(std::string_view field, double value, std::string_view rule) {
  return values::fault(field, value, rule);
}

// z(1 - alpha/2) by Newton's method on the normal distribution, confirmed by
// the tail routine: P(Z > z) must give back alpha/2.
std::optional<double> critical_value(double alpha) {
  const double half = alpha / 2.0;
  const double z = -model::mynormi(half);
  double p = 0.0;
  double q = 0.0;
  double pdf = 0.0;
  model::normp(z, p, q, pdf);
  if (!std::isfinite(z) || !(std::abs(q - half) <= kTailTolerance * half)) return std::nullopt;
  return z;
}

// Everything a replicate needs, fixed for the whole run.
struct Prepared {
  int k = 0;
  long n_cases = 0;
  long n_controls = 0;
  double z = 0.0;
  // Sequential-binomial form of the two multinomial distributions over the
  // 2k cells (non-carriers at scores 0..k-1, then carriers): cell i gets
  // Binomial(subjects left, p_i / (p_i + ... + p_last)); the last cell gets
  // what is left.
  std::array<double, kMaxCells> case_share{};
  std::array<double, kMaxCells> control_share{};
};

// p_i / (p_i + ... + p_last) for each cell, from sums taken from the end so
// that no share is the difference of two nearly equal numbers.
void conditional_shares(const std::array<double, kMaxCells>& p, int cells,
                        std::array<double, kMaxCells>& share) {
  double tail = 0.0;
  for (int i = cells - 1; i >= 0; --i) {
    tail += p[i];
    share[i] = tail > 0.0 ? std::min(1.0, p[i] / tail) : 0.0;
  }
}

std::optional<Error> check_study(const Study& st) {
  if (auto e = values::check_exposure_prevalences("exposure_prevalences",
                                                  st.exposure_prevalences)) {
    return e;
  }
  for (const auto& [input, x] : {std::pair{"controls_per_case", st.controls_per_case},
                                 std::pair{"or_g", st.or_g}, std::pair{"or_e", st.or_e},
                                 std::pair{"ror", st.ror}, std::pair{"or_ge", st.or_ge}}) {
    if (auto e = values::check_positive(input, x)) return e;
  }
  for (const auto& [input, x] : {std::pair{"carrier_prevalence", st.carrier_prevalence},
                                 std::pair{"alpha", st.alpha}}) {
    if (auto e = values::check_probability(input, x)) return e;
  }
  if (!(std::round(st.cases) >= 1.0) || !(std::round(st.cases) <= kMaxSubjects)) {
    return invalid("cases", st.cases, "must round to a whole number from 1 to 1e9");
  }
  const double controls = std::round(st.controls_per_case * st.cases);
  if (!(controls >= 1.0) || !(controls <= kMaxSubjects)) {
    return invalid("controls_per_case", st.controls_per_case,
                   "times cases must round to a whole number from 1 to 1e9");
  }
  return std::nullopt;
}

std::optional<Error> check_options(const Options& o) {
  if (o.replicates < 1 || o.replicates > kMaxReplicates) {
    return invalid("replicates", static_cast<double>(o.replicates),
                   "must be a whole number from 1 to 1e9");
  }
  if (o.threads < 0 || o.threads > kMaxThreads) {
    return invalid("threads", o.threads, "must be from 0 (one per hardware thread) to 1024");
  }
  if (o.progress_interval < std::chrono::milliseconds(1) ||
      o.progress_interval > std::chrono::seconds(60)) {
    return invalid("progress_interval", static_cast<double>(o.progress_interval.count()),
                   "must be from 1 to 60000 milliseconds");
  }
  return std::nullopt;
}

// The alternative at the point as the model's hypothesis record; its
// expected cell table gives both sampling distributions and its fit the
// per-case variance varh1 of the interaction estimate.
std::optional<Error> prepare(const Study& st, Prepared& prep, double& wald_power) {
  const int k = static_cast<int>(st.exposure_prevalences.size());
  model::Hypothesis alt;
  alt.bg = std::log(st.or_g);
  alt.be = std::log(st.or_e) / (k - 1);
  alt.beg = std::log(st.ror) / (k - 1);
  std::copy(st.exposure_prevalences.begin(), st.exposure_prevalences.end(), alt.pexp.begin());
  alt.pgen = {1.0 - st.carrier_prevalence, st.carrier_prevalence};
  model::set_association(alt, st.or_ge, k);
  alt.ccr = st.controls_per_case;
  model::impl::CellArray<double> cell{};
  double b0 = 0.0;
  const double varh1 = model::impl::fit(alt, alt.bg, alt.be, k, cell, b0);

  std::array<double, kMaxCells> case_p{};
  std::array<double, kMaxCells> control_p{};
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= k; ++e) {
      const int i = (g - 1) * k + (e - 1);
      control_p[i] = cell[model::impl::cell_at(1, g, e)];
      case_p[i] = cell[model::impl::cell_at(2, g, e)];
      if (!std::isfinite(case_p[i]) || !std::isfinite(control_p[i])) {
        return Error{"", "",
                     "the odds ratios are too extreme: the expected cell table is not finite "
                     "in double precision"};
      }
    }
  }
  const auto z = critical_value(st.alpha);
  if (!z) {
    return invalid("alpha", st.alpha,
                   "is too small for the normal tail routine (about 1e-298 at the least)");
  }
  if (!(varh1 > 0.0) || !std::isfinite(varh1)) {
    return Error{"", "",
                 "the odds ratios are too extreme: the information matrix of the alternative "
                 "is singular in double precision"};
  }
  prep.k = k;
  prep.n_cases = std::lround(st.cases);
  prep.n_controls = std::lround(st.controls_per_case * st.cases);
  prep.z = *z;
  conditional_shares(case_p, 2 * k, prep.case_share);
  conditional_shares(control_p, 2 * k, prep.control_share);

  // The Wald formula's power at the point (its null variance is not read).
  wald_power = model::impl::power_for(model::Test::wald, st.cases, varh1, varh1, alt.beg, prep.z);
  return std::nullopt;
}

// Seed of block b's stream: the splitmix64 finaliser of seed + (b + 1) phi,
// phi = 2^64 / golden ratio. Neighbouring blocks get unrelated seeds, which
// then initialise a full Mersenne Twister state each.
std::uint64_t block_seed(std::uint64_t seed, long block) {
  std::uint64_t x = seed + (static_cast<std::uint64_t>(block) + 1) * 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Multinomial counts of `n` subjects over the cells by sequential binomials.
// A new distribution object for every draw: nothing carries over from one
// draw to the next but the engine's state. Boost's binomial generator
// (inversion for small means, BTRD otherwise) keeps no process-wide state;
// the standard library's sets up large-mean draws with lgamma, which writes
// the global signgam, a data race between worker threads.
void draw_counts(std::mt19937_64& engine, long n, const std::array<double, kMaxCells>& share,
                 int cells, std::array<double, kMaxCells>& counts) {
  long left = n;
  for (int i = 0; i < cells; ++i) {
    long x = 0;
    if (left > 0 && share[i] > 0.0) {
      if (share[i] >= 1.0) {
        x = left;
      } else {
        boost::random::binomial_distribution<long, double> binomial(left, share[i]);
        x = binomial(engine);
      }
    }
    counts[i] = static_cast<double>(x);
    left -= x;
  }
}

struct Tally {
  long rejections = 0;
  long failed = 0;
  long lr_rejections = 0;
  long lr_failed = 0;
};

// The shared state of one run: the next block to take, the replicates done,
// and the workers still running.
struct Run {
  const Prepared* prep = nullptr;
  std::uint64_t seed = 0;
  long replicates = 0;
  long blocks = 0;
  std::atomic<long> next_block{0};
  std::atomic<long> done{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished_cv;
  int running = 0;  // guarded by mutex
};

// Takes blocks until none is left; everything it touches was allocated
// before it started. `after_block`, when given, is called after each block.
void work(Run& run, Tally& tally, const std::function<void()>& after_block = {}) {
  const Prepared& prep = *run.prep;
  const int cells = 2 * prep.k;
  std::array<double, kMaxCells> case_counts{};
  std::array<double, kMaxCells> control_counts{};
  std::mt19937_64 engine;
  for (;;) {
    const long b = run.next_block.fetch_add(1);
    if (b >= run.blocks || run.stop.load()) break;
    engine.seed(block_seed(run.seed, b));
    const long first = b * kBlock;
    const long last = std::min(run.replicates, first + kBlock);
    for (long r = first; r < last; ++r) {
      draw_counts(engine, prep.n_cases, prep.case_share, cells, case_counts);
      draw_counts(engine, prep.n_controls, prep.control_share, cells, control_counts);
      const std::span<const double> cases(case_counts.data(), cells);
      const std::span<const double> controls(control_counts.data(), cells);
      const InteractionFit fit = fit_interaction(cases, controls);
      if (fit.status != FitStatus::converged) ++tally.failed;
      if (wald_rejects(fit, prep.z)) ++tally.rejections;
      const double lr = lr_statistic(fit, cases, controls);
      if (std::isnan(lr)) {
        ++tally.lr_failed;
      } else if (lr_rejects(lr, prep.z)) {
        ++tally.lr_rejections;
      }
    }
    run.done.fetch_add(last - first);
    if (after_block) after_block();
  }
}

// Joins every worker however the calling thread leaves (a progress callback
// may throw): the workers are told to stop after their current block.
class Workers {
 public:
  explicit Workers(Run& run) : run_(run) {}
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() {
    run_.stop.store(true);
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

  // Starts up to n workers; returns how many started (thread creation may
  // fail when the system is out of resources).
  int start(int n, std::vector<Tally>& tallies) {
    threads_.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      {
        const std::lock_guard lock(run_.mutex);
        ++run_.running;
      }
      try {
        threads_.emplace_back([this, &tallies, i] {
          work(run_, tallies[static_cast<std::size_t>(i)]);
          const std::lock_guard lock(run_.mutex);
          --run_.running;
          run_.finished_cv.notify_all();
        });
      } catch (const std::system_error&) {
        const std::lock_guard lock(run_.mutex);
        --run_.running;
        return i;
      }
    }
    return n;
  }

  void join() {
    for (std::thread& t : threads_) t.join();
  }

 private:
  Run& run_;
  std::vector<std::thread> threads_;
};

}  // namespace

Outcome simulate_power(const Study& study, const Options& options) {
  Outcome out;
  if (auto e = check_study(study)) {
    out.error = std::move(e);
    return out;
  }
  if (auto e = check_options(options)) {
    out.error = std::move(e);
    return out;
  }
  Prepared prep;
  double wald_power = 0.0;
  if (auto e = prepare(study, prep, wald_power)) {
    out.error = std::move(e);
    return out;
  }

  Run run;
  run.prep = &prep;
  run.seed = options.seed;
  run.replicates = options.replicates;
  run.blocks = (options.replicates + kBlock - 1) / kBlock;
  int threads = options.threads;
  if (threads == 0) threads = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  threads = static_cast<int>(std::min<long>(threads, run.blocks));

  std::vector<Tally> tallies(static_cast<std::size_t>(threads) + 1);
  {
    Workers workers(run);
    const int started = workers.start(threads, tallies);
    if (started == 0) {
      // No thread could be started (or the platform has none, as in
      // WebAssembly): the caller does the work, and reports its progress
      // between blocks as often as the workers' would be.
      auto reported = std::chrono::steady_clock::now();
      work(run, tallies.back(), [&] {
        if (!options.progress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - reported < options.progress_interval) return;
        reported = now;
        options.progress(run.done.load(), run.replicates);
      });
    } else if (options.progress) {
      std::unique_lock lock(run.mutex);
      while (!run.finished_cv.wait_for(lock, options.progress_interval,
                                       [&] { return run.running == 0; })) {
        lock.unlock();
        options.progress(run.done.load(), run.replicates);
        lock.lock();
      }
    }
    workers.join();
  }
  if (options.progress) options.progress(run.replicates, run.replicates);

  Check& c = out.check;
  for (const Tally& t : tallies) {
    c.rejections += t.rejections;
    c.failed += t.failed;
    c.lr_rejections += t.lr_rejections;
    c.lr_failed += t.lr_failed;
  }
  c.replicates = options.replicates;
  const auto share = [&](long rejections, double& power, double& se) {
    const auto r = static_cast<double>(c.replicates);
    power = static_cast<double>(rejections) / r;
    se = std::sqrt(power * (1.0 - power) / r);
  };
  share(c.rejections, c.power, c.se);
  share(c.lr_rejections, c.lr_power, c.lr_se);
  c.wald_power = wald_power;
  c.critical_value = prep.z;
  c.n_cases = prep.n_cases;
  c.n_controls = prep.n_controls;
  return out;
}

const Error* ExtremesOutcome::error() const {
  if (least.error) return &*least.error;
  if (most.error) return &*most.error;
  return nullptr;
}

ExtremesOutcome simulate_extremes(const Study& least, const Study& most, const Options& options) {
  ExtremesOutcome out;
  out.least = simulate_power(least, options);
  if (!out.least.ok()) return out;
  out.most = most.or_g == least.or_g && most.or_e == least.or_e ? out.least
                                                                 : simulate_power(most, options);
  return out;
}

}  // namespace gxe::simulate
