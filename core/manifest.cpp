#include "core/manifest.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <thread>

#include "io/text_lines.h"

namespace {
// The manifest's own folder is where relative names start, wherever the tool runs from.
std::string besideManifest(const std::string& manifest, const std::string& name) {
    const std::filesystem::path named(name);
    if (named.is_absolute()) return name;
    const std::filesystem::path folder = std::filesystem::path(manifest).parent_path();
    return folder.empty() ? name : (folder / named).string();
}
}  // namespace

IoResult<std::vector<ManifestRow>> readManifest(const std::string& path) {
    using Result = IoResult<std::vector<ManifestRow>>;
    LineReader reader;
    std::string error;
    if (!reader.open(path, error)) return Result::failure(error);
    std::string_view line;
    int64_t lineNumber = 0;
    if (!reader.next(line, lineNumber, error))
        return Result::failure(error.empty() ? path + ": the manifest is empty; it needs a header line naming its "
                                                      "columns (file, ...) and one recording a line"
                                             : error);
    // One column has no separator to find: its fields are whole lines, blanks inside a name kept.
    const char separator = chooseSeparator(line) ? chooseSeparator(line) : ',';
    constexpr size_t kinds = std::size(kManifestColumns);
    std::vector<size_t> kindOf;  // the column kind of each header field
    std::vector<bool> seen(kinds, false);
    for (const std::string_view field : splitFields(line, separator)) {
        const std::string name = unquote(field);
        const auto known = std::find(std::begin(kManifestColumns), std::end(kManifestColumns), name);
        if (known == std::end(kManifestColumns))
            return Result::failure(at(path, lineNumber) + "unknown column " + quoteForMessage(name) +
                                   " (a manifest's columns: file, column, channel, rate, shapes)");
        const size_t kind = static_cast<size_t>(known - std::begin(kManifestColumns));
        if (seen[kind]) return Result::failure(at(path, lineNumber) + "the column \"" + name + "\" is named twice");
        seen[kind] = true;
        kindOf.push_back(kind);
    }
    if (!seen[0]) return Result::failure(at(path, lineNumber) + "no column named \"file\": the header line names the columns, "
                                                               "\"file\" (the recording) among them");
    std::vector<ManifestRow> rows;
    while (reader.next(line, lineNumber, error)) {
        const std::vector<std::string_view> fields = splitFields(line, separator);
        const std::string where = at(path, lineNumber) + "row " + std::to_string(rows.size() + 1) + ": ";
        if (fields.size() != kindOf.size())
            return Result::failure(where + std::to_string(fields.size()) + " field(s), the header names " +
                                   std::to_string(kindOf.size()));
        ManifestRow row;
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string value = unquote(fields[i]);
            if (kindOf[i] == 0) {
                if (value.empty()) return Result::failure(where + "no file named");
                row.path = besideManifest(path, value);
                row.file = std::move(value);
                continue;
            }
            if (value.empty()) continue;
            switch (kindOf[i]) {
                case 1: row.column = std::move(value); break;
                case 2: row.channel = std::move(value); break;
                case 3: row.rate = std::move(value); break;
                default: row.shapes = besideManifest(path, value); break;
            }
        }
        rows.push_back(std::move(row));
    }
    if (!error.empty()) return Result::failure(error);
    if (rows.empty()) return Result::failure(path + ": the manifest names no recording (a header line and no row)");
    return Result::success(std::move(rows));
}

std::string manifestRowName(size_t index, const ManifestRow& row) {
    return "row " + std::to_string(index + 1) + " (" + row.file + ")";
}

std::vector<uint64_t> manifestFileSizes(const std::vector<ManifestRow>& rows) {
    std::vector<uint64_t> sizes;
    for (const ManifestRow& row : rows) {
        std::error_code ignored;
        const uintmax_t size = std::filesystem::file_size(row.path, ignored);
        sizes.push_back(ignored ? 0 : static_cast<uint64_t>(size));
    }
    return sizes;
}

std::vector<size_t> largestFirst(const std::vector<uint64_t>& sizes) {
    std::vector<size_t> order(sizes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    return order;
}

std::vector<int> shareRows(const std::vector<uint64_t>& sizes, int parts) {
    std::vector<int> part(sizes.size(), 0);
    std::vector<uint64_t> load(static_cast<size_t>(std::max(parts, 1)), 0);
    for (const size_t row : largestFirst(sizes)) {
        const size_t least = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        part[row] = static_cast<int>(least);
        // An empty or unreadable file still costs a start: it counts as one byte.
        load[least] += std::max<uint64_t>(sizes[row], 1);
    }
    return part;
}

size_t runManifestRows(const std::vector<size_t>& order, int threads, const std::function<void(size_t)>& work,
                       const std::function<void(size_t)>& tick, const std::atomic<bool>& cancel) {
    std::mutex mutex;
    std::condition_variable finished;
    size_t next = 0, done = 0, running = 0;
    const auto worker = [&] {
        std::unique_lock lock(mutex);
        while (next < order.size() && !cancel.load()) {
            const size_t row = order[next++];
            ++running;
            lock.unlock();
            work(row);
            lock.lock();
            --running;
            ++done;
            finished.notify_one();
        }
    };
    const size_t count = std::clamp<size_t>(static_cast<size_t>(std::max(threads, 1)), 1, std::max<size_t>(order.size(), 1));
    std::vector<std::thread> pool;
    pool.reserve(count);
    for (size_t i = 0; i < count; ++i) pool.emplace_back(worker);
    {
        std::unique_lock lock(mutex);
        size_t told = 0;
        for (;;) {
            const bool over = done == order.size() || ((cancel.load() || next == order.size()) && running == 0);
            if (done != told || over) {
                told = done;
                lock.unlock();
                if (tick) tick(told);
                lock.lock();
            }
            if (over) break;
            finished.wait_for(lock, std::chrono::milliseconds(100));
            if (done == told) {
                lock.unlock();
                if (tick) tick(told);
                lock.lock();
            }
        }
    }
    for (std::thread& t : pool) t.join();
    return done;
}
