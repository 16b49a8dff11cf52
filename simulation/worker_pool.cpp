#include "simulation/worker_pool.h"

WorkerPool::WorkerPool(int threads) {
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    if (threads <= 0) threads = 1;
    for (int w = 1; w < threads; ++w) threads_.emplace_back([this, w] { loop(w); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::work(int worker) {
    for (;;) {
        int index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (next_ >= count_) return;
            index = next_++;
        }
        (*job_)(index, worker);
    }
}

void WorkerPool::loop(int worker) {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || batch_ != seen; });
            if (stop_) return;
            seen = batch_;
            ++active_;
        }
        work(worker);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --active_;
        }
        done_.notify_all();
    }
}

void WorkerPool::start(int count, const std::function<void(int, int)>& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        count_ = count;
        next_ = 0;
        ++batch_;
    }
    wake_.notify_all();
}

void WorkerPool::finish() {
    work(0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return next_ >= count_ && active_ == 0; });
    job_ = nullptr;
}

void WorkerPool::run(int count, const std::function<void(int, int)>& job) {
    start(count, job);
    finish();
}
