#pragma once

// `pulsebench-cli detect --manifest FILE`: every recording a manifest names, each detected as
// `detect --signal` detects it alone, on worker threads or over the processes of an `mpirun`
// job, the results gathered in manifest order.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "app/cli_detect.h"

/// How the processes of one job share a manifest's rows. Absent: this process runs every row.
class ManifestSharing {
public:
    virtual ~ManifestSharing() = default;
    /// Whether this process prints and writes; the others only compute their rows.
    virtual bool writes() const = 0;
    /// The rows this process runs, given every row's file size in bytes.
    virtual std::vector<size_t> ownRows(const std::vector<uint64_t>& sizes) = 0;
    /// Called on the calling thread at least every 100 ms while rows run, with this process's
    /// rows done; returns the rows done in the whole job, for the progress.
    virtual size_t tick(size_t ownDone) = 0;
    /// Set when the job is to stop (a signal, another process failed); the rows poll it.
    virtual const std::atomic<bool>& stop() const = 0;
    /// Worker threads of this process when --threads is 0.
    virtual int threadsWhenAll() const = 0;
    /// After this process's own rows (`complete`: every one ran): the writer waits for every
    /// other process's outcomes and puts them into `outcomes` (one per row, manifest order); the
    /// others send theirs (the rows of `own`). Returns whether the whole job completed; when it
    /// did not, the writer has said why in one message and nothing may be written.
    virtual bool gather(std::vector<RecordingOutcome>& outcomes, const std::vector<size_t>& own, bool complete,
                        MessageSink& window) = 0;
};

/// Exit status of `detect --manifest` when some recordings failed and the output of the others
/// was written (0: every recording done; 1: a refused manifest or option, nothing written; 130:
/// stopped, nothing written).
inline constexpr int kSomeRecordingsFailed = 3;

/// `detect --manifest FILE`: checks the manifest (readManifest), the options common to every row
/// and each row's own options before any work, then detects every recording and prints, in
/// manifest order, each one's result (text, or one JSON line with "file" after "version"; a
/// failed recording as {"version", "file", "error"}), writes `--csv` as one table with the column
/// `file` first, and reports each failed row and a summary on standard error. Output is written
/// whole or not at all and is the same for any --threads or sharing.
int runDetectManifest(const DetectOptions& options, std::ostream& out, StderrMessageSink& window,
                      ManifestSharing* sharing = nullptr);
