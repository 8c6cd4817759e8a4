#include "support/range_file.h"

#include <cctype>
#include <charconv>

namespace vg::test {

namespace {

// The value of header `name` (lower-case, with its colon) in a request, "" when absent.
std::string field(const std::string& request, const std::string& name) {
    std::string lower;
    for (char c : request) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("\r\n" + name);
    if (at == std::string::npos) return {};
    auto from = at + 2 + name.size();
    while (from < request.size() && request[from] == ' ') ++from;
    return request.substr(from, request.find("\r\n", from) - from);
}

bool number(std::string_view text, std::uint64_t& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

void RangeFile::replace(std::string bytes) {
    std::lock_guard lock(mutex_);
    bytes_ = std::move(bytes);
    ++version_;
}

std::string RangeFile::etag() const {
    std::lock_guard lock(mutex_);
    return "\"v" + std::to_string(version_) + "-" + std::to_string(bytes_.size()) + "\"";
}

void RangeFile::ignore_ranges(bool ignore) {
    std::lock_guard lock(mutex_);
    ignore_ranges_ = ignore;
}

void RangeFile::replace_from(std::uint64_t offset, std::string bytes) {
    std::lock_guard lock(mutex_);
    pending_ = std::move(bytes);
    pending_at_ = offset;
}

ScriptedReply RangeFile::answer(const std::string& request) {
    {
        std::lock_guard lock(mutex_);
        const std::string range = field(request, "range:");
        std::uint64_t first = 0;
        if (pending_ && range.rfind("bytes=", 0) == 0 && number(range.substr(6, range.find('-') - 6), first) &&
            first >= pending_at_) {
            bytes_ = std::move(*pending_);
            pending_.reset();
            ++version_;
        }
    }
    const std::string tag = etag();
    std::lock_guard lock(mutex_);
    const std::uint64_t size = bytes_.size();
    const std::string common = "ETag: " + tag + "\r\nAccept-Ranges: bytes\r\nConnection: keep-alive\r\n";
    auto reply = [&](int status, const std::string& body, const std::string& extra) {
        ScriptedReply r = ScriptedReply::make(status, "application/octet-stream", body, true, common + extra);
        r.keep_alive = true;
        sent_ += body.size();
        return r;
    };
    const std::string range = field(request, "range:");
    const std::string if_match = field(request, "if-match:");
    log_.push_back(range.rfind("bytes=", 0) == 0 && !ignore_ranges_ ? range.substr(6) : "whole");
    if (!if_match.empty() && if_match != tag && if_match != "*") return reply(412, "", "");
    if (range.rfind("bytes=", 0) != 0 || ignore_ranges_) return reply(200, bytes_, "");
    const std::string asked = range.substr(6);
    const auto dash = asked.find('-');
    std::uint64_t first = 0, last = size ? size - 1 : 0;
    bool ok = dash != std::string::npos && asked.find(',') == std::string::npos;
    if (ok && dash == 0) {  // the last N bytes
        std::uint64_t n = 0;
        ok = number(asked.substr(1), n) && n > 0;
        if (ok) first = n >= size ? 0 : size - n;
    } else if (ok) {
        ok = number(asked.substr(0, dash), first);
        if (ok && dash + 1 < asked.size()) ok = number(asked.substr(dash + 1), last) && last >= first;
        if (ok && last >= size) last = size - 1;
    }
    if (!ok) return reply(200, bytes_, "");  // a form this server does not take: the whole file
    if (first >= size) return reply(416, "", "Content-Range: bytes */" + std::to_string(size) + "\r\n");
    return reply(206, bytes_.substr(first, last - first + 1),
                 "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                     std::to_string(size) + "\r\n");
}

std::vector<std::string> RangeFile::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::uint64_t RangeFile::bytes_sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

void RangeFile::clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
    sent_ = 0;
}

}  // namespace vg::test
