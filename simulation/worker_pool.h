#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

/// A fixed set of threads that runs the jobs of one batch at a time. The calling thread takes
/// part as worker 0, so a pool of one thread runs everything on the caller.
class WorkerPool {
public:
    /// threads: the number of workers including the caller; 0 means every core.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return static_cast<int>(threads_.size()) + 1; }

    /// Runs job(index, worker) for every index below `count` and returns when all are done.
    /// Which worker runs which index varies; the jobs must not depend on it except for using
    /// per-worker scratch.
    void run(int count, const std::function<void(int index, int worker)>& job);

    /// The two halves of run: start hands the batch to the other workers and returns at once,
    /// so that the caller can do other work; finish lets the caller take part as worker 0 and
    /// returns when every job is done. `job` must live until finish returns.
    void start(int count, const std::function<void(int index, int worker)>& job);
    void finish();

private:
    void loop(int worker);
    void work(int worker);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int, int)>* job_ = nullptr;
    int count_ = 0;
    int next_ = 0;
    int active_ = 0;
    uint64_t batch_ = 0;
    bool stop_ = false;
};
