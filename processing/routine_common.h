#pragma once

// Shared steps of the processing routines: input checks, walking the admissible position sets,
// writing results. Internal to processing/.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/alphabet.h"
#include "model/message_sink.h"
#include "model/series.h"
#include "processing/chains.h"
#include "processing/interval_set.h"
#include "processing/local_match.h"
#include "processing/programmes.h"

namespace processing_detail {

/// Everything a routine checks before it touches its outputs.
struct SeriesView {
    int32_t N;        // samples in the series
    int32_t n;        // etalon length
    int32_t Kmin;     // admissible pulse counts of an unknown-count series
    int32_t Kmax;
    int32_t K;        // pulses of a known-count series
    int32_t maxChain; // most pulses a chain with gaps of at least Tmin can hold
};

/// Checks the series and the limits; reports through `messages` with `caption` and returns false
/// on a refusal.
bool checkSeries(MessageSink& messages, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, SeriesView& view);

/// Checks that every number names a built etalon of at least n samples.
bool checkEtalons(MessageSink& messages, const char* caption, const Alphabet& alphabet,
                  std::span<const uint16_t> numbers, int32_t n);

/// Checks that the chains header (when given) has rows and at least `pulses` pulses per row.
bool checkChains(MessageSink& messages, const char* caption, const ChainsHeader* chains, int32_t pulses);

/// Checks the known-count ranges: 0 <= lo_j <= hi_j <= N - n, and every position of a range
/// has a predecessor window meeting the previous range.
bool checkRanges(MessageSink& messages, const char* caption, const SeriesHeader& series,
                 uint16_t Tmin, uint16_t Tmax, const SeriesView& view);

/// Shows a refusal.
void refuse(MessageSink& messages, const char* caption, const std::string& why);

/// Tuple members as etalon numbers, refusing numbers outside 1..65535.
bool tupleNumbers(MessageSink& messages, const char* caption, std::span<const int32_t> tuple,
                  std::vector<uint16_t>& numbers);

/// The positions of the walks of the unknown-count routines, each ascending.
struct Walks {
    std::vector<int32_t> any;        // First ∪ Later
    std::vector<int32_t> firstOnly;  // First − Later
    std::vector<int32_t> both;       // First ∩ Later
    std::vector<int32_t> laterOnly;  // Later − First
    std::vector<int32_t> last;       // Last
    std::vector<std::pair<int32_t, int32_t>> firstOnlyIntervals;
    std::vector<std::pair<int32_t, int32_t>> bothIntervals;
};

/// Builds the position sets and the walks. Returns false when memory ran out.
bool makeWalks(const SeriesView& view, uint16_t Tmin, uint16_t Tmax, Walks& walks);

/// A chain pulse at `position` with the etalon and the cut of a match.
inline ChainPulse chainPulse(int32_t position, const LocalMatch& m) {
    return {static_cast<int16_t>(position), static_cast<int16_t>(m.etalon), static_cast<int16_t>(m.cutStart),
            static_cast<int16_t>(m.cutEnd)};
}

/// The minimum of a window [from, to] of values that slides forward (both ends never decrease),
/// as a monotone queue of positions: front() is the first position holding the smallest value
/// of the window (an equal later value never displaces an earlier one, which keeps the
/// first-minimum rule of the scans it replaces). Values before `to` must not change while the
/// window passes them. Positions are int64_t so that long recordings fit.
class SlidingMinimum {
public:
    /// Starts an empty window over `values` (position 0 = values[0]).
    void reset(const int32_t* values) {
        values_ = values;
        head_ = 0;
        queue_.clear();
        next_ = 0;
    }
    /// Moves the window to [max(from, 0), to]; `from` and `to` never decrease between calls.
    void advance(int64_t from, int64_t to) {
        for (; next_ <= to; ++next_) {
            const int32_t v = values_[next_];
            while (queue_.size() > head_ && values_[queue_.back()] > v) queue_.pop_back();
            queue_.push_back(next_);
        }
        while (head_ < queue_.size() && queue_[head_] < from) ++head_;
    }
    bool empty() const { return head_ >= queue_.size(); }
    int64_t front() const { return queue_[head_]; }

private:
    const int32_t* values_ = nullptr;
    std::vector<int64_t> queue_;
    size_t head_ = 0;
    int64_t next_ = 0;
};

/// The walks of the unknown-count pulse programme, given the local matches q: a pulse that can
/// only be first begins a chain (r = q, predecessor -1); one that may also be first extends only
/// a chain with a negative total in its window, else it begins one (predecessor -2); one that
/// can only follow extends the best chain in its window whatever its total (search from
/// `unset`). The smallest m among equal totals is taken; totals wrap as 32-bit arithmetic.
void walkPulseChains(const Walks& walks, const std::vector<LocalMatch>& q, uint16_t Tmin, uint16_t Tmax,
                     int32_t unset, std::vector<int32_t>& r, std::vector<int32_t>& b);

/// Writes a chain into the series' found lists.
void writeFound(SeriesHeader& series, std::span<const ChainPulse> pulses);

/// Inserts a chain when a header is given.
inline void insertIfGiven(ChainsHeader* chains, int32_t distance, std::span<const ChainPulse> pulses) {
    if (chains) insertChain(*chains, distance, pulses);
}

/// Per-position match results of one candidate list (or one etalon), for positions lo..hi.
struct MatchTable {
    int32_t lo = 0;
    std::vector<LocalMatch> at;
    const LocalMatch& operator[](int32_t position) const { return at[static_cast<size_t>(position - lo)]; }
};

/// Stores into q[l], for every position l of the ascending `walk`, the match of `matcher`
/// (all candidates when index < 0, else candidate `index`); other entries of q are left alone.
void matchWalked(const LocalMatcher& matcher, int index, const int16_t* y, const std::vector<int32_t>& walk,
                 MatchTable& table, std::vector<LocalMatch>& q);

/// The ranges [lo_j, hi_j] of a known-count series as signed values.
struct Ranges {
    std::vector<int32_t> lo, hi;
};
Ranges readRanges(const SeriesHeader& series, int32_t K);

/// The layered programme of the known-count routines for one assignment of etalons to layers.
/// `layerTable[j]` gives the match table of layer j (covering its range). The predecessor cost
/// of layer 0 is 0; later layers search their window in the previous range from `predStart`.
/// The end is the strict minimum of the last layer from `endStart`; back-tracking searches from
/// `backStart`. Where no value lies below a search's starting bound the position with the
/// smallest value is taken (the distance then stays at the bound). Fills one pulse per layer.
int32_t layeredChain(const Ranges& ranges, std::span<const MatchTable* const> layerTable,
                     uint16_t Tmin, uint16_t Tmax, int32_t predStart, int32_t endStart,
                     int32_t backStart, LayeredWork<int32_t, 1>& D,
                     std::vector<ChainPulse>& chain);

/// Match table of `matcher`'s candidate `index` (or of all candidates when index < 0) over
/// positions lo..hi.
void fillMatchTable(const LocalMatcher& matcher, int index, const int16_t* y, int32_t lo, int32_t hi,
                    MatchTable& table);

/// Work arrays of the cyclic tuple programme, kept between tuples.
struct CyclicWork {
    std::vector<std::vector<int32_t>> G;  // per layer: best total of a chain ending here
    std::vector<std::vector<int32_t>> B;  // per layer: predecessor position (-1 first, -2 none)
    std::vector<std::vector<LocalMatch>> match;  // per layer: the member's match (cut kept)
};

/// The cyclic layered programme of the unknown-count tuple routines for one tuple: layer λ
/// stands for member λ of `matcher`'s prepared list (L = its size), positions 0..N-n.
/// `unset` is the value of a position not reached, of a position where a chain may not begin
/// with a member other than 0, and the start of the searches over Later − First and for the
/// end. Shows the diagnostic reports when `report` is set. Returns the chain's distance (unset
/// with no pulses when Last holds no end).
int32_t cyclicTupleChain(MessageSink& messages, const LocalMatcher& matcher, const int16_t* y,
                         const SeriesView& view, const Walks& walks, uint16_t Tmin, uint16_t Tmax,
                         int32_t unset, bool report, CyclicWork& work, std::vector<ChainPulse>& chain);

/// Match tables of a tuple's members over lo..hi: one table per distinct etalon, and for each
/// member the table it uses.
struct MemberTables {
    std::vector<MatchTable> tables;
    std::vector<const MatchTable*> ofMember;
};
void fillMemberTables(const Alphabet& alphabet, std::span<const uint16_t> members, int32_t n,
                      uint16_t pct, const int16_t* y, int32_t lo, int32_t hi, MemberTables& out);

}  // namespace processing_detail
