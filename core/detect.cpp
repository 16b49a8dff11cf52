#include "core/detect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "core/position_weights.h"
#include "processing/local_match.h"
#include "processing/programmes.h"
#include "processing/shape_scores.h"
#include "processing/vector_builds.h"

const char* detectTaskName(DetectTask task) {
    switch (task) {
    case DetectTask::detect: return "detect";
    case DetectTask::joint: return "joint";
    case DetectTask::recognize: return "recognize";
    }
    return "joint";
}

namespace {
// The programmes' bounds on 64-bit totals, in the same order as the workbench's 32-bit ones
// (penalty < acceptance < not reached < far): every genuine total stays below kSumLimit in
// magnitude (checked before the run), so no sum comes near 2^63.
constexpr int64_t kSumLimit = int64_t{1} << 60;
constexpr int64_t kPenalty = int64_t{1} << 60;  // predecessor cost where a window holds nothing better
constexpr int64_t kAccept = int64_t{1} << 61;   // a chain must total less to be accepted
constexpr int64_t kUnset = int64_t{1} << 62;    // a position not yet reached
constexpr int64_t kFar = kUnset + (int64_t{1} << 61);  // start of the known-count searches

// Positions matched by one worker at a time, for one candidate; a chunk of `lanes` candidates side
// by side is as much shorter, so that a chunk is the same work and a ring of them the same memory.
constexpr int64_t kChunk = int64_t{1} << 15;
constexpr int64_t chunkOf(int64_t lanes) { return kChunk / lanes; }

std::string megabytes(double bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f MB", std::ceil(bytes / 1e6));
    return text;
}

// The checked request: lengths and the shapes' samples.
struct Problem {
    int64_t N = 0;  // samples
    int64_t n = 0;  // the longest shape's length: the chain's limits at the ends count it
    std::vector<std::span<const int16_t>> shapes;  // the candidates' samples, in candidate order
    std::vector<int32_t> numbers;           // the candidates' indices into the request's shapes
    std::vector<int64_t> lo, hi;            // known count: each pulse's position range
    double cells = 0;                       // known count: the positions of every range
    // The limits the programmes use: Tmin and Tmax clamped to N. No gap between two starts, and
    // no distance from an end to a pulse, can exceed N, so a larger limit allows exactly the
    // chains N allows; clamping keeps every product of the programmes' range arithmetic
    // (Tmax times a pulse count) far from overflow.
    int64_t tmin = 1, tmax = 1;
};

std::string noChainFits(const Problem& p, const DetectRequest& r) {
    return "No chain of pulses fits: " + std::to_string(p.N) + " samples cannot be covered by pulses of " +
           std::to_string(p.n) + " samples with gaps of " + std::to_string(r.tmin) + " to " + std::to_string(r.tmax) +
           " samples between their starts (the first starting within Tmax of the beginning, the last within Tmax "
           "of the end).";
}

// The largest |sample|: the extremes taken in the samples' own type, so that the scan runs in
// vectors (a function of its own, built for the wider vector units too: inlined into the long
// check, the compiler left it a scalar loop).
PULSEBENCH_CLONES int32_t largestMagnitude(std::span<const int16_t> samples) {
    int16_t least = 0, most = 0;
    for (const int16_t v : samples) {
        least = std::min(least, v);
        most = std::max(most, v);
    }
    return std::max<int32_t>(most, -int32_t{least});
}

std::string check(const DetectRequest& r, Problem& p) {
    if (r.channels < 1 || r.channels > kMostChannels)
        return std::to_string(r.channels) + " channels given; a detection takes 1 to " + std::to_string(kMostChannels) + ".";
    const auto C = static_cast<int64_t>(r.channels);
    if (static_cast<int64_t>(r.signal.size()) % C != 0)
        return "The signal's " + std::to_string(r.signal.size()) + " samples do not make " + std::to_string(C) +
               " channels of one length.";
    p.N = static_cast<int64_t>(r.signal.size()) / C;
    if (p.N == 0) return "The signal is empty.";
    if (r.shapes.empty()) return "There are no pulse shapes.";
    if (r.shapes.size() > static_cast<size_t>(kMostShapes))
        return std::to_string(r.shapes.size()) + " shapes given; a detection takes at most " + std::to_string(kMostShapes) + ".";
    for (size_t i = 0; i < r.shapes.size(); ++i) {
        if (static_cast<int64_t>(r.shapes[i].size()) % C != 0)
            return "Shape " + std::to_string(i + 1) + " does not hold " + std::to_string(C) + " channels of one length.";
        const auto length = static_cast<int64_t>(r.shapes[i].size()) / C;
        if (length < 1 || length > 32767)
            return "Shape " + std::to_string(i + 1) + " has " + std::to_string(length) +
                   " samples, outside 1 to 32767 samples.";
        p.n = std::max(p.n, length);
    }
    if (!(r.gainMin <= r.gainMax) || !std::isfinite(r.gainMin) || !std::isfinite(r.gainMax) ||
        std::max(std::abs(r.gainMin), std::abs(r.gainMax)) > kMostGain)
        return "The gain range " + std::to_string(r.gainMin) + " to " + std::to_string(r.gainMax) +
               " is not a range of finite gains from -" + std::to_string(kMostGain) + " to " + std::to_string(kMostGain) + ".";
    if (r.pulseCost < 0 || r.pulseCost >= kSumLimit)
        return "The pulse cost " + std::to_string(r.pulseCost) + " is outside 0 to 2^60.";
    if (r.tmin < 1 || r.tmin > r.tmax)
        return "Tmin must be at least 1 and not above Tmax (Tmin = " + std::to_string(r.tmin) +
               ", Tmax = " + std::to_string(r.tmax) + ").";
    if (p.n > r.tmax)
        return "The shapes have " + std::to_string(p.n) + " samples, more than Tmax = " + std::to_string(r.tmax) + ".";
    if (p.n > p.N)
        return "The shapes have " + std::to_string(p.n) + " samples, more than the signal's " + std::to_string(p.N) + ".";
    if (r.savedEnergy < 0 || r.savedEnergy > 100)
        return "The saved energy " + std::to_string(r.savedEnergy) + " is outside 0 to 100 %.";
    if (r.threads < 0) return "The thread count " + std::to_string(r.threads) + " is negative.";
    if (r.candidates.empty()) return "There is no candidate shape.";
    if (r.task == DetectTask::detect && r.candidates.size() != 1)
        return "Detection looks for exactly one shape; " + std::to_string(r.candidates.size()) + " were given.";
    for (const int32_t c : r.candidates) {
        if (c < 0 || static_cast<size_t>(c) >= r.shapes.size())
            return "Candidate " + std::to_string(c) + " is not one of the " + std::to_string(r.shapes.size()) + " shapes.";
        p.shapes.push_back(r.shapes[static_cast<size_t>(c)]);
        p.numbers.push_back(c);
    }

    p.tmin = std::min(r.tmin, p.N);
    p.tmax = std::min(r.tmax, p.N);

    int64_t maxChain = (p.N - p.n) / p.tmin + 1;
    if (r.count) {
        const int64_t K = *r.count;
        if (K < 1 || K > maxChain)
            return "A count of " + std::to_string(K) + " pulses does not fit " + std::to_string(p.N) +
                   " samples with Tmin = " + std::to_string(r.tmin) + " (1 to " + std::to_string(maxChain) + ").";
        double& cells = p.cells;
        for (int64_t j = 0; j < K; ++j) {
            const auto [lo, hi] = pulseRange(p.N, p.n, p.tmin, p.tmax, j, K);
            if (hi < lo)
                return std::to_string(K) + " pulses cannot cover " + std::to_string(p.N) +
                       " samples with gaps of " + std::to_string(r.tmin) + " to " + std::to_string(r.tmax) +
                       " samples (pulse " + std::to_string(j + 1) + " has no place).";
            cells += static_cast<double>(hi - lo + 1);
            p.lo.push_back(lo);
            p.hi.push_back(hi);
        }
        // The totals of every layer, the scores of every position and one layer's windows.
        const double bytes = cells * 8 + static_cast<double>(p.N) * 8 * 4;
        if (bytes > static_cast<double>(kKnownCountMemoryBudget))
            return "A known count of " + std::to_string(K) + " pulses in " + std::to_string(p.N) +
                   " samples would need " + megabytes(bytes) + " of working memory (more than " +
                   megabytes(static_cast<double>(kKnownCountMemoryBudget)) +
                   "); leave the count unknown, which needs memory in proportion to the length only.";
        maxChain = K;
    }

    // Every total is a sum of at most maxChain local scores, each at most
    // sum |x| (G² |x| + 2 G |y|) + cost in magnitude for gains up to G: kept below kSumLimit, no
    // 64-bit sum of the programmes can overflow.
    const int32_t maxY = largestMagnitude(r.signal);
    const double G = std::max({1.0, std::abs(r.gainMin), std::abs(r.gainMax)});
    double perPulse = 0;
    for (const std::span<const int16_t> x : p.shapes) {
        double s = static_cast<double>(r.pulseCost) + 1;  // and one for the rounding of the gain terms
        for (const int16_t v : x) {
            const double a = std::abs(static_cast<double>(v));
            s += a * (G * G * a + 2.0 * G * static_cast<double>(maxY));
        }
        perPulse = std::max(perPulse, s);
    }
    if (static_cast<double>(maxChain) * perPulse >= static_cast<double>(kSumLimit))
        return "The sums of this detection could reach " + std::to_string(static_cast<double>(maxChain) * perPulse) +
               ", beyond exact 64-bit arithmetic; use a larger Tmin or a shorter stretch of the signal.";
    return {};
}

// The scores of the positions of `intervals` for the candidates `indices` (-1: all candidates at
// once): the score of position p for indices[i] goes to q[((p & qMask) - offset) * stride + i].
// Chunks of positions (within aligned blocks of chunkOf(stride)) are scored in order by worker threads
// while the calling thread, which owns the stream, waits for (or itself scores) the chunks it
// needs next, so that a programme can walk behind the match instead of after it. Each position
// is written once, by one thread; the scores do not depend on which. Progress goes out from the
// calling thread as base + span * (share of chunks done).
//
// With a qMask other than -1, q is a ring of `slots` blocks (qMask + 1 = slots * chunkOf(stride)
// positions, offset 0) for a reader that goes up the positions: a block is scored only while
// the reader is less than `slots` blocks behind it, so that it never overwrites scores the
// reader has still to read.
class ScoreStream {
public:
    ScoreStream(const ShapeScores& scores, unsigned threads, ChannelSamples y, const PositionWalks::Intervals& intervals,
                int64_t offset, std::vector<int> indices, int64_t* q, int64_t qMask, int64_t stride,
                const std::function<void(double)>& progress, const std::atomic<bool>& cancel, double base, double span,
                posterior_detail::WeighAlong* along = nullptr)
        : scores_(scores), y_(y), offset_(offset), indices_(std::move(indices)), q_(q), qMask_(qMask), stride_(stride),
          chunk_(chunkOf(stride)), progress_(progress), cancel_(cancel), base_(base), span_(span), along_(along) {
        for (const auto& [a, b] : intervals)
            for (int64_t from = a; from <= b; from = (from / chunk_ + 1) * chunk_)
                chunks_.emplace_back(from, std::min(b, (from / chunk_ + 1) * chunk_ - 1));
        done_ = std::make_unique<std::atomic<bool>[]>(chunks_.size());
        slots_ = qMask < 0 ? std::numeric_limits<int64_t>::max() : (qMask + 1) / chunk_;
        const size_t workers = std::min<size_t>(threads, chunks_.size());
        for (size_t t = 1; t < workers; ++t)
            pool_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed) && !cancel_.load(std::memory_order_relaxed))
                    if (!scoreNext()) {
                        if (next_.load() >= chunks_.size()) return;
                        std::this_thread::yield();  // the reader is `slots` blocks behind
                    }
            });
    }
    ~ScoreStream() {
        stop_ = true;
        for (std::thread& t : pool_) t.join();
    }
    ScoreStream(const ScoreStream&) = delete;
    ScoreStream& operator=(const ScoreStream&) = delete;

    /// Waits until every position up to p is scored, scoring chunks itself meanwhile; false when
    /// cancelled. For a ring, also says that the reader is done with the blocks below p's.
    bool upTo(int64_t p) {
        if (qMask_ >= 0 && p / chunk_ > reading_.load(std::memory_order_relaxed))
            reading_.store(p / chunk_, std::memory_order_release);
        while (prefix_ < chunks_.size() && chunks_[prefix_].first <= p) {
            if (done_[prefix_].load(std::memory_order_acquire)) {
                ++prefix_;
                if (progress_) progress_(base_ + span_ * static_cast<double>(prefix_) / static_cast<double>(chunks_.size()));
                continue;
            }
            if (cancel_.load(std::memory_order_relaxed)) return false;
            if (!scoreNext()) std::this_thread::yield();
        }
        return !cancel_.load(std::memory_order_relaxed);
    }
    bool all() { return upTo(std::numeric_limits<int64_t>::max()); }
    /// The last position known to be scored, from p on (the calling thread's view); for a ring
    /// at most the end of p's block, so that the reader says when it moves on to the next.
    int64_t scoredThrough(int64_t p) const {
        int64_t through = prefix_ == chunks_.size() ? std::numeric_limits<int64_t>::max()
                                                    : prefix_ == 0 ? -1 : chunks_[prefix_ - 1].second;
        if (qMask_ >= 0) through = std::min(through, (p / chunk_ + 1) * chunk_ - 1);
        return through;
    }

private:
    // Claims the next chunk and scores it; false when every chunk is claimed or the next one's
    // block still holds scores the reader of a ring has to read.
    bool scoreNext() {
        size_t c = next_.load();
        do {
            if (c >= chunks_.size()) return false;
            if (chunks_[c].first / chunk_ >= reading_.load(std::memory_order_acquire) + slots_) return false;
        } while (!next_.compare_exchange_weak(c, c + 1));
        const auto [from, to] = chunks_[c];
        int64_t* const into = q_ + ((from & qMask_) - offset_) * stride_;
        if (along_)
            along_->score(scores_, y_, from, to, into);
        else
            scores_.scoreRange(y_, from, to, indices_, into, stride_);
        done_[c].store(true, std::memory_order_release);
        return true;
    }

    const ShapeScores& scores_;
    ChannelSamples y_;
    int64_t offset_;
    std::vector<int> indices_;
    int64_t* q_;
    int64_t qMask_;
    int64_t stride_;
    int64_t chunk_;
    const std::function<void(double)>& progress_;
    const std::atomic<bool>& cancel_;
    double base_, span_;
    posterior_detail::WeighAlong* along_;  // the posterior's weights taken along (indices {-1}, stride 1 only)
    std::vector<std::pair<int64_t, int64_t>> chunks_;
    std::unique_ptr<std::atomic<bool>[]> done_;
    size_t prefix_ = 0;  // leading chunks known to be done; the calling thread's alone
    int64_t slots_ = 0;
    std::atomic<int64_t> reading_{0};  // the block the reader of a ring is in
    std::atomic<size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> pool_;
};

// The pulses of a chain: for each position the first candidate (in list order) whose score is
// the position's best (a candidate replaces the best only when strictly smaller), matched again
// in full for its cut and gain.
std::vector<DetectedPulse> pulsesAt(const ShapeScores& scores, const std::vector<int32_t>& numbers, int index,
                                    ChannelSamples y, const std::vector<int64_t>& positions, unsigned threads) {
    std::vector<DetectedPulse> pulses(positions.size());
    // Slices of the chain on as many threads as help.
    auto slice = [&](size_t from, size_t to) {
        std::vector<int64_t> each;
        const std::span<const int64_t> part(positions.data() + from, to - from);
        if (index < 0) {
            each.resize(part.size() * scores.size());
            scores.scoreEach(y, part, each.data());
        }
        for (size_t i = 0; i < part.size(); ++i) {
            size_t shape = static_cast<size_t>(std::max(index, 0));
            if (index < 0) {
                const int64_t* row = each.data() + i * scores.size();
                shape = static_cast<size_t>(std::min_element(row, row + scores.size()) - row);
            }
            const ShapeScores::Pulse found = scores.pulseAt(shape, y, part[i]);
            pulses[from + i] = DetectedPulse{part[i],        numbers[shape], found.cutStart, found.cutEnd,
                                             found.score + scores.model().pulseCost, found.gain};
        }
    };
    constexpr size_t kPerThread = 4096;
    const size_t workers = std::clamp<size_t>(positions.size() / kPerThread, 1, threads);
    std::vector<std::thread> pool;
    const size_t share = (positions.size() + workers - 1) / workers;
    for (size_t t = 1; t < workers; ++t)
        pool.emplace_back(slice, std::min(positions.size(), t * share), std::min(positions.size(), (t + 1) * share));
    slice(0, std::min(positions.size(), share));
    for (std::thread& t : pool) t.join();
    return pulses;
}

// Whether the unknown-count walk runs in one sweep, keeping 16- or 32-bit steps back to the
// predecessors. (The walks of an unknown count have allowed one sweep in every one of 2 million
// random problems tried; the full rows stay for any that would not.)
bool inOneSweep(const PositionWalks& walks, int64_t Tmin, int64_t Tmax) {
    return oneSweepAllowed(walks, Tmin) && Tmax < (int64_t{1} << 31);
}

// A working row of `entries` 64-bit values, left uninitialised: every row is written where it
// is read, and clearing a long recording's rows would cost as much as a walk over them.
using Row = std::unique_ptr<int64_t[]>;
Row largeRow(size_t entries) { return Row(new int64_t[std::max<size_t>(entries, 1)]); }

// The chain of lane `lane` ending at `end`, followed back through the steps of a walk in one
// sweep until a step of 0.
template <class StepSum>
std::vector<int64_t> followSteps(const StepSum* steps, int width, int lane, int64_t end) {
    std::vector<int64_t> chain{end};
    for (int64_t p = end; steps[p * width + lane] != 0; p -= steps[p * width + lane]) chain.push_back(p - steps[p * width + lane]);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// The chain of lane `lane` (of `width` interleaved lanes) ending at `end`, followed back through
// b until a negative predecessor.
std::vector<int64_t> followBack(const int64_t* b, int64_t positions, int width, int lane, int64_t end) {
    std::vector<int64_t> chain;
    for (int64_t p = end; p >= 0 && p < positions; p = b[static_cast<size_t>(p * width + lane)]) chain.push_back(p);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// The strict minimum of lane `lane` of r (position l at entry l & mask) over the walk `last`
// below `start` (first position among equals).
int64_t chainEnd(const PositionWalks::Intervals& last, const int64_t* r, int64_t mask, int width, int lane,
                 int64_t start, int64_t& total) {
    int64_t end = -1;
    total = start;
    forEachPosition(last, [&](int64_t l) {
        const int64_t v = r[static_cast<size_t>((l & mask) * width + lane)];
        if (v < total) {
            total = v;
            end = l;
        }
    });
    return end;
}

// Recognition programmes kRecordingLanes candidates side by side when the work rows of a lane
// group (bytes per position and lane) fit this budget; else one candidate at a time. The result
// is the same either way.
constexpr double kLaneMemoryBudget = 5e8;

int laneWidth(bool recognize, int candidates, double bytesPerLane) {
    return recognize && candidates > 1 && bytesPerLane * kRecordingLanes <= kLaneMemoryBudget ? kRecordingLanes : 1;
}

// What the programmes keep of the best chain so far.
struct Best {
    int64_t total = 0;
    int index = -1;  // the candidate, -1 for the whole list
    std::vector<int64_t> positions;
};

// The run's fixed parts, shared by the unknown- and known-count programmes.
struct Run {
    const ShapeScores& scores;
    unsigned threads;
    ChannelSamples y;
    int64_t Tmin, Tmax;
    bool recognize;
    int candidates;
    const std::function<void(double)>& progress;
    const std::atomic<bool>& cancel;
    posterior_detail::WeighAlong* along = nullptr;  // begun: the unknown count's match of every shape at once
    // The match is most of the work; the programmes follow it.
    static constexpr double kMatchShare = 0.9;

    // The local scores of lane group `group` over `intervals` into the interleaved row q (entry
    // 0 at position `offset`), as a stream that has begun: the candidates in turn when
    // recognising, else the whole list in lane 0.
    template <int Width>
    std::unique_ptr<ScoreStream> streamGroup(int group, const PositionWalks::Intervals& intervals, int64_t offset,
                                             int64_t* q, int64_t qMask, int& lanes) const {
        const int rounds = recognize ? candidates : 1;
        lanes = recognize ? std::min(Width, candidates - group * Width) : 1;
        std::vector<int> indices;
        for (int lane = 0; lane < lanes; ++lane) indices.push_back(recognize ? group * Width + lane : -1);
        const int first = group * Width;
        return std::make_unique<ScoreStream>(scores, threads, y, intervals, offset, std::move(indices), q, qMask, Width,
                                             progress, cancel, kMatchShare * first / rounds,
                                             kMatchShare * lanes / rounds, along);
    }
    int groups(int width) const { return recognize ? (candidates + width - 1) / width : 1; }
};

// The unknown-count programme over lane groups of Width candidates (one group of the whole list
// unless recognising). Detection accepts a chain below the acceptance bound; recognition keeps
// the first candidate with the strictly smallest such total. False when cancelled. `onlyGroup`
// (>= 0) runs that group alone.
template <int Width>
bool unknownCount(const Run& run, const PositionWalks& walks, int64_t positions, Best& best, int onlyGroup = -1) {
    // In one sweep the totals are kept only as long as a window may read them, in a ring above
    // Tmax + 1 positions, and the predecessors as steps back (16 bits up to a Tmax of 65535, else
    // 32); else for every position. Lane groups in one sweep keep no steps: each lane's would be
    // a detection's worth of memory, written and never read but for one lane, so the winning
    // candidate's programme runs once more alone for its chain (the same totals: the lanes are
    // independent programmes). The scores are written where the walks go before they are read:
    // no row needs clearing.
    const bool oneSweep = inOneSweep(walks, run.Tmin, run.Tmax);
    constexpr bool keepSteps = Width == 1;
    const size_t entries = static_cast<size_t>(positions) * Width;
    int64_t ring = 1;
    while (ring < run.Tmax + 2) ring <<= 1;
    const int64_t mask = oneSweep ? ring - 1 : -1;
    // The scores too: in a ring of blocks that the match fills ahead of the walk (two per
    // thread and two more, so that no thread waits for long).
    int64_t slots = 4;
    while (slots < static_cast<int64_t>(run.threads) + 2 && slots < 64) slots <<= 1;
    const int64_t qMask = oneSweep && slots * chunkOf(Width) < positions ? slots * chunkOf(Width) - 1 : -1;
    const Row q = largeRow(qMask < 0 ? entries : static_cast<size_t>(qMask + 1) * Width);
    const Row r = largeRow(oneSweep ? static_cast<size_t>(ring) * Width : entries), b = largeRow(oneSweep ? 0 : entries);
    const bool shortSteps = run.Tmax < (int64_t{1} << 16);
    const std::unique_ptr<uint16_t[]> steps16(oneSweep && keepSteps && shortSteps ? new uint16_t[entries] : nullptr);
    const std::unique_ptr<int32_t[]> steps32(oneSweep && keepSteps && !shortSteps ? new int32_t[entries] : nullptr);
    WindowMinimum<int64_t, Width> window;
    best.total = kAccept;
    int bestGroup = -1;
    for (int group = std::max(onlyGroup, 0); group < (onlyGroup >= 0 ? onlyGroup + 1 : run.groups(Width)); ++group) {
        int lanes = 0;
        const auto stream = run.streamGroup<Width>(group, walks.any, 0, q.get(), qMask, lanes);
        bool walked;
        if (oneSweep) {
            // The walk follows the match: it waits only for the chunk it is about to enter.
            const std::function<int64_t(int64_t)> scoredThrough = [&](int64_t l) {
                return stream->upTo(l) ? stream->scoredThrough(l) : std::numeric_limits<int64_t>::max();
            };
            if constexpr (Width > 1)
                walked = walkInOneSweepOn(walks, q.get(), qMask, scoredThrough, run.Tmin, run.Tmax, kUnset, r.get(),
                                          ring, positions, &run.cancel);
            else
                walked = shortSteps ? walkInOneSweepOn(walks, q.get(), qMask, scoredThrough, run.Tmin, run.Tmax, kUnset,
                                                       r.get(), ring, steps16.get(), positions, &run.cancel)
                                    : walkInOneSweepOn(walks, q.get(), qMask, scoredThrough, run.Tmin, run.Tmax, kUnset,
                                                       r.get(), ring, steps32.get(), positions, &run.cancel);
        } else if constexpr (Width == 1) {
            walked = stream->all() && walkPulseChainsOn<int64_t, 1>(
                                              walks.firstOnly, walks.both, walks.laterOnly,
                                              [&](int64_t l, int64_t& score) { score = q[static_cast<size_t>(l)]; },
                                              run.Tmin, run.Tmax, kUnset, r.get(), b.get(), positions, window,
                                              &run.cancel);
        } else {
            walked = stream->all() && walkPulseChainsLanes(walks.firstOnly, walks.both, walks.laterOnly, q.get(),
                                                           run.Tmin, run.Tmax, kUnset, r.get(), b.get(), positions,
                                                           window, &run.cancel);
        }
        if (!walked || run.cancel.load()) return false;
        // The first lane with the strictly smallest total below the best so far; its chain is
        // followed back once.
        int bestLane = -1;
        int64_t bestEnd = -1;
        for (int lane = 0; lane < lanes; ++lane) {
            int64_t total;
            const int64_t end = chainEnd(walks.last, r.get(), mask, Width, lane, kUnset, total);
            if (end >= 0 && total < best.total) {
                best.total = total;
                bestLane = lane;
                bestEnd = end;
            }
        }
        if (bestLane >= 0) {
            best.index = run.recognize ? group * Width + bestLane : -1;
            bestGroup = group;
            best.positions = !oneSweep   ? followBack(b.get(), positions, Width, bestLane, bestEnd)
                             : !keepSteps ? std::vector<int64_t>{}
                             : shortSteps ? followSteps(steps16.get(), Width, bestLane, bestEnd)
                                          : followSteps(steps32.get(), Width, bestLane, bestEnd);
        }
        if (run.cancel.load()) return false;
    }
    if (oneSweep && !keepSteps && bestGroup >= 0) {
        // The winner alone, its progress already reported with its group's.
        const std::function<void(double)> quiet;
        const Run alone{run.scores, run.threads, run.y, run.Tmin, run.Tmax, run.recognize, run.candidates, quiet,
                        run.cancel};
        Best chain;
        if (!unknownCount<1>(alone, walks, positions, chain, best.index)) return false;
        best.positions = std::move(chain.positions);
    }
    return true;
}

// The known-count programme over lane groups of Width candidates. Detection always places the
// K pulses (a finite penalty where a window holds nothing better); recognition keeps the first
// candidate with the strictly smallest distance. False when cancelled.
template <int Width>
bool knownCount(const Run& run, const Problem& problem, Best& best) {
    const int64_t lo = problem.lo.front(), hi = problem.hi.back();
    std::vector<int64_t> q(static_cast<size_t>(hi - lo + 1) * Width, 0);
    LayeredWork<int64_t, Width> work;
    std::vector<int64_t> position, distance;
    const std::span<const int64_t> los(problem.lo), his(problem.hi);
    const PositionWalks::Intervals all{{lo, hi}};
    const size_t K = problem.lo.size();
    best.total = kFar;
    for (int group = 0; group < run.groups(Width); ++group) {
        int lanes = 0;
        if (!run.streamGroup<Width>(group, all, lo, q.data(), -1, lanes)->all()) return false;
        const int64_t predStart = run.recognize ? kFar : kPenalty, endStart = run.recognize ? kFar : kAccept;
        bool layered;
        if constexpr (Width == 1)
            layered = layeredTotals<int64_t, 1>(
                los, his,
                [&](size_t) { return [row = q.data(), lo](int64_t k, int64_t& score) { score = row[k - lo]; }; },
                run.Tmin, run.Tmax, predStart, work, &run.cancel);
        else
            layered = layeredTotalsLanes(los, his, q.data(), lo, run.Tmin, run.Tmax, predStart, work, &run.cancel);
        if (!layered) return false;
        followLayers<int64_t, Width>(los, his, work, lanes, run.Tmin, run.Tmax, endStart, kFar, position, distance);
        for (int lane = 0; lane < lanes; ++lane)
            if (!run.recognize || distance[static_cast<size_t>(lane)] < best.total) {
                best.total = distance[static_cast<size_t>(lane)];
                best.index = run.recognize ? group * Width + lane : -1;
                best.positions.assign(position.begin() + static_cast<ptrdiff_t>(lane * K),
                                      position.begin() + static_cast<ptrdiff_t>((lane + 1) * K));
            }
        if (run.cancel.load()) return false;
    }
    return true;
}
}  // namespace

DetectResult detectInRecording(const DetectRequest& request, const std::function<void(double)>& progress,
                               const std::atomic<bool>& cancel) {
    return detectInRecording(request, progress, cancel, nullptr);
}

DetectResult detectInRecording(const DetectRequest& request, const std::function<void(double)>& progress,
                               const std::atomic<bool>& cancel, posterior_detail::WeighAlong* along) {
    DetectResult result;
    Problem problem;
    if (std::string why = check(request, problem); !why.empty()) {
        result.error = std::move(why);
        return result;
    }
    const int64_t N = problem.N, n = problem.n, Tmin = problem.tmin, Tmax = problem.tmax;
    const ChannelSamples y(request.signal.data(), N);
    const bool recognize = request.task == DetectTask::recognize;
    const int candidates = static_cast<int>(problem.shapes.size());
    auto cancelled = [&] {
        result = DetectResult{};
        result.completed = false;
        return result;
    };

    try {
        unsigned threads = request.threads > 0 ? static_cast<unsigned>(request.threads) : std::thread::hardware_concurrency();
        threads = std::clamp(threads, 1u, 256u);
        ShapeScores scores;
        scores.prepare(problem.shapes, request.savedEnergy,
                       ShapeScores::Model{request.gainMin, request.gainMax, request.pulseCost}, request.channels);
        // The posterior's weights ride along where the match scores the best over every shape.
        posterior_detail::WeighAlong* const weighing = along && !recognize && !request.count ? along : nullptr;
        if (weighing) weighing->begin(N - n + 1, static_cast<size_t>(candidates));
        const Run run{scores, threads, y, Tmin, Tmax, recognize, candidates, progress, cancel, weighing};
        Best best;
        bool done;
        if (!request.count) {
            const int64_t Kmin = std::max<int64_t>(1, (N + n - 1) / Tmax), Kmax = (N + Tmin - n) / Tmin;
            const PositionWalks walks = positionWalks(N, n, Tmin, Tmax, Kmin, Kmax);
            if (Kmin > Kmax || walks.last.empty()) {
                result.error = noChainFits(problem, request);
                return result;
            }
            const int64_t positions = N - n + 1;
            // Per position and lane: every row, or nothing in one sweep (rings; the winner's steps
            // are one lane's).
            const double perLane = !inOneSweep(walks, Tmin, Tmax) ? 8 * 5 : 0;
            if (laneWidth(recognize, candidates, static_cast<double>(positions) * perLane) > 1)
                done = unknownCount<kRecordingLanes>(run, walks, positions, best);
            else
                done = unknownCount<1>(run, walks, positions, best);
        } else {
            // Per lane: every layer's totals, the scores and one layer's two window rows.
            const double span = static_cast<double>(problem.hi.back() - problem.lo.front() + 1);
            if (laneWidth(recognize, candidates, (problem.cells + 3 * span) * 8) > 1)
                done = knownCount<kRecordingLanes>(run, problem, best);
            else
                done = knownCount<1>(run, problem, best);
        }
        if (!done) return cancelled();
        if (best.positions.empty()) {
            result.error = noChainFits(problem, request);
            return result;
        }
        result.distance = best.total;
        result.pulses = pulsesAt(scores, problem.numbers, best.index, y, best.positions, threads);
    } catch (const std::bad_alloc&) {
        result = DetectResult{};
        result.error = "Not enough memory for a detection in " + std::to_string(N) + " samples.";
        return result;
    } catch (const std::system_error& e) {
        result = DetectResult{};
        result.error = std::string("Could not start the matching threads: ") + e.what();
        return result;
    }
    if (progress) progress(1.0);
    return result;
}
