#include "net/fetcher.h"
#include "net/network_wait.h"

#ifndef VG_NO_CURL
#include <curl/curl.h>
#else
#include "net/http_client.h"
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "platform/files.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

#ifndef VG_NO_CURL
constexpr std::size_t kErrorBodyRoom = 64 * 1024;
constexpr long kMaxRedirects = 5;

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

#endif

[[maybe_unused]] std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

#ifndef VG_NO_CURL
// The media type of a Content-Type value: the part before any ";", trimmed, lower-cased.
std::string media_type(std::string_view value) {
    if (auto semi = value.find(';'); semi != std::string_view::npos) value = value.substr(0, semi);
    return lower(trim(value));
}

bool type_acceptable(const std::string& expected, const char* actual) {
    if (expected.empty()) return true;
    if (!actual) return false;
    const std::string got = media_type(actual);
    if (expected == "image/*") return got.rfind("image/", 0) == 0;
    return got == lower(expected);
}

// The host a request's connections go to (lower-cased), or empty when the URL is not usable; with
// `server`, also its "scheme://host:port".
std::string url_host(const std::string& url, std::string* server = nullptr) {
    CURLU* u = curl_url();
    std::string host;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* h = nullptr;
        char* port = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            const std::string s = lower(scheme);
            if (s == "http" || s == "https") {
                host = lower(h);
                if (server) *server = s + "://" + host + ":" + port;
            }
        }
        curl_free(scheme);
        curl_free(h);
        curl_free(port);
    }
    curl_url_cleanup(u);
    return host;
}

// "bytes A-B/N" (N may be "*", given as 0): false when the text is not of that form.
bool parse_content_range(std::string_view text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total) {
    if (text.rfind("bytes ", 0) != 0) return false;
    text.remove_prefix(6);
    auto number = [&](std::uint64_t& out) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        if (ec != std::errc() || end == text.data()) return false;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        return true;
    };
    if (!number(first) || text.empty() || text.front() != '-') return false;
    text.remove_prefix(1);
    if (!number(last) || text.empty() || text.front() != '/') return false;
    text.remove_prefix(1);
    total = 0;
    if (text == "*") return last >= first;
    return number(total) && text.empty() && last >= first && last < total;
}

FetchOutcome classify(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return FetchOutcome::dns;
        case CURLE_COULDNT_CONNECT:
            return FetchOutcome::no_route;
        case CURLE_OPERATION_TIMEDOUT:
            return FetchOutcome::timeout;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return FetchOutcome::tls;
        case CURLE_FILESIZE_EXCEEDED:
            return FetchOutcome::too_large;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return FetchOutcome::bad_request;
        case CURLE_WRITE_ERROR:
            return FetchOutcome::write;
        default:
            return FetchOutcome::transfer;
    }
}

#endif  // VG_NO_CURL

}  // namespace

std::optional<std::string> FetchResult::header(const std::string& lower_name) const {
    if (auto it = headers.find(lower_name); it != headers.end()) return it->second;
    return std::nullopt;
}

const char* fetch_situation(const FetchResult& r) {
    switch (r.outcome) {
        case FetchOutcome::ok: return "ok";
        case FetchOutcome::not_modified: return "not modified";
        case FetchOutcome::dns: return "name not found";
        case FetchOutcome::no_route: return "no connection";
        case FetchOutcome::tls: return "secure connection refused";
        case FetchOutcome::timeout: return "no answer";
        case FetchOutcome::too_large: return "reply too large";
        case FetchOutcome::wrong_type: return "not a picture";
        case FetchOutcome::transfer: return "connection broken";
        case FetchOutcome::write: return "cannot write the cache";
        case FetchOutcome::bad_request: return "bad address";
        case FetchOutcome::cancelled: return "cancelled";
        case FetchOutcome::unavailable: return "not available in this build";
        case FetchOutcome::changed: return "changed on the server";
        case FetchOutcome::http_error:
            if (r.status == 403 || r.status == 418) return "blocked";
            if (r.status == 429) return "rate limited";
            if (r.status == 404) return "no tile there";
            if (r.status >= 500) return "server error";
            return "refused";
    }
    return "failed";
}

std::string vorglobal_user_agent(const std::string& contact) {
    std::string clean;
    for (char c : contact)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) clean += c;  // a header line stays one line
    return std::string("VorGlobal/") + VG_VERSION + " (+" + (clean.empty() ? kProjectContact : clean) + ")";
}

FetchSettings read_fetch_settings(const std::filesystem::path& dir) {
    FetchSettings s;
    const auto ini = dir / kIniFile;
    if (const auto proxy = read_proxy_setting(ini)) s.proxy = proxy->host + ":" + std::to_string(proxy->port);
    // Whole keys with "=", so that a value holding the word elsewhere is not taken for the line.
    if (const auto v = setting_value(ini, "cafile=")) s.cafile = trim(*v);
    if (const auto v = setting_value(ini, "contact=")) s.contact = trim(*v);
    return s;
}

void FetchSettings::apply_to(FetchRequest& request) const {
    request.proxy = proxy;
    request.cafile = cafile;
    if (request.user_agent.empty()) request.user_agent = vorglobal_user_agent(contact);
}

#ifndef VG_NO_CURL
// One transfer, owned by the engine.
struct Transfer {
    Fetcher::RequestId id = 0;
    std::uint64_t seq = 0;
    FetchRequest request;
    Fetcher::Callback done;
    std::string host;
    std::string server;  // scheme://host:port
    CURL* easy = nullptr;
    curl_slist* header_list = nullptr;
    char error_text[CURL_ERROR_SIZE] = {};
    FetchResult result;
    int fd = -1;
    std::filesystem::path temp;
    bool status_checked = false;
    bool success_status = false;
    bool too_large = false;
    bool wrong_type = false;
    bool write_failed = false;
    bool multiplexed = false;  // a response came over HTTP/2: its host takes more transfers at once
    // Range requests: the response is a 200 whose asked slice is kept (`seen` body bytes so far), the
    // slice is complete (the rest of such a body is not read), the 206's Content-Range was wrong.
    bool slicing = false;
    bool slice_done = false;
    bool bad_range = false;
    std::uint64_t seen = 0;
    std::uint64_t kept = 0;
    std::uint64_t expected = 0;  // bytes a 206 announces
    bool version_changed = false;

    ~Transfer() {
        if (fd >= 0) close_file(fd);
        if (!temp.empty()) remove_file(temp);
        if (header_list) curl_slist_free_all(header_list);
        if (easy) curl_easy_cleanup(easy);
    }

    // Checks status and type when the first body byte of a response arrives. False to abort.
    bool check_response() {
        status_checked = true;
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        success_status = code >= 200 && code < 300;
        if (!success_status) return true;
        if (!request.if_match.empty()) {
            const auto& h = result.headers;
            const auto etag = h.find("etag");
            const auto modified = h.find("last-modified");
            if ((etag != h.end() && etag->second != request.if_match) ||
                (etag == h.end() && modified != h.end() && modified->second != request.if_match)) {
                version_changed = true;
                return false;
            }
        }
        if (request.range && code == 206) {
            std::uint64_t first = 0, last = 0, total = 0;
            const auto cr = result.headers.find("content-range");
            const std::uint64_t end = request.range->offset + request.range->length - 1;
            if (cr == result.headers.end() || !parse_content_range(cr->second, first, last, total) ||
                first != request.range->offset || last > end || (last < end && last + 1 != total)) {
                bad_range = true;
                return false;
            }
            expected = last - first + 1;
            result.total_size = total;
            result.ranged_ok = true;
        } else if (request.range) {
            slicing = true;
        }
        const char* type = nullptr;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
        if (!type_acceptable(request.expected_type, type)) {
            wrong_type = true;
            return false;
        }
        return true;
    }

    bool open_temp() {
        fd = create_temp_beside(request.file, temp);
        if (fd < 0) {
            temp.clear();
            return false;
        }
        return true;
    }

    static size_t on_body(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t n = size * count;
        if (!t->status_checked && !t->check_response()) return 0;
        if (t->result.bytes + n > t->request.limits.max_body) {
            t->too_large = true;
            return 0;
        }
        t->result.bytes += n;
        if (!t->success_status) {
            if (t->result.body.size() < kErrorBodyRoom)
                t->result.body.append(data, std::min(n, kErrorBodyRoom - t->result.body.size()));
            return n;
        }
        if (!t->slicing) return t->store(data, n) ? n : 0;
        // A whole body to a range request: keep the asked slice, stop once it is complete.
        const std::uint64_t start = t->seen;
        t->seen += n;
        const std::uint64_t from = std::max(start, t->request.range->offset);
        const std::uint64_t to = std::min(t->seen, t->request.range->offset + t->request.range->length);
        if (to > from && !t->store(data + (from - start), static_cast<std::size_t>(to - from))) return 0;
        if (t->kept == t->request.range->length) {
            t->slice_done = true;
            return 0;
        }
        return n;
    }

    bool store(const char* data, std::size_t n) {
        kept += n;
        if (request.file.empty()) {
            result.body.append(data, n);
            return true;
        }
        if (fd < 0 && !open_temp()) {
            write_failed = true;
            return false;
        }
        if (!write_all(fd, data, n)) {
            write_failed = true;
            return false;
        }
        return true;
    }

    static size_t on_header(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t n = size * count;
        const std::string_view line(data, n);
        if (line.rfind("HTTP/", 0) == 0) {  // a new response (proxy CONNECT, 1xx, redirect, final)
            t->result.headers.clear();
            t->status_checked = false;
            if (line.rfind("HTTP/2", 0) == 0) t->multiplexed = true;
        } else if (auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
            t->result.headers[lower(std::string(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        }
        return n;
    }
};

struct Fetcher::Engine {
    FetcherOptions options;
    CURLM* multi = nullptr;

    mutable std::mutex mutex;
    std::vector<std::unique_ptr<Transfer>> incoming;  // under mutex
    std::vector<RequestId> cancels;                   // under mutex
    std::vector<std::pair<RequestId, int>> priorities; // under mutex
    bool stopping = false;                            // under mutex
    std::atomic<std::size_t> count{0};
    std::atomic<RequestId> next_id{1};

    // Engine thread only.
    std::vector<std::unique_ptr<Transfer>> waiting;
    std::map<RequestId, std::unique_ptr<Transfer>> running;
    std::map<std::string, int> host_running;
    std::set<std::string> multiplexed_hosts;
    std::uint64_t next_seq = 0;

    std::thread thread;

    explicit Engine(FetcherOptions o) : options(std::move(o)) {
        global_init();
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
        thread = std::thread([this] { run(); });
    }

    ~Engine() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        curl_multi_cleanup(multi);
    }

    void wake() { curl_multi_wakeup(multi); }

    // How many transfers may run at once to the transfer's host. Over HTTP/2 they share the
    // connections, so a few more may be in flight.
    int host_cap(const Transfer& t) const {
        const int cap = std::max(1, t.request.host_connections);
        return multiplexed_hosts.count(t.host) ? cap * 8 : cap;
    }

    void finish(std::unique_ptr<Transfer> t) {
        count.fetch_sub(1);
        auto done = std::move(t->done);
        const RequestId id = t->id;
        FetchResult result = std::move(t->result);
        t.reset();  // removes any temporary file before the caller hears of the result
        if (done) done(id, std::move(result));
    }

    void fail_now(std::unique_ptr<Transfer> t, FetchOutcome outcome, std::string cause) {
        t->result.outcome = outcome;
        t->result.cause = std::move(cause);
        report(*t);
        finish(std::move(t));
    }

    void report(const Transfer& t) const {
        const auto& r = t.result;
        if (options.quiet || t.request.quiet || r.outcome == FetchOutcome::ok || r.outcome == FetchOutcome::not_modified ||
            r.outcome == FetchOutcome::cancelled)
            return;
        const int code = r.outcome == FetchOutcome::http_error ? static_cast<int>(r.status) : r.curl_code;
        print_transfer_error(code, t.request.url + ": " + r.cause);
    }

    bool start(Transfer& t) {
        t.easy = curl_easy_init();
        if (!t.easy) return false;
        CURL* e = t.easy;
        const auto& rq = t.request;
        curl_easy_setopt(e, CURLOPT_URL, rq.url.c_str());
        curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.error_text);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::on_body);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::on_header);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
        const bool secure = rq.url.size() >= 8 && lower(rq.url.substr(0, 8)) == "https://";
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects never leave https for http.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        // Only https can turn out to multiplex (HTTP/2 through ALPN): there a second transfer waits for
        // the first connection rather than opening its own. Plain http never multiplexes, so its
        // allowed connections open at once.
        curl_easy_setopt(e, CURLOPT_PIPEWAIT, secure ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!rq.cafile.empty()) {
            // CAINFO replaces the default bundle; the system's hashed folder stays trusted beside it.
            curl_easy_setopt(e, CURLOPT_CAINFO, rq.cafile.c_str());
            curl_easy_setopt(e, CURLOPT_CAPATH, "/etc/ssl/certs");
        }
        // An empty proxy text also keeps libcurl from taking one from the environment.
        const std::string proxy = rq.proxy.empty() ? std::string() : "http://" + rq.proxy;
        curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(rq.limits.connect.count()));
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(rq.limits.total.count()));
        // "No byte for `idle`": slower than one byte a second over the whole idle span fails.
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(std::max<long long>(1, (rq.limits.idle.count() + 999) / 1000)));
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(rq.limits.max_body));
        const std::string& agent = rq.user_agent.empty() ? options.user_agent : rq.user_agent;
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.empty() ? vorglobal_user_agent().c_str() : agent.c_str());
        for (const auto& h : rq.headers) t.header_list = curl_slist_append(t.header_list, h.c_str());
        if (rq.range) {
            const std::string range = "Range: bytes=" + std::to_string(rq.range->offset) + "-" +
                                      std::to_string(rq.range->offset + rq.range->length - 1);
            t.header_list = curl_slist_append(t.header_list, range.c_str());
        }
        // If-Match compares strongly: a weak ETag would never match, so it is only compared.
        if (!rq.if_match.empty() && rq.if_match.front() == '"')
            t.header_list = curl_slist_append(t.header_list, ("If-Match: " + rq.if_match).c_str());
        if (t.header_list) curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.header_list);
        return curl_multi_add_handle(multi, e) == CURLM_OK;
    }

    void complete(Transfer* raw, CURLcode code) {
        auto it = running.find(raw->id);
        if (it == running.end()) return;
        std::unique_ptr<Transfer> t = std::move(it->second);
        running.erase(it);
        --host_running[t->host];
        curl_multi_remove_handle(multi, t->easy);

        auto& r = t->result;
        if (t->slice_done && code == CURLE_WRITE_ERROR) code = CURLE_OK;  // stopped on purpose
        r.curl_code = static_cast<int>(code);
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &r.status);
        long version = 0;
        curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version);
        r.http_version = version == CURL_HTTP_VERSION_2_0 ? 2 : (version ? 1 : 0);
        if (r.http_version == 2) multiplexed_hosts.insert(t->host);

        if (auto v = r.header("etag")) r.etag = *v;
        if (auto v = r.header("last-modified")) r.last_modified = *v;
        if (!t->status_checked && r.status >= 200 && r.status < 300 && code == CURLE_OK) t->check_response();
        if (t->version_changed || (r.status == 412 && !t->request.if_match.empty())) {
            r.outcome = FetchOutcome::changed;
            r.cause = "the resource changed on the server";
        } else if (t->bad_range) {
            r.outcome = FetchOutcome::transfer;
            r.cause = "wrong Content-Range " + r.header("content-range").value_or("(none)");
        } else if (t->too_large || code == CURLE_FILESIZE_EXCEEDED) {
            r.outcome = FetchOutcome::too_large;
            r.cause = "reply larger than " + std::to_string(t->request.limits.max_body) + " bytes";
        } else if (t->wrong_type) {
            r.outcome = FetchOutcome::wrong_type;
            r.cause = "unexpected Content-Type " + r.header("content-type").value_or("(none)");
        } else if (t->write_failed) {
            r.outcome = FetchOutcome::write;
            r.cause = "cannot write " + t->request.file.string();
        } else if (code != CURLE_OK) {
            r.outcome = classify(code);
            r.cause = t->error_text[0] ? t->error_text : curl_easy_strerror(code);
        } else if (r.status == 304) {
            r.outcome = FetchOutcome::not_modified;
        } else if (r.status >= 200 && r.status < 300) {
            r.outcome = FetchOutcome::ok;
            if (t->slicing) {
                const auto length = r.header("content-length");
                r.total_size = t->slice_done ? (length ? std::strtoull(length->c_str(), nullptr, 10) : 0) : r.bytes;
            }
            // A whole body that ends inside the range gives its bytes up to the end, as a 206 would;
            // one that ends before the range is answered as a 416.
            if (t->slicing && !t->slice_done && r.bytes <= t->request.range->offset) {
                r.outcome = FetchOutcome::http_error;
                r.status = 416;
                r.cause = "range beyond the end (" + std::to_string(r.bytes) + " bytes)";
            } else if (t->request.range && !t->slicing && t->kept != t->expected) {
                r.outcome = FetchOutcome::transfer;
                r.cause = "body of " + std::to_string(t->kept) + " bytes where the range says " +
                          std::to_string(t->expected);
            }
            if (r.outcome == FetchOutcome::ok && !t->request.file.empty()) {
                bool ok = t->fd >= 0 || t->open_temp();
                if (ok) {
                    ok = close_file(t->fd) == 0;
                    t->fd = -1;
                }
                if (ok && t->request.keep_temporary) {
                    r.temporary = t->temp;
                    t->temp.clear();
                } else if (ok && replace_file(t->temp, t->request.file)) {
                    t->temp.clear();
                } else {
                    r.outcome = FetchOutcome::write;
                    r.cause = "cannot write " + t->request.file.string();
                }
            }
        } else {
            r.outcome = FetchOutcome::http_error;
            r.cause = std::string(fetch_situation(r)) + " (HTTP " + std::to_string(r.status) + ")";
            if (r.status == 429 || r.status == 503)
                if (auto after = r.header("retry-after")) r.cause += ", retry after " + *after;
        }
        report(*t);
        const bool unanswered = r.outcome == FetchOutcome::timeout && r.status == 0 && r.bytes == 0;
        const std::string server = t->server;
        const FetchResult given_up = unanswered ? r : FetchResult{};
        finish(std::move(t));
        if (unanswered) give_up_on(server, given_up);
    }

    // A server that took a connection (or let it wait) and sent nothing within the waits: the requests
    // queued for it fail at once with the same outcome and cause instead of each waiting in turn for
    // a free connection slot and then the same time-out. Those already running end by their own
    // waits, so a view gives up after about one time-out per connection slot. Requests submitted
    // later are tried again.
    void give_up_on(const std::string& server, const FetchResult& outcome) {
        std::vector<std::unique_ptr<Transfer>> dropped;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if ((*it)->server == server) {
                dropped.push_back(std::move(*it));
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& t : dropped) {
            t->result.curl_code = outcome.curl_code;
            fail_now(std::move(t), outcome.outcome, outcome.cause);
        }
    }

    void cancel_one(RequestId id) {
        auto w = std::find_if(waiting.begin(), waiting.end(), [&](const auto& t) { return t->id == id; });
        if (w != waiting.end()) {
            auto t = std::move(*w);
            waiting.erase(w);
            fail_now(std::move(t), FetchOutcome::cancelled, "cancelled");
            return;
        }
        auto it = running.find(id);
        if (it == running.end()) return;
        auto t = std::move(it->second);
        running.erase(it);
        --host_running[t->host];
        curl_multi_remove_handle(multi, t->easy);
        fail_now(std::move(t), FetchOutcome::cancelled, "cancelled");
    }

    void start_waiting() {
        std::stable_sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
            if (a->request.priority != b->request.priority) return a->request.priority > b->request.priority;
            return a->seq < b->seq;
        });
        for (auto it = waiting.begin(); it != waiting.end();) {
            Transfer& t = **it;
            if (host_running[t.host] >= host_cap(t)) {
                ++it;
                continue;
            }
            auto owned = std::move(*it);
            it = waiting.erase(it);
            if (!start(*owned)) {
                fail_now(std::move(owned), FetchOutcome::transfer, "cannot start the transfer");
                continue;
            }
            ++host_running[owned->host];
            const RequestId id = owned->id;
            running.emplace(id, std::move(owned));
        }
    }

    void run() {
        for (;;) {
            std::vector<std::unique_ptr<Transfer>> arrived;
            std::vector<RequestId> to_cancel;
            std::vector<std::pair<RequestId, int>> new_priorities;
            bool stop = false;
            {
                std::lock_guard lock(mutex);
                arrived.swap(incoming);
                to_cancel.swap(cancels);
                new_priorities.swap(priorities);
                stop = stopping;
            }
            for (auto& t : arrived) {
                t->seq = next_seq++;
                // Refused before any connection, with the own client's line and limit.
                if (refuse_overlong_url(t->request.url, options.quiet || t->request.quiet)) {
                    t->result.outcome = FetchOutcome::bad_request;
                    t->result.cause = "URL longer than " + std::to_string(kMaxUrlLength) + " characters";
                    finish(std::move(t));
                    continue;
                }
                if (t->host.empty()) {
                    fail_now(std::move(t), FetchOutcome::bad_request, "not an http or https address");
                    continue;
                }
                waiting.push_back(std::move(t));
            }
            for (RequestId id : to_cancel) cancel_one(id);
            for (const auto& [id, priority] : new_priorities)
                for (auto& t : waiting)
                    if (t->id == id) t->request.priority = priority;
            if (stop) {
                while (!waiting.empty()) cancel_one(waiting.front()->id);
                while (!running.empty()) cancel_one(running.begin()->first);
                return;
            }
            start_waiting();
            int still = 0;
            curl_multi_perform(multi, &still);
            int left = 0;
            bool freed = false;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                Transfer* t = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
                if (t) complete(t, msg->data.result);
                freed = true;
            }
            // The first response header over HTTP/2 opens the host to more transfers at once, without
            // waiting for that response's body.
            for (const auto& [id, t] : running)
                if (t->multiplexed && multiplexed_hosts.insert(t->host).second) freed = true;
            if (freed && !waiting.empty()) continue;  // a host slot came free: start the next at once
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }
};

Fetcher::Fetcher(FetcherOptions options) : engine_(std::make_unique<Engine>(std::move(options))) {}

Fetcher::~Fetcher() = default;

Fetcher::RequestId Fetcher::submit(FetchRequest request, Callback done) {
    auto t = std::make_unique<Transfer>();
    t->id = engine_->next_id.fetch_add(1);
    t->host = url_host(request.url, &t->server);
    t->request = std::move(request);
    t->done = std::move(done);
    const RequestId id = t->id;
    engine_->count.fetch_add(1);
    {
        std::lock_guard lock(engine_->mutex);
        engine_->incoming.push_back(std::move(t));
    }
    engine_->wake();
    return id;
}

void Fetcher::cancel(RequestId id) {
    {
        std::lock_guard lock(engine_->mutex);
        engine_->cancels.push_back(id);
    }
    engine_->wake();
}

void Fetcher::cancel(const std::vector<RequestId>& ids) {
    if (ids.empty()) return;
    {
        std::lock_guard lock(engine_->mutex);
        engine_->cancels.insert(engine_->cancels.end(), ids.begin(), ids.end());
    }
    engine_->wake();
}

void Fetcher::reprioritise(const std::vector<std::pair<RequestId, int>>& priorities) {
    if (priorities.empty()) return;
    {
        std::lock_guard lock(engine_->mutex);
        engine_->priorities.insert(engine_->priorities.end(), priorities.begin(), priorities.end());
    }
    engine_->wake();
}

FetchResult Fetcher::fetch(FetchRequest request) {
    note_network_wait();
    auto promise = std::make_shared<std::promise<FetchResult>>();
    auto future = promise->get_future();
    const auto bound = request.limits.total + request.limits.connect + std::chrono::seconds(5);
    const RequestId id = submit(std::move(request), [promise](RequestId, FetchResult&& r) { promise->set_value(std::move(r)); });
    // The transfer's own deadline ends it first; the bound only guards against a stuck engine.
    if (future.wait_for(bound) != std::future_status::ready) cancel(id);
    return future.get();
}

std::size_t Fetcher::pending() const { return engine_->count.load(); }

#else  // VG_NO_CURL

// Without libcurl: one thread takes the requests in priority order. A plain http:// download into a
// file goes through the program's own HTTP client (one at a time, within the request's limits), so
// the map's tiles still fill in the background; every other request completes as unavailable with a
// clear cause. Callers see the same contract (callbacks on the engine thread, exactly once).
struct Fetcher::Engine {
    explicit Engine(FetcherOptions o) : options(std::move(o)), thread([this] { run(); }) {}
    ~Engine() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        cv.notify_all();
        thread.join();
    }

    struct Item {
        RequestId id;
        FetchRequest request;
        Callback done;
    };

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty()) return;
            // Highest priority first, then submission order.
            auto next = queue.begin();
            for (auto it = queue.begin(); it != queue.end(); ++it)
                if (it->request.priority > next->request.priority) next = it;
            Item item = std::move(*next);
            queue.erase(next);
            const bool cancelled = stopping || std::find(cancels.begin(), cancels.end(), item.id) != cancels.end();
            lock.unlock();
            FetchResult r;
            if (cancelled) {
                r.outcome = FetchOutcome::cancelled;
                r.cause = "cancelled";
            } else if (item.request.url.rfind("http://", 0) == 0 && !item.request.file.empty() &&
                       !item.request.range && item.request.if_match.empty()) {
                HttpOptions http;
                http.connect_timeout = item.request.limits.connect;
                http.idle_timeout = item.request.limits.idle;
                http.total_timeout = item.request.limits.total;
                http.max_body = item.request.limits.max_body;
                HttpOptions::Failure failure = HttpOptions::Failure::other;
                http.failure = &failure;
                if (http_get_file(item.request.url, item.request.file, http)) {
                    r.outcome = FetchOutcome::ok;
                    r.status = 200;
                    r.http_version = 1;
                    std::error_code ec;
                    r.bytes = std::filesystem::file_size(item.request.file, ec);
                    // The own client writes in place: a body the callback is to judge is moved aside.
                    if (item.request.keep_temporary) {
                        std::filesystem::path temp;
                        const int fd = create_temp_beside(item.request.file, temp);
                        if (fd >= 0) close_file(fd);
                        if (fd >= 0 && replace_file(item.request.file, temp)) {
                            r.temporary = temp;
                        } else {
                            if (fd >= 0) remove_file(temp);
                            r.outcome = FetchOutcome::write;
                            r.cause = "cannot write " + item.request.file.string();
                        }
                    }
                } else {
                    // Its diagnostic line is printed; the outcome says as much as libcurl's would, so
                    // that a host that does not answer is paused alike.
                    switch (failure) {
                        case HttpOptions::Failure::name: r.outcome = FetchOutcome::dns; break;
                        case HttpOptions::Failure::connect: r.outcome = FetchOutcome::no_route; break;
                        case HttpOptions::Failure::timeout: r.outcome = FetchOutcome::timeout; break;
                        case HttpOptions::Failure::other: r.outcome = FetchOutcome::transfer; break;
                    }
                    r.cause = "transfer failed";
                }
            } else {
                r.outcome = FetchOutcome::unavailable;
                r.cause = "not available in this build (made without libcurl)";
                if (!options.quiet && !item.request.quiet) print_transfer_error(0, item.request.url + ": " + r.cause);
            }
            count.fetch_sub(1);
            item.done(item.id, std::move(r));
            lock.lock();
        }
    }

    FetcherOptions options;
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Item> queue;
    std::vector<RequestId> cancels;
    bool stopping = false;
    std::atomic<RequestId> next_id{1};
    std::atomic<std::size_t> count{0};
    std::thread thread;  // last: starts once the members above exist
};

Fetcher::Fetcher(FetcherOptions options) : engine_(std::make_unique<Engine>(std::move(options))) {}

Fetcher::~Fetcher() = default;

Fetcher::RequestId Fetcher::submit(FetchRequest request, Callback done) {
    const RequestId id = engine_->next_id.fetch_add(1);
    engine_->count.fetch_add(1);
    {
        std::lock_guard lock(engine_->mutex);
        engine_->queue.push_back({id, std::move(request), std::move(done)});
    }
    engine_->cv.notify_all();
    return id;
}

void Fetcher::cancel(RequestId id) {
    std::lock_guard lock(engine_->mutex);
    engine_->cancels.push_back(id);
}

void Fetcher::cancel(const std::vector<RequestId>& ids) {
    std::lock_guard lock(engine_->mutex);
    engine_->cancels.insert(engine_->cancels.end(), ids.begin(), ids.end());
}

void Fetcher::reprioritise(const std::vector<std::pair<RequestId, int>>& priorities) {
    std::lock_guard lock(engine_->mutex);
    for (auto& item : engine_->queue)
        for (const auto& [id, priority] : priorities)
            if (item.id == id) item.request.priority = priority;
}

FetchResult Fetcher::fetch(FetchRequest request) {
    note_network_wait();
    auto promise = std::make_shared<std::promise<FetchResult>>();
    auto future = promise->get_future();
    submit(std::move(request), [promise](RequestId, FetchResult&& r) { promise->set_value(std::move(r)); });
    return future.get();
}

std::size_t Fetcher::pending() const { return engine_->count.load(); }

#endif  // VG_NO_CURL

}  // namespace vg
