// The station against the simulator, read from outside: the unit's time followed in the
// simulator's journal, the archive read back with libmseed, and what the journal says the
// unit sent, to compare sample by sample.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using TTimedSamples = std::vector<std::pair<int64_t, int32_t>>;  // (time in µs, value)

// Waits until the journal shows a frame of unit time `time` (UTC seconds) or later.
bool WaitForUnitTime(const std::string& journal, int64_t time, std::chrono::milliseconds timeout);

// Every archived sample per channel code in time order, at the time its record gives it.
// Every file is read without a word from libmseed, each record in the file of its own day
// and none across midnight (each a test failure otherwise). Files below a folder whose name
// begins with '.' (the archive's own bookkeeping) and the station's metadata/ are not data.
std::map<std::string, TTimedSamples> ArchivedSamples(const std::string& archive);

// What the journal says the unit sent whole, per channel code (band by rate, then H and
// Z, N, E, 1, 2, 3), from the frame of `from` up to the frame of `to`, with the counter signal.
std::map<std::string, TTimedSamples> SentSamples(const std::string& journal, int64_t from,
                                                 int64_t to);

// Where two runs of samples part, for a readable failure ("none" when they do not).
std::string Difference(const TTimedSamples& got, const TTimedSamples& want);
