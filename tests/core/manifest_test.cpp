// The manifest of many recordings: what it reads and refuses (naming the row), the sharing of
// its rows largest first, and the worker pool that runs each row once.

#include <atomic>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/manifest.h"
#include "tests/io/temp_dir.h"

namespace {

TEST(Manifest, ReadsRowsAndRefusesWhatIsMalformedNamingTheRow) {
    TempDir dir;
    const struct {
        const char* text;
        const char* refusal;  // "" when the manifest reads
        size_t rows;
    } cases[] = {
        {"file\na.csv\n# a comment\n\nsub/b.wav\n", "", 2},
        {"file;rate;column\na.csv;250;ecg\nb.csv;;\n", "", 2},
        {"shapes,file,channel\ns.json,a.wav,2\n", "", 1},
        {"", "the manifest is empty", 0},
        {"file,rate\n", "names no recording", 0},
        {"rate,column\n1,2\n", "no column named \"file\"", 0},
        {"file,speed\na.csv,1\n", "unknown column \"speed\"", 0},
        {"file,rate,rate\na.csv,1,2\n", "the column \"rate\" is named twice", 0},
        {"file,rate\na.csv,1\nb.csv\n", ":3: row 2: 1 field(s), the header names 2", 0},
        {"file,rate\na.csv,1\nb.csv,2,3\n", "row 2: 3 field(s)", 0},
        {"file,rate\n,5\n", "row 1: no file named", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = dir.file("list.csv");
        std::ofstream(path) << c.text;
        const auto read = readManifest(path);
        if (*c.refusal) {
            ASSERT_FALSE(read);
            EXPECT_NE(read.error.find(c.refusal), std::string::npos) << read.error;
            EXPECT_NE(read.error.find("list.csv"), std::string::npos) << read.error;
            continue;
        }
        ASSERT_TRUE(read) << read.error;
        EXPECT_EQ(read.value.size(), c.rows);
    }
    // Names relative to the manifest's folder; the common value where a field is empty.
    std::ofstream(dir.file("list.csv")) << "file;rate;column;shapes\na.csv;250;ecg;s.json\n/abs/b.csv;;;\n";
    const auto read = readManifest(dir.file("list.csv"));
    ASSERT_TRUE(read) << read.error;
    EXPECT_EQ(read.value[0].file, "a.csv");
    EXPECT_EQ(read.value[0].path, dir.file("a.csv"));
    EXPECT_EQ(read.value[0].shapes, dir.file("s.json"));
    EXPECT_EQ(read.value[0].rate, "250");
    EXPECT_EQ(read.value[0].column, "ecg");
    EXPECT_EQ(read.value[1].path, "/abs/b.csv");
    EXPECT_FALSE(read.value[1].rate || read.value[1].column || read.value[1].shapes || read.value[1].channel);
    EXPECT_EQ(manifestRowName(1, read.value[1]), "row 2 (/abs/b.csv)");
}

// Sharing against the straightforward rule: largest first, each to the least-loaded part; every
// row once; the pool runs every row once for any thread count and starts none after a cancel.
TEST(Manifest, RowsAreSharedLargestFirstAndRunOnceOnAnyThreadCount) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<uint64_t> sizes(1 + random() % 20);
        for (uint64_t& s : sizes) s = random() % 4;  // many ties and empty files
        const int parts = 1 + static_cast<int>(random() % 4);
        const std::vector<int> part = shareRows(sizes, parts);
        std::vector<uint64_t> load(static_cast<size_t>(parts), 0);
        const std::vector<size_t> order = largestFirst(sizes);
        for (size_t k = 0; k < order.size(); ++k) {
            if (k) {
                const size_t a = order[k - 1], b = order[k];
                EXPECT_TRUE(sizes[a] > sizes[b] || (sizes[a] == sizes[b] && a < b));
            }
            size_t least = 0;
            for (size_t p = 1; p < load.size(); ++p)
                if (load[p] < load[least]) least = p;
            EXPECT_EQ(part[order[k]], static_cast<int>(least));
            load[least] += std::max<uint64_t>(sizes[order[k]], 1);
        }
        for (const int threads : {1, 2, 5}) {
            std::vector<int> runs(sizes.size(), 0);
            std::mutex mutex;
            std::atomic<bool> cancel{false};
            size_t lastTick = 0;
            const size_t ran = runManifestRows(
                    order, threads,
                    [&](size_t row) {
                        std::lock_guard lock(mutex);
                        ++runs[row];
                    },
                    [&](size_t done) {
                        EXPECT_GE(done, lastTick);
                        lastTick = done;
                    },
                    cancel);
            EXPECT_EQ(ran, sizes.size());
            EXPECT_EQ(lastTick, sizes.size());
            EXPECT_EQ(runs, std::vector<int>(sizes.size(), 1));
        }
    }
    std::atomic<bool> cancel{false};
    std::vector<size_t> order(10);
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const size_t ran = runManifestRows(order, 1, [&](size_t row) { cancel = row == 2; }, {}, cancel);
    EXPECT_EQ(ran, 3u);
}
}  // namespace
