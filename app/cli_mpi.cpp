#include "app/cli_mpi.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli_commands.h"
#include "app/cli_detect.h"
#include "app/cli_manifest.h"
#include "core/manifest.h"
#include "simulation/shard.h"

#ifdef PULSEBENCH_MPI
#define OMPI_SKIP_MPICXX 1  // the C interface only
#include <mpi.h>
#endif

namespace {
// Set by the launcher for every process it starts.
bool launchedByMpirun() {
    return std::getenv("OMPI_COMM_WORLD_SIZE") || std::getenv("PMIX_RANK") || std::getenv("PMI_RANK");
}

using Clock = std::chrono::steady_clock;
[[maybe_unused]] double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The job as this process sees it.
struct Job {
    bool active = false;  // MPI started
    int rank = 0;
    int size = 1;
    int localSize = 1;    // ranks on this machine
    bool joined = false;  // took part in the simulation's exchange
};
Job job;

// Set from a signal handler, by a stop request from rank 0, or on rank 0 when a rank failed.
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;
extern "C" void onStopSignal(int number) {
    stopSignal = number;
    stopRequested.store(true);
}

// Discards what a quiet rank writes to standard output.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
};
}  // namespace

bool quietRank() { return job.active && job.rank != 0; }

#ifndef PULSEBENCH_MPI

namespace {
// A build without MPI under mpirun: every rank would run the whole command and write alike.
bool refusedUnderMpirun(StderrMessageSink& window, const std::string& command) {
    if (!launchedByMpirun()) return false;
    window.messageBox("This pulsebench-cli was built without MPI; run " + command + " without mpirun.",
                      " " + command + " ", MessageIcon::Warning);
    return true;
}
}  // namespace

int runSimulateOnRanks(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window) {
    return refusedUnderMpirun(window, "simulate") ? 1 : runSimulate(options, out, window);
}

int runDetectOnRanks(const DetectOptions& options, std::ostream& out, StderrMessageSink& window) {
    return refusedUnderMpirun(window, "detect") ? 1 : runDetect(options, out, window);
}

int simulateOnRanks(MessageSink& window, RestErrorHeader* acc, uint16_t alphabetSize, const Alphabet& alphabet,
                    uint16_t n, const uint16_t* requiredList, uint16_t seriesType, uint16_t taskType,
                    uint16_t makingEnergy, uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                    SeedCells& seeds, const SimulationSettings& settings, const SimulationControl& control) {
    return statCutoffSighting(window, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType,
                              makingEnergy, processingEnergy, series, noiseSeed, seeds, settings, control);
}

#else

namespace {
// Messages between the ranks; every rank other than 0 sends progress and then exactly one
// final report, and receives from rank 0 at most one stop request and then exactly one end.
enum Tag : int { kProgress = 1, kFinal = 2, kStop = 3, kEnd = 4 };

// How a rank's share ended.
enum FinalStatus : int64_t { kDone = 0, kFailed = 1, kStopped = 2, kSignalled = 3 };

// A rank's final report: status, share, timings, its first message, its cells' sums and the
// command's own bytes (a manifest's outcomes).
struct Final {
    bool received = false;
    int64_t status = kDone;
    int first = 0, end = 0;
    double reachSeconds = 0.0, busySeconds = 0.0;
    std::string text, caption;
    int icon = 0;
    std::vector<int64_t> sums;  // R, D, M per cell of the share
    std::string payload;
};

std::vector<char> encode(const Final& f) {
    const int64_t head[9] = {f.status, f.first, f.end, static_cast<int64_t>(f.reachSeconds * 1e9),
                             static_cast<int64_t>(f.busySeconds * 1e9), static_cast<int64_t>(f.text.size()),
                             static_cast<int64_t>(f.caption.size()), f.icon, static_cast<int64_t>(f.payload.size())};
    std::vector<char> bytes(sizeof head + f.sums.size() * sizeof(int64_t) + f.text.size() + f.caption.size() +
                            f.payload.size());
    char* at = bytes.data();
    std::memcpy(at, head, sizeof head);
    at += sizeof head;
    if (!f.sums.empty()) std::memcpy(at, f.sums.data(), f.sums.size() * sizeof(int64_t));
    at += f.sums.size() * sizeof(int64_t);
    std::memcpy(at, f.text.data(), f.text.size());
    at += f.text.size();
    std::memcpy(at, f.caption.data(), f.caption.size());
    at += f.caption.size();
    if (!f.payload.empty()) std::memcpy(at, f.payload.data(), f.payload.size());
    return bytes;
}

bool decode(const std::vector<char>& bytes, Final& f) {
    int64_t head[9];
    if (bytes.size() < sizeof head) return false;
    std::memcpy(head, bytes.data(), sizeof head);
    f.status = head[0];
    f.first = static_cast<int>(head[1]);
    f.end = static_cast<int>(head[2]);
    f.reachSeconds = static_cast<double>(head[3]) * 1e-9;
    f.busySeconds = static_cast<double>(head[4]) * 1e-9;
    f.icon = static_cast<int>(head[7]);
    const size_t cells = f.end > f.first && f.status == kDone ? static_cast<size_t>(f.end - f.first) : 0;
    if (head[5] < 0 || head[6] < 0 || head[8] < 0 || head[5] + head[6] + head[8] > static_cast<int64_t>(bytes.size()))
        return false;
    const size_t need = sizeof head + 3 * cells * sizeof(int64_t) + static_cast<size_t>(head[5] + head[6] + head[8]);
    if (bytes.size() != need) return false;
    const char* at = bytes.data() + sizeof head;
    f.sums.resize(3 * cells);
    if (cells) std::memcpy(f.sums.data(), at, 3 * cells * sizeof(int64_t));
    at += 3 * cells * sizeof(int64_t);
    f.text.assign(at, static_cast<size_t>(head[5]));
    f.caption.assign(at + head[5], static_cast<size_t>(head[6]));
    f.payload.assign(at + head[5] + head[6], static_cast<size_t>(head[8]));
    f.received = true;
    return true;
}

// Waits for a message without spinning a core that the simulation's threads need.
bool probe(int source, int tag, MPI_Status& status, bool wait) {
    for (;;) {
        int flag = 0;
        MPI_Iprobe(source, tag, MPI_COMM_WORLD, &flag, &status);
        if (flag) return true;
        if (!wait) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void sendFinal(const Final& f) {
    const std::vector<char> bytes = encode(f);
    MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, 0, kFinal, MPI_COMM_WORLD);
}

// A rank other than 0 after its final report: waits for rank 0's end (dropping a stop request
// that crossed the report) and returns the job's status.
int awaitEnd() {
    for (;;) {
        MPI_Status status;
        probe(0, MPI_ANY_TAG, status, true);
        int value = 0;
        MPI_Recv(&value, 1, MPI_INT, 0, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (status.MPI_TAG == kEnd) return value;
    }
}

// A rank other than 0 between steps of its work: a stop request from rank 0 stops it.
void takeStopRequest() {
    MPI_Status status;
    if (!probe(0, kStop, status, false)) return;
    int ignored = 0;
    MPI_Recv(&ignored, 1, MPI_INT, 0, kStop, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    stopRequested.store(true);
}

// What rank 0 knows of the others.
struct Gather {
    std::vector<Final> finals;
    std::vector<int> progress;  // cells done per rank
    int pending = 0;            // final reports still to come
    bool stopSent = false;

    explicit Gather(int size) : finals(static_cast<size_t>(size)), progress(static_cast<size_t>(size), 0), pending(size - 1) {}

    void stopAll() {
        if (stopSent) return;
        stopSent = true;
        for (int r = 1; r < static_cast<int>(finals.size()); ++r) {
            if (finals[r].received) continue;
            const int zero = 0;
            MPI_Send(&zero, 1, MPI_INT, r, kStop, MPI_COMM_WORLD);
        }
    }

    // Takes the waiting messages (all of them, or waits for one when `wait`); returns whether
    // the progress changed.
    bool poll(bool wait) {
        bool changed = false;
        MPI_Status status;
        while (pending > 0 && probe(MPI_ANY_SOURCE, MPI_ANY_TAG, status, wait && !changed)) {
            const int source = status.MPI_SOURCE;
            if (status.MPI_TAG == kProgress) {
                int done = 0;
                MPI_Recv(&done, 1, MPI_INT, source, kProgress, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                progress[source] = done;
                changed = true;
            } else if (status.MPI_TAG == kFinal) {
                int count = 0;
                MPI_Get_count(&status, MPI_BYTE, &count);
                std::vector<char> bytes(static_cast<size_t>(count));
                MPI_Recv(bytes.data(), count, MPI_BYTE, source, kFinal, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                Final& f = finals[source];
                if (!decode(bytes, f)) {
                    f = Final{};
                    f.received = true;
                    f.status = kFailed;
                    f.text = "its report could not be read.";
                }
                --pending;
                changed = true;
                if (f.status != kDone) {
                    stopRequested.store(true);
                    stopAll();
                }
            } else {
                int ignored = 0;
                MPI_Recv(&ignored, 1, MPI_INT, source, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            }
        }
        return changed;
    }

    void endAll(int jobStatus) {
        for (int r = 1; r < static_cast<int>(finals.size()); ++r)
            MPI_Send(&jobStatus, 1, MPI_INT, r, kEnd, MPI_COMM_WORLD);
    }
};

// Where rank r's share lies: rank 0 takes the last range, so that it ends holding the grid's
// last series as a single process does; ranks 1, 2, ... take the ranges from the first on.
int rangeOf(int rank, int size) { return (rank + size - 1) % size; }

void storeCell(RestErrorHeader& acc, int c, int64_t R, int64_t D, int64_t M) {
    // The same rounding as the driver: R / u rounded to nearest, D / 128 truncated.
    const int V = acc.wNoiseLevels;
    const int64_t u = acc.repeats & 0xFFFF;
    const int j = c / V, k = c % V;
    acc.lpErrors[k][j] = static_cast<int32_t>((2 * R + u) / (2 * u));
    acc.lpDetectErrors[k][j] = static_cast<int32_t>(D / 128);
    acc.lpRecognErrors[k][j] = static_cast<int32_t>(M);
    acc.lpReservedErrors1[k][j] = 0;
    acc.lpReservedErrors2[k][j] = 0;
    acc.lpReservedErrors3[k][j] = 0;
}

std::string signalText() {
    return "The simulation was stopped by signal " + std::to_string(static_cast<int>(stopSignal)) + ".";
}

// The last line a quiet rank wrote to its standard error (its reason for failing).
std::ostringstream quietErrors;
std::string lastQuietLine() {
    std::string all = quietErrors.str();
    while (!all.empty() && all.back() == '\n') all.pop_back();
    const auto cut = all.rfind('\n');
    return cut == std::string::npos ? all : all.substr(cut + 1);
}
// A rank other than 0 ends its share: its report (the sums, or why there are none) to rank 0,
// then the job's verdict from it. 1 when the whole job completed.
int finishOtherRank(RestErrorHeader* acc, Final& own, int complete, const RecordingMessageSink& messages) {
    if (!complete) {
        own.sums.clear();
        own.status = stopSignal ? kSignalled : (stopRequested.load() && messages.messages.empty()) ? kStopped : kFailed;
        if (own.status == kSignalled) {
            own.text = signalText();
            own.caption = " simulate ";
        } else if (own.status == kFailed && own.text.empty()) {
            own.text = "The simulation stopped.";
        }
    }
    sendFinal(own);
    if (awaitEnd() != 0) return 0;
    // The job's run is complete (a rank whose share was empty never ran the driver).
    if (acc) acc->ifComplete = 1;
    return 1;
}

// Rank 0's verdict on the whole job once every report is in: 0 when it completed, else 1 after
// the one message that says why (its own refusal, a signal, the failure first in cell order, a
// stop).
int jobVerdict(MessageSink& window, const Gather& gather, const RecordingMessageSink& messages, int complete,
               bool ownStopped) {
    int failedRank = -1;  // the failure (or stop by a signal) that came first in cell order
    for (int r = 1; r < job.size; ++r) {
        const Final& f = gather.finals[r];
        if ((f.status == kFailed || f.status == kSignalled) &&
            (failedRank < 0 || rangeOf(r, job.size) < rangeOf(failedRank, job.size)))
            failedRank = r;
    }
    if (!complete && !ownStopped) {
        // Rank 0's own refusal is the one a single process would give (every rank refuses alike).
        for (const auto& m : messages.messages) window.messageBox(m.text, m.caption, m.icon);
    } else if (stopSignal) {
        window.messageBox(signalText(), " simulate ", MessageIcon::Warning);
    } else if (failedRank > 0) {
        const Final& f = gather.finals[failedRank];
        window.messageBox("Rank " + std::to_string(failedRank) + " of " + std::to_string(job.size) + ": " + f.text,
                          f.caption, static_cast<MessageIcon>(f.icon));
    } else if (ownStopped) {
        window.messageBox("The simulation was stopped.", " simulate ", MessageIcon::Warning);
    } else {
        return 0;
    }
    return 1;
}

// Every cell of the other ranks into the accumulator, and the first message in cell order.
void mergeShares(MessageSink& window, RestErrorHeader& acc, Gather& gather, const Final& own) {
    for (int r = 1; r < job.size; ++r) {
        const Final& f = gather.finals[r];
        for (int c = f.first; c < f.end; ++c) {
            const size_t at = 3 * static_cast<size_t>(c - f.first);
            storeCell(acc, c, f.sums[at], f.sums[at + 1], f.sums[at + 2]);
        }
    }
    gather.finals[0] = own;
    for (int range = 0; range < job.size; ++range) {
        const Final& f = gather.finals[(range + 1) % job.size];
        if (!f.text.empty()) {
            window.messageBox(f.text, f.caption, static_cast<MessageIcon>(f.icon));
            break;
        }
    }
    acc.ifComplete = 1;
    acc.endTime = std::time(nullptr);
}

// How evenly the work was shared: predicted from the cost model, measured by the ranks.
void reportBalance(const Gather& gather, int total, const std::vector<double>& cost, const std::vector<int>& bounds) {
    double reach = 0.0, busyMax = 0.0, busySum = 0.0;
    for (const Final& f : gather.finals) {
        reach = std::max(reach, f.reachSeconds);
        busyMax = std::max(busyMax, f.busySeconds);
        busySum += f.busySeconds;
    }
    const double busyMean = busySum / job.size;
    std::fprintf(stderr,
                 "ranks: %d; cells %d; reaching the start: at most %.6f s; busy per rank: mean %.3f s, max %.3f s; "
                 "imbalance: measured %.3f, predicted %.3f\n",
                 job.size, total, reach, busyMean, busyMax, busyMean > 0 ? busyMax / busyMean : 1.0,
                 shareImbalance(cost, bounds));
}
}  // namespace

int simulateOnRanks(MessageSink& window, RestErrorHeader* acc, uint16_t alphabetSize, const Alphabet& alphabet,
                    uint16_t n, const uint16_t* requiredList, uint16_t seriesType, uint16_t taskType,
                    uint16_t makingEnergy, uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                    SeedCells& seeds, const SimulationSettings& settings, const SimulationControl& control) {
    if (!job.active)
        return statCutoffSighting(window, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType,
                                  makingEnergy, processingEnergy, series, noiseSeed, seeds, settings, control);
    job.joined = true;
    const Clock::time_point start = Clock::now();

    // The share: cells weighed by their cost, contiguous ranges in cell order.
    const int P = acc ? acc->wVariousPulses : 0, V = acc ? acc->wNoiseLevels : 0;
    const int total = acc && acc->wPulseValues && acc->lpNoiseLevels && P > 0 && V > 0 ? P * V : 0;
    std::vector<double> cost(static_cast<size_t>(total));
    for (int c = 0; c < total; ++c)
        cost[c] = simulationCellCost(acc->lpNoiseLevels[c % V], series ? series->dwSeriesSize : 0);
    const std::vector<int> bounds = shareCells(cost, job.size);
    const int range = rangeOf(job.rank, job.size);
    const int first = total ? bounds[range] : 0, end = total ? bounds[range + 1] : 0;

    // Reaching the start: the generators' state at the share's first cell.
    RecordingMessageSink messages;
    Final own;
    own.first = first;
    own.end = end;
    int complete = 1;
    // Arguments the generators cannot be moved with are ones the driver refuses: an empty share
    // lets it say why (as it does on every rank), or refuse the share itself.
    const bool reached = first < end && series &&
                         reachSimulationCell(*acc, n, requiredList, taskType, *series, first, seeds, noiseSeed);
    own.reachSeconds = secondsSince(start);

    Gather gather(job.rank == 0 ? job.size : 1);
    SimulationControl share = control;
    share.cancel = &stopRequested;
    if (share.threads == 0)
        share.threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / std::max(job.localSize, 1));
    share.firstCell = first;
    share.endCell = reached ? end : first;
    share.cellSums = [&](int c, int64_t R, int64_t D, int32_t M) {
        own.sums.insert(own.sums.end(), {R, D, static_cast<int64_t>(M)});
        (void)c;
    };
    int ownDone = 0;
    auto report = [&]() {
        int done = ownDone;
        for (int r = 1; r < job.size; ++r) done += gather.progress[r];
        if (control.progress) control.progress(done, total);
    };
    share.progress = [&](int done, int) {
        ownDone = done;
        if (job.rank == 0) {
            gather.poll(false);
            report();
        } else {
            MPI_Send(&done, 1, MPI_INT, 0, kProgress, MPI_COMM_WORLD);
            takeStopRequest();
        }
    };
    // A grid without cells goes to the driver too, which says what is wrong with it.
    if ((first < end || total == 0) && !stopRequested.load())
        complete = statCutoffSighting(messages, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType,
                                      makingEnergy, processingEnergy, series, noiseSeed, seeds, settings, share);
    else if (stopRequested.load())
        complete = 0;
    own.busySeconds = secondsSince(start);
    if (!messages.messages.empty()) {
        own.text = messages.messages.front().text;
        own.caption = messages.messages.front().caption;
        own.icon = static_cast<int>(messages.messages.front().icon);
    }

    if (job.rank != 0) return finishOtherRank(acc, own, complete, messages);

    // Rank 0: the others' reports, then one verdict for the whole job.
    const bool ownStopped = !complete && stopRequested.load() && messages.messages.empty();
    if (!complete) gather.stopAll();
    while (gather.pending > 0)
        if (gather.poll(true)) report();
    const int jobStatus = jobVerdict(window, gather, messages, complete, ownStopped);
    gather.endAll(jobStatus);
    if (jobStatus) return 0;
    mergeShares(window, *acc, gather, own);
    reportBalance(gather, total, cost, bounds);
    return 1;
}

namespace {
// Starts MPI and this process's part of the job: Ctrl-C and SIGTERM stop it, and a rank other
// than 0 prints nothing (its reason for failing goes to rank 0). False after a message when MPI
// cannot start.
struct JobStreams {
    NullBuffer null;
    std::streambuf* cout = nullptr;
    std::streambuf* cerr = nullptr;
};
bool startJob(StderrMessageSink& window, const char* caption, JobStreams& streams) {
    int provided = 0;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        window.messageBox("MPI could not start.", caption, MessageIcon::Warning);
        return false;
    }
    job.active = true;
    MPI_Comm_rank(MPI_COMM_WORLD, &job.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &job.size);
    if (const char* local = std::getenv("OMPI_COMM_WORLD_LOCAL_SIZE")) job.localSize = std::max(1, std::atoi(local));
    // Ctrl-C (mpirun passes it on as a signal to every rank) stops each rank after its cell.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    streams.cout = std::cout.rdbuf();
    streams.cerr = std::cerr.rdbuf();
    if (job.rank != 0) {
        std::cout.rdbuf(&streams.null);
        std::cerr.rdbuf(quietErrors.rdbuf());
    }
    return true;
}

void endJob(const JobStreams& streams) {
    std::cout.rdbuf(streams.cout);
    std::cerr.rdbuf(streams.cerr);
    MPI_Finalize();
}

// A command stopped before its ranks exchanged their work (refused parameters, memory): every
// rank still ends the job together, and rank 0 alone speaks. `gather` is rank 0's view of the
// reports already taken. Returns the job's status.
int endUnjoined(int status, StderrMessageSink& window, Gather& gather) {
    if (job.rank == 0) {
        if (status != 0) gather.stopAll();
        while (gather.pending > 0) gather.poll(true);
        int failedRank = -1;
        for (int r = 1; r < job.size && failedRank < 0; ++r)
            if (gather.finals[r].status != kDone) failedRank = r;
        if (status == 0 && failedRank > 0) {
            window.messageBox("Rank " + std::to_string(failedRank) + " of " + std::to_string(job.size) + ": " +
                                      gather.finals[failedRank].text,
                              "", MessageIcon::Warning);
            status = 1;
        }
        gather.endAll(status);
        return status;
    }
    Final own;
    own.status = status == 0 ? kDone : kFailed;
    own.text = status == 0 ? "" : lastQuietLine();
    sendFinal(own);
    return awaitEnd();
}
}  // namespace

int runSimulateOnRanks(const SimulateOptions& options, std::ostream& out, StderrMessageSink& window) {
    if (!launchedByMpirun()) return runSimulate(options, out, window);
    JobStreams streams;
    if (!startJob(window, " simulate ", streams)) return 1;
    int status = runSimulate(options, out, window);
    if (!job.joined) {
        Gather gather(job.rank == 0 ? job.size : 1);
        status = endUnjoined(status, window, gather);
    }
    endJob(streams);
    return status;
}


namespace {
// A manifest's outcomes as bytes between ranks: per row its index, status, pulse count and texts.
void putNumber(std::string& bytes, int64_t value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof value); }
void putText(std::string& bytes, const std::string& text) {
    putNumber(bytes, static_cast<int64_t>(text.size()));
    bytes += text;
}
std::string encodeOutcomes(const std::vector<RecordingOutcome>& outcomes, const std::vector<size_t>& rows) {
    std::string bytes;
    for (const size_t row : rows) {
        const RecordingOutcome& o = outcomes[row];
        putNumber(bytes, static_cast<int64_t>(row));
        putNumber(bytes, o.status);
        putNumber(bytes, o.pulses);
        for (const std::string* text : {&o.text, &o.json, &o.csv, &o.error}) putText(bytes, *text);
    }
    return bytes;
}
// Fills the rows the bytes hold into `outcomes` and counts each in `received`.
bool decodeOutcomes(const std::string& bytes, std::vector<RecordingOutcome>& outcomes, std::vector<int>& received) {
    size_t at = 0;
    const auto number = [&](int64_t& value) {
        if (bytes.size() - at < sizeof value) return false;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        at += sizeof value;
        return true;
    };
    const auto text = [&](std::string& value) {
        int64_t size = 0;
        if (!number(size) || size < 0 || static_cast<uint64_t>(size) > bytes.size() - at) return false;
        value.assign(bytes, at, static_cast<size_t>(size));
        at += static_cast<size_t>(size);
        return true;
    };
    while (at < bytes.size()) {
        int64_t row = 0, status = 0;
        if (!number(row) || row < 0 || static_cast<uint64_t>(row) >= outcomes.size()) return false;
        ++received[static_cast<size_t>(row)];
        RecordingOutcome& o = outcomes[static_cast<size_t>(row)];
        if (!number(status) || !number(o.pulses) || !text(o.text) || !text(o.json) || !text(o.csv) || !text(o.error))
            return false;
        o.status = static_cast<int>(status);
    }
    return true;
}

// The ranks of a job sharing a manifest: rows by size (shareRows), progress and the outcomes to
// rank 0 over the messages the simulation uses, and one verdict from rank 0.
class RankSharing : public ManifestSharing {
public:
    RankSharing() : gather_(job.rank == 0 ? job.size : 1) {}
    Gather& gatherer() { return gather_; }
    bool finished() const { return finished_; }

    bool writes() const override { return job.rank == 0; }
    std::vector<size_t> ownRows(const std::vector<uint64_t>& sizes) override {
        job.joined = true;
        const std::vector<int> part = shareRows(sizes, job.size);
        std::vector<size_t> own;
        for (size_t row = 0; row < part.size(); ++row)
            if (part[row] == job.rank) own.push_back(row);
        return own;
    }
    size_t tick(size_t ownDone) override {
        if (job.rank == 0) {
            gather_.poll(false);
            size_t done = ownDone;
            for (int r = 1; r < job.size; ++r) done += static_cast<size_t>(gather_.progress[r]);
            return done;
        }
        if (ownDone != sent_) {
            sent_ = ownDone;
            const int done = static_cast<int>(ownDone);
            MPI_Send(&done, 1, MPI_INT, 0, kProgress, MPI_COMM_WORLD);
        }
        takeStopRequest();
        return ownDone;
    }
    const std::atomic<bool>& stop() const override { return stopRequested; }
    int threadsWhenAll() const override {
        return std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / std::max(job.localSize, 1));
    }
    bool gather(std::vector<RecordingOutcome>& outcomes, const std::vector<size_t>& own, bool complete,
                MessageSink& window) override {
        finished_ = true;
        const std::string stoppedBySignal =
                "The detection was stopped by signal " + std::to_string(static_cast<int>(stopSignal)) + ".";
        if (job.rank != 0) {
            Final f;
            f.status = complete ? kDone : stopSignal ? kSignalled : kStopped;
            if (f.status == kSignalled) f.text = stoppedBySignal;
            if (complete) f.payload = encodeOutcomes(outcomes, own);
            sendFinal(f);
            return awaitEnd() == 0;
        }
        if (!complete) gather_.stopAll();
        while (gather_.pending > 0) gather_.poll(true);
        // The failure that came first in rank order, or a rank's outcomes that do not read.
        int failedRank = -1;
        std::vector<int> received(outcomes.size(), 0);
        for (const size_t row : own) ++received[row];
        for (int r = 1; r < job.size && failedRank < 0; ++r) {
            Final& f = gather_.finals[r];
            if (f.status == kDone && !decodeOutcomes(f.payload, outcomes, received)) {
                f.status = kFailed;
                f.text = "its results could not be read.";
            }
            if (f.status == kFailed || f.status == kSignalled) failedRank = r;
        }
        // Every rank shares the rows by the sizes it sees: ranks that see other files would
        // leave a row out or run it twice.
        const bool shared = std::all_of(received.begin(), received.end(), [](int n) { return n == 1; });
        int status = 1;
        if (stopSignal) {
            window.messageBox(stoppedBySignal, " detect ", MessageIcon::Warning);
        } else if (failedRank > 0) {
            const Final& f = gather_.finals[failedRank];
            window.messageBox("Rank " + std::to_string(failedRank) + " of " + std::to_string(job.size) + ": " + f.text +
                                      " Nothing written.",
                              " detect ", MessageIcon::Warning);
        } else if (!complete || std::any_of(gather_.finals.begin() + 1, gather_.finals.end(),
                                            [](const Final& f) { return f.status != kDone; })) {
            window.messageBox("The detection was stopped; nothing written.", " detect ", MessageIcon::Warning);
        } else if (!shared) {
            window.messageBox("The ranks shared the manifest's rows differently (do they all see the same files?); "
                              "nothing written.",
                              " detect ", MessageIcon::Warning);
        } else {
            status = 0;
        }
        gather_.endAll(status);
        return status == 0;
    }

private:
    Gather gather_;
    size_t sent_ = 0;
    bool finished_ = false;
};
}  // namespace

int runDetectOnRanks(const DetectOptions& options, std::ostream& out, StderrMessageSink& window) {
    if (!launchedByMpirun()) return runDetect(options, out, window);
    JobStreams streams;
    if (!startJob(window, " detect ", streams)) return 1;
    RankSharing sharing;
    int status = 1;
    if (options.manifest.empty()) {
        // Every rank would detect the same recording and write the same files.
        window.messageBox("under mpirun, detect shares the recordings of --manifest FILE among the ranks; for one "
                          "recording run it without mpirun.",
                          " detect ", MessageIcon::Warning);
    } else {
        DetectOptions shared = options;
        shared.cancel = &stopRequested;
        try {
            status = runDetectManifest(shared, out, window, &sharing);
        } catch (const std::exception& e) {
            window.messageBox(std::string("failed: ") + e.what(), " detect ", MessageIcon::Warning);
            status = 1;
        }
    }
    // Refused before the rows were shared, or failed before the outcomes were gathered: the job
    // still ends together.
    if (!sharing.finished()) status = endUnjoined(status == 0 ? 1 : status, window, sharing.gatherer());
    endJob(streams);
    return status;
}

#endif
