// AIS messages written as !AIVDM sentences: the position reports of class A (1, 2, 3) and class B (18),
// static and voyage data (5) and class B static data part A (24), for the simulator. The inverse of
// gps/ais.h's decoder for those fields: 6-bit armouring, fill bits, fragments of at most
// kMostPayloadCharacters, checksum.
// Pure. Failure: other types give no sentences; values are cut to their fields' widths and texts to
// their lengths (characters outside AIS's 6-bit set become '?').
#pragma once

#include <string>
#include <vector>

#include "gps/ais.h"

namespace vg::ais {

inline constexpr int kMostPayloadCharacters = 60;

// The sentences of `m` (each with CR LF). `sequence_id` (0..9) marks the fragments of a multi-sentence
// message; `channel` is 'A' or 'B'.
std::vector<std::string> encode_sentences(const Message& m, int sequence_id = 0, char channel = 'A');

}  // namespace vg::ais
