// Leftovers of runs that were killed while writing: a download's "NAME.partXXXXXX" beside its tile
// and a settings rewrite's "NAME.PID.N.tmp". Neither name is ever read as data; they are removed
// once they are old enough that no running writer can still own them.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace vg {

// Whether `file_name` is one of the temporary names above.
bool is_temporary_file_name(std::string_view file_name);

// Removes the temporary files in `folder` (and its subfolders when `recursive`) whose last change is
// more than `max_age` ago. Returns how many were removed; folders that cannot be read are skipped.
std::size_t remove_stale_temporary_files(const std::filesystem::path& folder, bool recursive,
                                         std::chrono::seconds max_age);

}  // namespace vg
