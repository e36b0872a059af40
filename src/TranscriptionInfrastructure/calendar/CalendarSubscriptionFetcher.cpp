#include "TranscriptionInfrastructure/calendar/CalendarSubscriptionFetcher.h"

#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

namespace tc {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    return lowered(text.substr(0, prefix.size())) == prefix;
}

std::string trimmed(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

struct Transfer {
    std::uintmax_t maxBytes = 0;
    std::stop_token stop;
    std::string body;
    bool tooLarge = false;
    std::string etag;
    std::string lastModified;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer.body.size() + bytes > transfer.maxBytes) {
        transfer.tooLarge = true;
        return 0;
    }
    transfer.body.append(data, bytes);
    return bytes;
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::string line(data, size * count);
    // Each response of a redirect chain starts with its status line: only the last one's headers count.
    if (startsWithNoCase(line, "http/")) {
        transfer.etag.clear();
        transfer.lastModified.clear();
    } else if (startsWithNoCase(line, "etag:")) {
        transfer.etag = trimmed(line.substr(5));
    } else if (startsWithNoCase(line, "last-modified:")) {
        transfer.lastModified = trimmed(line.substr(14));
    }
    return size * count;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(user)->stop.stop_requested() ? 1 : 0;
}

std::string httpProblem(long status, const std::string& shown)
{
    std::string text = shown + " が HTTP " + std::to_string(status) + " を返しました。";
    if (status == 401 || status == 403 || status == 404 || status == 410)
        return text + "カレンダーの共有が止められたか、アドレスが変わった可能性があります。"
                      "カレンダーのサービスで非公開アドレスを確かめ、購読を追加し直してください。";
    return text + "しばらくしてから自動でもう一度読み込みます。";
}

CalendarSubscriptionFetcher::Result failure(std::string problem)
{
    CalendarSubscriptionFetcher::Result result;
    result.problem = std::move(problem);
    return result;
}

// The conditional request's headers: the validators of the last good copy, if any.
std::unique_ptr<curl_slist, ListDeleter> requestHeaders(const CalendarSubscriptionFetcher::Request& request)
{
    std::unique_ptr<curl_slist, ListDeleter> headers;
    const auto addHeader = [&](const std::string& header) {
        headers.reset(curl_slist_append(headers.release(), header.c_str()));
    };
    if (!request.etag.empty()) addHeader("If-None-Match: " + request.etag);
    if (!request.lastModified.empty()) addHeader("If-Modified-Since: " + request.lastModified);
    addHeader("Accept: text/calendar, */*;q=0.5");
    return headers;
}

// The transfer's limits, redirects within the protocols and the callbacks filling transfer.
void configure(CURL* h, const std::string& address, const char* protocols, curl_slist* headers, Transfer& transfer)
{
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "transcription-corvane calendar subscription");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.maxBytes));
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(CalendarSubscriptionFetcher::kTimeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(CalendarSubscriptionFetcher::kStallTimeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
}

// What a completed transfer's response means: not modified, an error status, or a feed that must be a calendar.
CalendarSubscriptionFetcher::Result
received(long status, Transfer transfer, const CalendarSubscriptionFetcher::Request& request, const std::string& shown)
{
    using Outcome = CalendarSubscriptionFetcher::Outcome;
    CalendarSubscriptionFetcher::Result result;
    if (status == 304) {
        result.outcome = Outcome::notModified;
        result.etag = transfer.etag.empty() ? request.etag : transfer.etag;
        result.lastModified = transfer.lastModified.empty() ? request.lastModified : transfer.lastModified;
        return result;
    }
    if (status != 200) return failure(httpProblem(status, shown));
    if (!ICalendarEventStore::countEvents(transfer.body))
        return failure(shown +
                       " から届いた内容はカレンダー（iCalendar）ではありませんでした。"
                       "アドレスが .ics の非公開アドレスか確かめてください。前に読み込んだ内容を使い続けます。");
    result.outcome = Outcome::updated;
    result.body = std::move(transfer.body);
    result.etag = std::move(transfer.etag);
    result.lastModified = std::move(transfer.lastModified);
    return result;
}

} // namespace

CalendarSubscriptionFetcher::CalendarSubscriptionFetcher(bool allowLoopbackHttp, std::uintmax_t maxBytes)
    : m_allowLoopbackHttp(allowLoopbackHttp), m_maxBytes(maxBytes)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::optional<std::string> CalendarSubscriptionFetcher::normalised(const std::string& given) const
{
    const std::string address = trimmed(given);
    if (address.find_first_of(" \t\r\n") != std::string::npos) return std::nullopt;
    const auto rest = [&](std::size_t schemeLength) { return address.substr(schemeLength); };
    std::optional<std::string> https;
    if (startsWithNoCase(address, "https://"))
        https = "https://" + rest(8);
    else if (startsWithNoCase(address, "webcals://"))
        https = "https://" + rest(10);
    else if (startsWithNoCase(address, "webcal://"))
        https = "https://" + rest(9);
    else if (m_allowLoopbackHttp && startsWithNoCase(address, "http://127.0.0.1:"))
        return address;
    if (!https || https->size() <= 8 || (*https)[8] == '/') return std::nullopt;
    return https;
}

std::string CalendarSubscriptionFetcher::masked(const std::string& address)
{
    const auto scheme = address.find("://");
    if (scheme == std::string::npos) return "（アドレス）";
    const auto hostEnd = address.find_first_of("/?#", scheme + 3);
    std::string host =
        address.substr(scheme + 3, hostEnd == std::string::npos ? std::string::npos : hostEnd - scheme - 3);
    // user:password@host would show the password.
    if (const auto at = host.rfind('@'); at != std::string::npos) host = host.substr(at + 1);
    return address.substr(0, scheme + 3) + host + "/…";
}

CalendarSubscriptionFetcher::Result CalendarSubscriptionFetcher::fetch(const Request& request,
                                                                       std::stop_token stop) const
{
    const std::string shown = masked(request.address);
    const auto address = normalised(request.address);
    if (!address)
        return failure(shown +
                       " は購読できるアドレスではありません。https:// か webcal:// で始まるアドレスを使ってください。");
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return failure("ネットワークを使う準備ができませんでした。アプリを起動し直してください。");
    Transfer transfer;
    transfer.maxBytes = m_maxBytes;
    transfer.stop = stop;
    const auto headers = requestHeaders(request);
    configure(easy.get(), *address, m_allowLoopbackHttp ? "https,http" : "https", headers.get(), transfer);

    const CURLcode code = curl_easy_perform(easy.get());
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return failure(shown + " のカレンダーが大きすぎます（" + std::to_string(m_maxBytes / (1024 * 1024)) +
                       " MB まで）。前に読み込んだ内容を使い続けます。");
    if (code == CURLE_ABORTED_BY_CALLBACK) return failure("読み込みを中止しました。");
    if (code != CURLE_OK)
        return failure(shown + " を読み込めませんでした（" + curl_easy_strerror(code) +
                       "）。ネットワークにつながっているか確かめてください。前に読み込んだ内容を使い続けます。");
    return received(status, std::move(transfer), request, shown);
}

} // namespace tc
