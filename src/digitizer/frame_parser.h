// Decoding of one frame ("MOD" [+ "MDE"] + "DAT" [+ "SUM"]) into a TDataBlock.
//
// Each record decoder takes its destination, a pointer to the record's first
// byte and the number of frame bytes from there to the end of the frame; it
// never reads beyond that count.
#pragma once

#include <cstdint>

#include "digitizer/data_block.h"

// Decodes the frame F of N bytes (from the "M" of "MOD" up to, not including,
// the next "MOD"). Creates the block's parts as it goes and leaves them in the
// block on failure, so the caller always releases it with FreeBlock.
bool ParseFrame(TDataBlock* block, const uint8_t* frame, int32_t length);

// What a decoding attempt found out about where the frame ends.
struct TFrameExtent {
    // After a success: the bytes the frame took. Bytes after its last record
    // are no part of it.
    int32_t Used = 0;
    // After a failure: the frame ended before its records did, so that more
    // bytes may still make it decode. False when no bytes that follow can.
    bool CutShort = false;
};

// ParseFrame that also tells where the frame ends.
bool ParseFrame(TDataBlock* block, const uint8_t* frame, int32_t length, TFrameExtent* extent);

bool ParseMod(TBlockHeader* header, const uint8_t* record, int64_t available);
void ParseRmc(TGpsInfo* gps, const uint8_t* sentence, int64_t available);
bool ParseMde(TBlockHeader* header, const uint8_t* record, int64_t available);
void ParseReports(TGpsInfo* gps, const uint8_t* area, int64_t available);
bool ParseDat(TSampleSet* samples, const TBlockHeader& header, const uint8_t* record,
              int64_t available);
bool ParseSum(TBlockSum* sum, const uint8_t* record, int64_t available);

// The C library's decimal conversions applied to exactly `width` characters
// (leading blanks skipped, optional sign, stop at the first character that does
// not fit, no digits give 0), independent of the process locale.
int32_t ColumnToInt(const uint8_t* text, int width);
double ColumnToDouble(const uint8_t* text, int width);
