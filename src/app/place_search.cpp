#include "app/place_search.h"

#include <memory>

#include "search/pack_search.h"

namespace vg {

PlaceSearch::PlaceSearch(std::filesystem::path folder, std::function<void()> notify, Options options)
    : folder_(std::move(folder)), notify_(std::move(notify)), options_(std::move(options)) {
    searcher_ = std::thread([this] { search_loop(); });
    indexer_ = std::thread([this] { index_loop(); });
}

PlaceSearch::~PlaceSearch() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cancel_.store(true);
    wake_.notify_all();
    searcher_.join();
    indexer_.join();
}

void PlaceSearch::index() {
    {
        std::lock_guard lock(mutex_);
        if (state_.indexing) return;
        index_asked_ = true;
        state_.indexing = true;
    }
    wake_.notify_all();
}

std::uint64_t PlaceSearch::ask(std::string text, std::optional<search::LatLon> from) {
    std::uint64_t query;
    {
        std::lock_guard lock(mutex_);
        query = ++query_;
        text_ = std::move(text);
        near_ = from;
        pending_ = true;
    }
    wake_.notify_all();
    return query;
}

PlaceSearch::State PlaceSearch::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void PlaceSearch::search_loop() {
    std::unique_ptr<search::FolderIndexes> indexes;
    std::uint64_t opened = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || pending_ || (generation_ != opened && query_ != 0); });
        if (stop_) return;
        // New indexes answer the newest query again, even when it was answered already.
        const std::uint64_t query = query_;
        const std::string text = text_;
        const auto from = near_;
        const std::uint64_t generation = generation_;
        pending_ = false;
        lock.unlock();
        if (!indexes || generation != opened) {
            indexes = std::make_unique<search::FolderIndexes>(folder_);
            opened = generation;
        }
        if (options_.before_search) options_.before_search(text);
        std::vector<search::Result> results;
        if (!text.empty()) results = indexes->search(text, from, options_.limit);
        lock.lock();
        if (query != query_) continue;  // a newer query came meanwhile: this answer is dropped
        state_.answered = query;
        state_.indexes = indexes->size();
        state_.results = std::move(results);
        lock.unlock();
        if (notify_) notify_();
        lock.lock();
    }
}

void PlaceSearch::index_loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || index_asked_; });
        if (stop_) return;
        index_asked_ = false;
        state_.problems.clear();
        lock.unlock();
        std::string current;
        int shown = -1;
        std::vector<std::string> problems;
        search::ensure_pack_indexes(
            folder_,
            [&](const std::string& pack, std::size_t done, std::size_t total) {
                const int percent = total ? static_cast<int>(done * 100 / total) : 100;
                if (pack == current && percent == shown) return;
                {
                    std::lock_guard progress(mutex_);
                    // The pack indexed before this one is in place: the searcher may open it.
                    if (pack != current && !current.empty()) ++generation_;
                    state_.progress = "Indexing " + pack + " " + std::to_string(percent) + " %";
                }
                current = pack;
                shown = percent;
                wake_.notify_all();
                if (notify_) notify_();
            },
            &cancel_, problems);
        lock.lock();
        if (!current.empty()) ++generation_;
        state_.indexing = false;
        state_.progress.clear();
        state_.problems = std::move(problems);
        lock.unlock();
        wake_.notify_all();
        if (notify_) notify_();
        lock.lock();
    }
}

}  // namespace vg
