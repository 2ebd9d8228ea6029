// Summaries of timing series and the RESULT lines that carry them.

#include "BenchStats.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>

namespace bench {

double MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The value at fraction p of the sorted series.
static double Quantile(std::vector<double> const &sorted, double p)
{
    double position = p * (double)(sorted.size() - 1);
    size_t below = (size_t)position;
    if (below + 1 >= sorted.size())
        return sorted.back();
    double weight = position - (double)below;
    return sorted[below] + weight * (sorted[below + 1] - sorted[below]);
}

Summary Summarize(std::vector<double> samples)
{
    Summary s;
    samples.erase(std::remove_if(samples.begin(), samples.end(), [](double x) { return x < 0; }), samples.end());
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.n = samples.size();
    s.median = Quantile(samples, 0.5);
    s.q1 = Quantile(samples, 0.25);
    s.q3 = Quantile(samples, 0.75);
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

double SpreadPercent(Summary const &s)
{
    return s.median > 0 ? 100.0 * (s.q3 - s.q1) / s.median : 0.0;
}

void PrintResult(std::string const &name, Summary const &s)
{
    printf("RESULT %s n=%zu median=%.1f q1=%.1f q3=%.1f min=%.1f max=%.1f\n", name.c_str(), s.n, s.median, s.q1,
           s.q3, s.min, s.max);
    fflush(stdout);
}

void PrintSamples(std::string const &name, std::vector<double> const &samples)
{
    printf("SAMPLES %s", name.c_str());
    for (double us : samples)
        printf(" %.0f", us);
    printf("\n");
    fflush(stdout);
}

std::vector<double> PairedRatios(std::vector<double> const &a, std::vector<double> const &b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] >= 0 && b[i] > 0)
            ratios.push_back(a[i] / b[i]);
    }
    return ratios;
}

void PrintRatio(std::string const &name, Summary const &s)
{
    printf("RATIO %s n=%zu median=%.4f q1=%.4f q3=%.4f min=%.4f max=%.4f\n", name.c_str(), s.n, s.median, s.q1,
           s.q3, s.min, s.max);
    fflush(stdout);
}

void PrintFact(std::string const &name, std::string const &text)
{
    printf("FACT %s %s\n", name.c_str(), text.c_str());
    fflush(stdout);
}

bool ReadCountOption(int argc, char **argv, char const *name, int fallback, int least, int *out)
{
    *out = fallback;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], name) != 0)
            continue;
        if (i + 1 >= argc)
            return false;
        char *end = NULL;
        long value = strtol(argv[i + 1], &end, 10);
        if (end == argv[i + 1] || *end != '\0' || value < least || value > 1000000)
            return false;
        *out = (int)value;
    }
    return true;
}

bool HasFlag(int argc, char **argv, char const *name)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], name) == 0)
            return true;
    }
    return false;
}

char const *TextOption(int argc, char **argv, char const *name, char const *fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], name) == 0)
            return argv[i + 1];
    }
    return fallback;
}

bool ReadRepsAndWarmup(int argc, char **argv, int defaultReps, int defaultWarmup, char const *usage, int *reps,
                       int *warmup)
{
    if (ReadCountOption(argc, argv, "--reps", defaultReps, 1, reps)
        && ReadCountOption(argc, argv, "--warmup", defaultWarmup, 0, warmup))
        return true;
    fprintf(stderr, "usage: %s\n", usage);
    return false;
}

void RunRounds(size_t count, int rounds, std::function<void(size_t entry, int round)> const &run,
               std::function<bool(int round)> const &beforeRound)
{
    for (int round = 0; round < rounds; ++round) {
        if (beforeRound && !beforeRound(round))
            return;
        for (size_t k = 0; k < count; ++k)
            run((round + k) % count, round);
    }
}

void TimeCalls(std::vector<TimedCall> &calls, int reps, int warmup, std::function<bool(int round)> const &beforeRound)
{
    RunRounds(calls.size(), warmup + reps, [&](size_t entry, int round) {
        TimedCall &call = calls[entry];
        double us = 0;
        std::function<void()> const timed = [&] {
            Clock::time_point start = Clock::now();
            call.run();
            us = MicrosecondsSince(start);
        };
        if (call.place)
            call.place(timed);
        else
            timed();
        if (round >= warmup)
            call.times.push_back(us);
    }, beforeRound);
}

int CheckStats()
{
    // Quartiles of small series are where an off-by-one in the position
    // shows: odd and even counts, unsorted input, ties, a single sample.
    static struct {
        char const *name;
        std::vector<double> samples;
        Summary expected;
        double spread;
    } const cases[] = {
        {"empty", {}, {0, 0, 0, 0, 0, 0}, 0},
        {"one sample", {7}, {1, 7, 7, 7, 7, 7}, 0},
        {"two samples", {4, 2}, {2, 3, 2.5, 3.5, 2, 4}, 100.0 / 3},
        {"odd count, unsorted", {5, 1, 3}, {3, 3, 2, 4, 1, 5}, 200.0 / 3},
        {"even count", {4, 3, 2, 1}, {4, 2.5, 1.75, 3.25, 1, 4}, 60},
        {"ties", {2, 2, 2, 9}, {4, 2, 2, 3.75, 2, 9}, 87.5},
        {"zero median", {0, 0, 1}, {3, 0, 0, 0.5, 0, 1}, 0},
        {"rounds without a sample left out", {-1, 5, -1, 1, 3}, {3, 3, 2, 4, 1, 5}, 200.0 / 3},
        {"no round with a sample", {-1, -1}, {0, 0, 0, 0, 0, 0}, 0},
    };

    int failed = 0;
    for (auto const &c : cases) {
        Summary got = Summarize(c.samples);
        double const slack = 1e-9;
        bool same = got.n == c.expected.n && std::fabs(got.median - c.expected.median) < slack
                    && std::fabs(got.q1 - c.expected.q1) < slack && std::fabs(got.q3 - c.expected.q3) < slack
                    && std::fabs(got.min - c.expected.min) < slack && std::fabs(got.max - c.expected.max) < slack
                    && std::fabs(SpreadPercent(got) - c.spread) < 1e-6;
        if (!same) {
            fprintf(stderr,
                    "check failed: stats '%s': n=%zu median=%g q1=%g q3=%g min=%g max=%g spread=%g%%\n",
                    c.name, got.n, got.median, got.q1, got.q3, got.min, got.max, SpreadPercent(got));
            ++failed;
        }
    }

    // Pairs are by round: a round that one series lacks, or a zero divisor,
    // gives no ratio, and the longer series' extra rounds are not paired.
    static struct {
        char const *name;
        std::vector<double> a, b, expected;
    } const pairs[] = {
        {"all rounds paired", {2, 9, 3}, {1, 3, 3}, {2, 3, 1}},
        {"a round missing on either side", {-1, 4, 6}, {2, -1, 3}, {2}},
        {"zero divisor", {1, 2}, {0, 4}, {0.5}},
        {"unequal lengths", {1, 2, 3}, {1}, {1}},
    };
    for (auto const &c : pairs) {
        if (PairedRatios(c.a, c.b) != c.expected) {
            fprintf(stderr, "check failed: paired ratios '%s'\n", c.name);
            ++failed;
        }
    }
    return failed;
}

}  // namespace bench
