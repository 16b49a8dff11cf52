#include "io/series_files.h"

#include <sndfile.h>
#include <unistd.h>

IoStatus writeSamplesCsv(FileBatch& batch, const std::string& path, std::span<const int16_t> samples) {
    return batch.addText(path, [&](std::FILE* f) {
        std::fputs("sample\n", f);
        for (const int16_t v : samples) std::fprintf(f, "%d\n", v);
    });
}

IoStatus writeSamplesWav(FileBatch& batch, const std::string& path, std::span<const int16_t> samples, int rate) {
    if (rate < 1) return IoStatus::failure("cannot write " + path + ": the sample rate must be at least 1");
    return batch.addWithDescriptor(path, [&](int descriptor) -> std::string {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
        if (!file) {
            ::close(descriptor);
            return sf_strerror(nullptr);
        }
        const auto count = static_cast<sf_count_t>(samples.size());
        std::string reason;
        if (sf_write_short(file, samples.data(), count) != count) reason = sf_strerror(file);
        if (sf_close(file) != 0 && reason.empty()) reason = "closing the file failed";
        return reason;
    });
}

IoStatus writeSeriesTruthCsv(FileBatch& batch, const std::string& path, const SeriesHeader& h) {
    return batch.addText(path, [&](std::FILE* f) {
        std::fputs("position,etalon,cutStart,cutEnd\n", f);
        for (int j = 0; j < h.wImpulseQuantity; ++j)
            std::fprintf(f, "%d,%d,%d,%d\n", h.lpTruePosition[j], h.lpTrueEtalon[j], h.lpTrueCutStart[j],
                         h.lpTrueCutEnd[j]);
    });
}
