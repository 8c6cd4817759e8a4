// Leftovers of runs that were killed while writing. The program's writers put a file's new contents
// beside it under a temporary name and rename it into place:
//   "NAME.partXXXXXX"    create_temp_beside on Linux (mkstemp's six letters and digits), used for
//                        downloads, cache records, settings rewrites and exports;
//   "NAME.part<P>_<N>"   the same on Windows (process id and a counter);
//   "NAME.part"          tiles drawn or copied out of a map pack (and exports of older versions).
// Such a name is never read as data. The sweep removes them only in the folders where the program
// writes them, only for the NAMEs it writes there, and only once they are old enough that no running
// writer can still own them: a user's "report.part2final" or "holiday.partABC123" elsewhere is safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace vg {

// NAME, when `file_name` is a temporary name of the forms above ("NAME.part" only when `plain_part`);
// empty otherwise.
std::string_view temporary_file_target(std::string_view file_name, bool plain_part);

// One folder the program writes temporary files in, and which of them are its own.
struct SweepPlace {
    std::filesystem::path folder;
    bool recursive = false;   // its subfolders too (symbolic links to folders are not followed)
    bool plain_part = false;  // "NAME.part" is one of its writers' names here
    std::function<bool(std::string_view name)> owns;  // whether NAME is a file the program writes here
};

// Removes the temporary files of each place whose last change is more than `max_age` ago. Folders
// that cannot be read are skipped; `stop`, when it becomes true, ends the walk early. Returns how many
// were removed.
std::size_t remove_stale_temporary_files(const std::vector<SweepPlace>& places, std::chrono::seconds max_age,
                                         const std::atomic<bool>* stop = nullptr);

// Removes the stale temporary files of `file` beside it ("FILE.partXXXXXX" and the Windows form), as a
// writer does before it makes its own: for files the user placed anywhere, such as exports.
std::size_t remove_stale_temporaries_of(const std::filesystem::path& file, std::chrono::seconds max_age);

}  // namespace vg
