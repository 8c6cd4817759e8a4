// JPEG files the tests and benchmarks make with libjpeg: a progressive picture, and the same with one
// scan repeated (a decompression bomb).
#pragma once

#include <string>

namespace vg::test {

// A side × side progressive JPEG (libjpeg's simple progression: 10 scans) of a colour pattern.
std::string progressive_jpeg(int side);

// `file` (a JPEG) with its last scan repeated `repeats` more times before the end marker. In a
// progressive file that scan is an AC refinement, which the decoder accepts again and again, each
// copy making it go over the whole image.
std::string with_repeated_last_scan(const std::string& file, int repeats);

}  // namespace vg::test
