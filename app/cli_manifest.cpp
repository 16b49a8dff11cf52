#include "app/cli_manifest.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/cli_progress.h"
#include "core/manifest.h"
#include "core/version.h"
#include "io/file_batch.h"
#include "io/output_file.h"
#include "model/text_format.h"

namespace {
constexpr const char* kCaption = " detect ";

std::atomic<bool> interrupted{false};
extern "C" void onManifestInterrupt(int) { interrupted.store(true); }

// A name as JSON text; bytes that are no UTF-8 become U+FFFD rather than stop the output.
std::string jsonText(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A CSV field: quoted when it holds a separator, a quote, a line end or blanks at its ends.
std::string csvField(const std::string& text) {
    const bool plain = text.find_first_of(",\"\r\n") == std::string::npos && !text.empty() && text.front() != ' ' &&
                       text.back() != ' ';
    if (plain) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The options of one row: the common ones, with what the row sets for itself. The outputs of
// the whole manifest are not a row's.
DetectOptions rowOptions(const DetectOptions& common, const ManifestRow& row) {
    DetectOptions o = common;
    o.manifest.clear();
    o.signal = row.path;
    if (row.column) o.column = row.column;
    if (row.channel) o.channel = row.channel;
    if (row.rate) o.rate = row.rate;
    if (row.shapes) o.etalons = *row.shapes;
    o.csv.clear();
    o.json = false;
    return o;
}

// One JSON line of a recording: its report with "file" after "version", or its failure.
std::string jsonLine(const ManifestRow& row, const RecordingOutcome& outcome) {
    const std::string head = "{\"version\":" + jsonText(pulsebenchVersion);
    if (outcome.status != 0)
        return head + ",\"file\":" + jsonText(row.file) + ",\"error\":" + jsonText(outcome.error) + "}\n";
    // The report's first member is the version: the file goes right after it.
    if (outcome.json.compare(0, head.size(), head) == 0)
        return head + ",\"file\":" + jsonText(row.file) + outcome.json.substr(head.size());
    return outcome.json;
}

// Refuses what names one file per run: a manifest's outputs gather every recording.
bool refuseSingleOutputs(const DetectOptions& o, MessageSink& window) {
    const std::pair<bool, const char*> single[] = {{!o.plot.empty(), "--plot"},
                                                   {o.plotRange.has_value(), "--plot-range"},
                                                   {!o.saveShapes.empty(), "--save-shapes"},
                                                   {!o.posterior.empty(), "--posterior"}};
    for (const auto& [given, name] : single)
        if (given) {
            window.messageBox(std::string(name) + " writes one recording's file: not with --manifest (its --json and "
                                                  "--csv hold every recording).",
                              kCaption, MessageIcon::Warning);
            return false;
        }
    return true;
}

// The manifest, the common options and every row's own ones, before any work; the CSV header.
bool checkManifest(const DetectOptions& o, const std::vector<ManifestRow>& rows, MessageSink& window,
                   std::string& csvHeader) {
    DetectOptions common = o;
    common.signal = o.manifest;
    // Shapes that every row names itself stand in for --etalons in the check of the rest.
    if (common.etalons.empty() && common.templates.empty() && rows.front().shapes) common.etalons = *rows.front().shapes;
    if (!checkDetectOptions(common, window, csvHeader)) return false;
    if (!o.csv.empty()) {
        const auto overwrites = [&](const std::string& input) { return sameOutputFile(o.csv, input); };
        if (overwrites(o.manifest) || (!o.etalons.empty() && overwrites(o.etalons))) {
            window.messageBox("--csv names an input file (" + o.csv + "): it would be overwritten.", kCaption,
                              MessageIcon::Warning);
            return false;
        }
        for (size_t i = 0; i < rows.size(); ++i)
            if (overwrites(rows[i].path) || (rows[i].shapes && overwrites(*rows[i].shapes))) {
                window.messageBox("--csv names an input file of " + manifestRowName(i, rows[i]) +
                                          ": it would be overwritten.",
                                  kCaption, MessageIcon::Warning);
                return false;
            }
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        RecordingMessageSink own;
        std::string header;
        if (!checkDetectOptions(rowOptions(o, rows[i]), own, header)) {
            window.messageBox(o.manifest + ": " + manifestRowName(i, rows[i]) + ": " +
                                      (own.messages.empty() ? "refused." : own.messages.front().text),
                              kCaption, MessageIcon::Warning);
            return false;
        }
    }
    return true;
}

// The number a checked whole-number option holds.
int wholeOption(const std::string& text) {
    const DecimalText read = readDecimal(text, true);
    return read.value ? static_cast<int>(*read.value) : 0;
}
}  // namespace

int runDetectManifest(const DetectOptions& o, std::ostream& out, StderrMessageSink& window, ManifestSharing* sharing) {
    const auto started = std::chrono::steady_clock::now();
    if (!refuseSingleOutputs(o, window)) return 1;
    IoResult<std::vector<ManifestRow>> read = readManifest(o.manifest);
    if (!read) return window.messageBox(read.error, kCaption, MessageIcon::Warning), 1;
    const std::vector<ManifestRow>& rows = read.value;
    std::string csvHeader;
    if (!checkManifest(o, rows, window, csvHeader)) return 1;

    // The rows of this process, largest first; the threads shared between the rows running.
    const std::vector<uint64_t> sizes = manifestFileSizes(rows);
    std::vector<size_t> own;
    if (sharing) {
        own = sharing->ownRows(sizes);
    } else {
        own.resize(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) own[i] = i;
    }
    std::stable_sort(own.begin(), own.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    const int asked = wholeOption(o.threads);
    const int cores = asked > 0 ? asked
                      : sharing ? sharing->threadsWhenAll()
                                : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int workers = std::max(1, std::min(cores, static_cast<int>(own.size())));
    const int32_t perRow = std::max(1, cores / workers);

    // Ctrl-C stops the rows running at their next check and starts no other.
    interrupted = false;
    const std::atomic<bool>& cancel = sharing ? sharing->stop() : o.cancel ? *o.cancel : interrupted;
    void (*previous)(int) = sharing ? SIG_ERR : std::signal(SIGINT, onManifestInterrupt);
    struct Restore {
        void (*handler)(int);
        ~Restore() {
            if (handler != SIG_ERR) std::signal(SIGINT, handler);
        }
    } restore{previous};

    std::vector<RecordingOutcome> outcomes(rows.size());
    const bool writer = !sharing || sharing->writes();
    Progress bar("recordings");
    if (writer) bar.start(static_cast<long>(rows.size()));
    const auto tick = [&](size_t done) {
        const size_t all = sharing ? sharing->tick(done) : done;
        if (writer) bar(static_cast<long>(all), static_cast<long>(rows.size()));
    };
    const auto work = [&](size_t row) {
        RecordingOutcome& outcome = outcomes[row];
        try {
            outcome = detectRecording(rowOptions(o, rows[row]), perRow, cancel);
        } catch (const std::exception&) {  // the row's options could not even be copied
            outcome = RecordingOutcome{};
            outcome.error = "not enough memory for this recording.";
        }
        // Only what is printed and written is kept (and sent to the writer).
        std::string().swap(o.json ? outcome.text : outcome.json);
        if (o.csv.empty()) std::string().swap(outcome.csv);
    };
    const size_t ran = runManifestRows(own, workers, work, tick, cancel);
    bool complete = ran == own.size() && !cancel.load();
    for (const size_t row : own) complete = complete && outcomes[row].status != 130;
    if (sharing) {
        if (!sharing->gather(outcomes, own, complete, window)) return 1;
        if (!writer) return 0;
        bar(static_cast<long>(rows.size()), static_cast<long>(rows.size()));
    } else if (!complete) {
        window.messageBox("stopped; nothing written.", kCaption, MessageIcon::Warning);
        return 130;
    }

    // The output in manifest order, whatever order the rows ran in.
    std::string printed, table = "file," + csvHeader;
    size_t failed = 0;
    int64_t pulses = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const RecordingOutcome& outcome = outcomes[i];
        if (outcome.status != 0) ++failed;
        pulses += outcome.pulses;
        if (o.json) {
            printed += jsonLine(rows[i], outcome);
        } else {
            printed += (i ? "\nfile: " : "file: ") + rows[i].file + "\n" +
                       (outcome.status == 0 ? outcome.text : "error: " + outcome.error + "\n");
        }
        // Every line of the recording's table but its header, behind the file's name.
        const std::string& csv = outcome.csv;
        const std::string name = csvField(rows[i].file) + ",";
        for (size_t at = csv.find('\n'); at != std::string::npos && at + 1 < csv.size();) {
            const size_t end = csv.find('\n', at + 1);
            table += name + csv.substr(at + 1, end == std::string::npos ? std::string::npos : end - at);
            at = end;
        }
    }
    FileBatch batch;
    if (!o.csv.empty())
        if (IoStatus s = batch.addText(o.csv, [&](std::FILE* f) { std::fwrite(table.data(), 1, table.size(), f); }); !s)
            return window.messageBox(s.error, kCaption, MessageIcon::Warning), 1;
    if (cancel.load()) {
        window.messageBox("stopped; nothing written.", kCaption, MessageIcon::Warning);
        return 130;
    }
    out << printed;
    out.flush();
    if (!out.good()) {
        batch.discard();
        window.messageBox(std::string("Cannot write standard output: ") + std::strerror(errno ? errno : EIO) +
                                  "; nothing written.",
                          kCaption, MessageIcon::Warning);
        return 1;
    }
    if (IoStatus s = batch.commit(); !s) return window.messageBox(s.error, kCaption, MessageIcon::Warning), 1;

    for (size_t i = 0; i < rows.size(); ++i)
        if (outcomes[i].status != 0)
            window.messageBox(manifestRowName(i, rows[i]) + ": " + outcomes[i].error, kCaption, MessageIcon::Warning);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    window.messageBox(std::to_string(rows.size()) + " recordings: " + std::to_string(rows.size() - failed) + " done, " +
                              std::to_string(failed) + " failed; " + std::to_string(pulses) + " pulses found; " + time,
                      kCaption, MessageIcon::None);
    return failed ? kSomeRecordingsFailed : 0;
}
