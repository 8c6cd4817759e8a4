// The window's place search over the packs folder, on two threads of its own so that the window
// thread never waits on the disk:
// - the indexer makes the missing or stale place indexes of the folder's vector packs when asked
//   (search/pack_search.h), keeping its progress ("Indexing town.mbtiles 40 %") and problems;
// - the searcher answers queries from the indexes opened once, opened again whenever the indexer has
//   made one (the newest query is then answered again, so results appear as soon as an index exists).
// The newest query supersedes every older one not yet taken up; an answer to a query that is no
// longer the newest is dropped, never published.
// Threads: the public functions may be called from any thread; `notify` runs on the worker threads
// after each change of the state (it must not wait for the caller's thread).
// Failure: a pack that cannot be indexed is named in State::problems; nothing throws. The destructor
// stops the indexer between two tiles and joins both threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "search/place_index.h"

namespace vg {

class PlaceSearch {
public:
    struct Options {
        std::size_t limit = 20;  // results of one query
        // Runs on the searcher before each search with its text (tests hold a query back with it).
        std::function<void(const std::string& text)> before_search;
    };
    struct State {
        std::uint64_t answered = 0;  // the query `results` answer (0: none yet)
        std::vector<search::Result> results;
        std::size_t indexes = 0;  // place indexes the last search asked
        bool indexing = false;
        std::string progress;               // "Indexing town.mbtiles 40 %" while indexing
        std::vector<std::string> problems;  // of the last indexing
    };

    PlaceSearch(std::filesystem::path folder, std::function<void()> notify, Options options);
    ~PlaceSearch();
    PlaceSearch(const PlaceSearch&) = delete;
    PlaceSearch& operator=(const PlaceSearch&) = delete;

    // Makes the indexes that are missing or stale (nothing when an indexing runs).
    void index();
    // Asks for the best results of `text` (an empty text has none), nearest `from` first among
    // equals; returns the query's number, greater than every earlier one.
    std::uint64_t ask(std::string text, std::optional<search::LatLon> from);
    State state() const;

private:
    void search_loop();
    void index_loop();

    const std::filesystem::path folder_;
    const std::function<void()> notify_;
    const Options options_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> cancel_{false};
    // The newest query and whether the searcher has taken it up.
    std::uint64_t query_ = 0;
    std::string text_;
    std::optional<search::LatLon> near_;
    bool pending_ = false;
    // Bumped by the indexer after each index it made: the searcher opens the indexes again.
    std::uint64_t generation_ = 0;
    bool index_asked_ = false;
    State state_;
    std::thread searcher_, indexer_;
};

}  // namespace vg
