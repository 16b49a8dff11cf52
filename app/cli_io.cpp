#include "app/cli_io.h"

#include <CLI/CLI.hpp>

#include <span>

#include "app/cli_validators.h"
#include "io/file_batch.h"
#include "io/output_file.h"
#include "io/series_files.h"

void addSeriesFileOptions(CLI::App* command, SeriesFileOptions& o) {
    command->add_option("--csv", o.csv, "write the last series' noisy samples as text, one per line")->check(NonEmptyFileName());
    command->add_option("--wav", o.wav, "write the last series' noisy samples as 16-bit WAV (1 sample per second)")->check(NonEmptyFileName());
    command->add_option("--truth", o.truth, "write the last series' true layout (position,etalon,cutStart,cutEnd)")->check(NonEmptyFileName());
}

int writeSeriesFiles(const SeriesFileOptions& o, const SeriesHeader& h, MessageSink& window) {
    const auto refuse = [&](const std::string& text) {
        window.messageBox(text, " series ", MessageIcon::Warning);
        return 0;
    };
    const std::pair<const char*, const std::string*> named[] = {{"--csv", &o.csv}, {"--wav", &o.wav}, {"--truth", &o.truth}};
    for (size_t i = 0; i < 3; ++i)
        for (size_t k = i + 1; k < 3; ++k)
            if (!named[i].second->empty() && !named[k].second->empty() &&
                sameOutputFile(*named[i].second, *named[k].second))
                return refuse(std::string(named[i].first) + " and " + named[k].first + " name the same file " +
                              *named[i].second);

    const std::span<const int16_t> noisy(h.lpNoisyData, static_cast<size_t>(h.dwSeriesSize));
    FileBatch batch;
    IoStatus status;
    if (status && !o.csv.empty()) status = writeSamplesCsv(batch, o.csv, noisy);
    if (status && !o.wav.empty()) status = writeSamplesWav(batch, o.wav, noisy, 1);
    if (status && !o.truth.empty()) status = writeSeriesTruthCsv(batch, o.truth, h);
    if (status) status = batch.commit();
    return status ? 1 : refuse(status.error);
}
