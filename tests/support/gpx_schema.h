// Checking a GPX document against the published GPX 1.1 schema (tests/data/gpx/gpx11.xsd) with
// `xmllint --schema` (Debian libxml2-utils); nothing is fetched.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace vg::test {

inline std::filesystem::path gpx_schema() { return shared_testdata() / "gpx" / "gpx11.xsd"; }

// True when the file validates; `report` receives xmllint's output.
inline bool gpx_file_valid(const std::filesystem::path& file, std::string* report = nullptr) {
    TempDir dir;
    const std::string cmd = "xmllint --noout --nonet --schema '" + gpx_schema().string() + "' '" + file.string() +
                            "' > '" + (dir / "out").string() + "' 2>&1";
    const bool ok = std::system(cmd.c_str()) == 0;
    if (report) *report = read_file(dir / "out");
    return ok;
}

// The same for a document's text.
inline bool gpx_text_valid(const std::string& gpx, std::string* report = nullptr) {
    TempDir dir;
    write_file(dir / "t.gpx", gpx);
    return gpx_file_valid(dir / "t.gpx", report);
}

}  // namespace vg::test
