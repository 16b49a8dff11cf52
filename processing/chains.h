#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "model/message_sink.h"

/// One detected pulse of a chain: the series sample on which etalon sample 0 lies, the 1-based
/// etalon number and the first and last etalon samples used.
struct ChainPulse {
    int16_t position;
    int16_t etalon;
    int16_t cutStart;
    int16_t cutEnd;
};

/// The ranked chains a processing run leaves behind, best (smallest distance) first, with a
/// descriptor of the run.
///
/// Storage: three blocks owned by the record. `distanceBlock` holds distance then chainPulses
/// (wMaxSize entries each); `rowBlock` holds the 4 * wMaxSize row pointers (all pulsesList rows,
/// then positionsList, cutStartList, cutEndList); `pulseBlock` holds 4 * wMaxSize * wMaxPulses
/// entries, one run of wMaxPulses per row in the order of the row pointers. The lp...Name texts
/// are constants, never owned.
struct ChainsHeader {
    uint16_t wMaxSize = 0;               ///< chain rows allocated
    uint16_t wPretenders = 0;            ///< rows in use, 0..wMaxSize
    uint16_t wMaxPulses = 0;             ///< pulses a row can hold
    uint16_t wQuanPulses = 0;            ///< the series' pulse count as the run saw it (or 0)
    uint16_t wSeekingPulsesQuantity = 0; ///< pulses of row 0 after a run
    int32_t* distance = nullptr;         ///< per row: the objective value; rows ascending in it
    int32_t* chainPulses = nullptr;      ///< per row: number of pulses
    int16_t** pulsesList = nullptr;      ///< per row: 1-based etalon number of each pulse
    int16_t** positionsList = nullptr;   ///< per row: position of each pulse
    int16_t** cutStartList = nullptr;    ///< per row: first etalon sample used
    int16_t** cutEndList = nullptr;      ///< per row: last etalon sample used
    uint16_t wDescriptorCount = 0;       ///< 2 once the descriptor is filled
    uint16_t wSeriesType = 0;
    uint16_t wTaskType = 0;
    const char* lpTaskName = nullptr;
    const char* lpSeriesTypeName = nullptr;
    uint16_t wMakingEnergy = 0;          ///< saved energy the series was made with, percent
    uint16_t wProcessingEnergy = 0;      ///< saved energy processing assumed, percent

    std::unique_ptr<int32_t[]> distanceBlock;
    std::unique_ptr<int16_t*[]> rowBlock;
    std::unique_ptr<int16_t[]> pulseBlock;
};

/// Makes a new empty header, or empties `header` and reuses it when it has at least `wMaxSize`
/// rows of at least `wMaxPulses` pulses (it never shrinks); otherwise its blocks are replaced by
/// blocks of exactly the requested dimensions. The descriptor is kept. Takes the caller's header
/// and returns the header to keep, or null after a memory message (the header passed in is then
/// released).
std::unique_ptr<ChainsHeader> getChainsHeader(MessageSink& window, uint16_t wMaxSize,
                                              uint16_t wMaxPulses,
                                              std::unique_ptr<ChainsHeader> header);

/// Fills the descriptor: series and task codes with their names, the two energy levels.
/// Returns 1, or 0 with "Не определен lpChainsHeader!" for a null header.
int addToChainsHeader(MessageSink& window, uint16_t seriesType, uint16_t taskType,
                      uint16_t makingEnergy, uint16_t processingEnergy, ChainsHeader* header);

/// Frees the blocks and the record; null is accepted. Returns 1.
int releaseChainsHeader(std::unique_ptr<ChainsHeader> header);

/// The report text of aboutChainsHeader: counters, then one line per valid row.
std::string aboutChainsHeaderText(const ChainsHeader& header);

/// Shows aboutChainsHeaderText in a box captioned "aboutChainsHeader Info". Returns 1 (OK).
int aboutChainsHeader(MessageSink& window, const ChainsHeader& header);

/// Resets a header at the start of a run: no rows in use, the two counters set, and for every
/// row its distance and the first `entries` entries of its four lists (at most wMaxPulses)
/// cleared.
void resetChainsForRun(ChainsHeader& header, uint16_t quanPulses, uint16_t seekingPulses,
                       int entries);

/// Inserts a chain by its distance: after every row with a distance not greater, moving worse
/// rows down (the last one drops out of a full table); a chain no better than every row of a
/// full table is not stored. Returns the row it landed in, or -1 when it was not stored.
/// The caller keeps pulses.size() <= wMaxPulses.
int insertChain(ChainsHeader& header, int32_t distance, std::span<const ChainPulse> pulses);
