#pragma once

// A dataset of many recordings named by one manifest, free of any toolkit: the manifest read and
// checked, the rows ordered and shared out largest first, and the rows run on worker threads.
// What a row runs is the caller's: the batch tool runs its one-recording detection on each.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/io_result.h"

/// One recording of a manifest: its signal file and what the row sets for it alone (unset: the
/// value common to every row).
struct ManifestRow {
    std::string file;                    ///< the signal file as the manifest writes it
    std::string path;                    ///< the same, relative to the manifest's folder when not absolute
    std::optional<std::string> column;   ///< text: column number or header name
    std::optional<std::string> channel;  ///< audio: 1-based channel
    std::optional<std::string> rate;     ///< text: samples per second
    std::optional<std::string> shapes;   ///< a shapes file, resolved as `path` is
};

/// The columns a manifest may have; `file` is required.
inline constexpr const char* kManifestColumns[] = {"file", "column", "channel", "rate", "shapes"};

/// Reads a manifest: a table (separated by the first of `,` `;` tab on its header line, else one
/// column) whose header line names its columns (kManifestColumns, each at most once, `file`
/// among them), then one recording a line, every line with as many fields as the header. `#`
/// starts a comment, blank lines are skipped. An empty optional field leaves the common value.
/// Refused with a message naming the manifest and, where it applies, the row (1-based, header
/// not counted): an unreadable file, no header or no row, a missing `file` column, an unknown or
/// repeated column, a row with the wrong number of fields, an empty file name.
IoResult<std::vector<ManifestRow>> readManifest(const std::string& path);

/// How messages name a row: "row 3 (b.wav)", `index` 0-based.
std::string manifestRowName(size_t index, const ManifestRow& row);

/// Each row's file size in bytes (0 when it cannot be read: that row fails when it runs).
std::vector<uint64_t> manifestFileSizes(const std::vector<ManifestRow>& rows);

/// Indices of `sizes`, largest first, equal sizes in manifest order: the long recordings start
/// early, so that the last to finish is a short one.
std::vector<size_t> largestFirst(const std::vector<uint64_t>& sizes);

/// Which of `parts` processes runs each row: largest first, each row to the part with the
/// fewest bytes so far (the lowest such part on a tie). Deterministic, so that every process
/// computes the same sharing. `parts` >= 1.
std::vector<int> shareRows(const std::vector<uint64_t>& sizes, int parts);

/// Runs work(row) for every row of `order` on `threads` worker threads (at least 1, at most
/// the rows), each row once, a worker taking the next row of `order` as it becomes free. The
/// calling thread waits and calls tick(done) after every finished row and at least every 100 ms,
/// so that a caller may poll (MPI) or show progress from it. Once `cancel` is set no further row
/// starts. Returns the number of rows that ran. `work` must not throw.
size_t runManifestRows(const std::vector<size_t>& order, int threads, const std::function<void(size_t row)>& work,
                       const std::function<void(size_t done)>& tick, const std::atomic<bool>& cancel);
