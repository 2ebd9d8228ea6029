// Timing and the summary of a series of timings, shared by the benchmark
// programs. Every program prints its results as RESULT lines, which
// scripts/bench gathers into one table:
//   RESULT <name> n=<count> median=<us> q1=<us> q3=<us> min=<us> max=<us>
// paired ratios of two series as RATIO lines of the same form, the samples
// themselves as SAMPLES lines, and facts that are not timings as
//   FACT <name> <text>
#ifndef CHIMELET_BENCH_STATS_H
#define CHIMELET_BENCH_STATS_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Microseconds from `start` until now.
double MicrosecondsSince(Clock::time_point start);

struct Summary {
    size_t n = 0;
    double median = 0;
    double q1 = 0;   // first quartile
    double q3 = 0;   // third quartile
    double min = 0;
    double max = 0;
};

// Quartiles by linear interpolation between the sorted samples (the
// spreadsheet method: position p * (n - 1)). Negative samples mark rounds
// without one and are left out. An empty series gives n 0 and zeros.
Summary Summarize(std::vector<double> samples);

// The interquartile range in percent of the median: how far apart the middle
// half of the runs lay. 0 for a median of 0.
double SpreadPercent(Summary const &s);

// Prints the RESULT line of a series (times in microseconds) to stdout.
void PrintResult(std::string const &name, Summary const &s);

// Prints every sample of a series, in the order taken, as
// "SAMPLES <name> <us> <us> ..." (-1 for a round without one): for looking
// at how a spread came about.
void PrintSamples(std::string const &name, std::vector<double> const &samples);

// Ratios of two series run in the same rounds, round by round: a[i] / b[i]
// for every round where both have a sample (a negative sample marks a round
// without one). Paired, a load that comes and goes cancels out of the ratio.
std::vector<double> PairedRatios(std::vector<double> const &a, std::vector<double> const &b);

// Prints "RATIO <name> n= median= q1= q3= min= max=" for such ratios.
void PrintRatio(std::string const &name, Summary const &s);
void PrintFact(std::string const &name, std::string const &text);

// Runs `count` entries once a round for `rounds` rounds, each round
// starting with the next entry, so that neither a load that comes and goes
// nor the order favours one. `beforeRound` (if any) runs first in each
// round, outside whatever `run` times; the rounds end when it answers false.
void RunRounds(size_t count, int rounds, std::function<void(size_t entry, int round)> const &run,
               std::function<bool(int round)> const &beforeRound = nullptr);

// Runs what it is given, on some other thread, and returns once it has run.
using Place = std::function<void(std::function<void()> const &)>;

// An in-process call to time, and its samples. With a `place`, the call is
// timed where the place runs it: the hand-over to another thread is no part
// of the sample.
struct TimedCall {
    std::string name;
    std::function<void()> run;
    std::vector<double> times;
    Place place = nullptr;  // none: on the timing thread
};

// Times each call once a round (RunRounds) for warmup + reps rounds and
// keeps the samples of the rounds after the warm-up in its `times`.
void TimeCalls(std::vector<TimedCall> &calls, int reps, int warmup,
               std::function<bool(int round)> const &beforeRound = nullptr);

// Reads "--name <number>" from the command line; `fallback` when absent.
// False when the option is there but its value is not a whole number in
// [least, 1000000].
bool ReadCountOption(int argc, char **argv, char const *name, int fallback, int least, int *out);
bool HasFlag(int argc, char **argv, char const *name);
// "--name <text>" from the command line; `fallback` when absent.
char const *TextOption(int argc, char **argv, char const *name, char const *fallback);

// "--reps N" and "--warmup N" (0 warm-up rounds allowed). False, with
// `usage` printed on stderr, when either is malformed.
bool ReadRepsAndWarmup(int argc, char **argv, int defaultReps, int defaultWarmup, char const *usage, int *reps,
                       int *warmup);

// The checks of this module, table-driven; the number of failed cases, each
// reported on stderr.
int CheckStats();

}  // namespace bench

#endif
