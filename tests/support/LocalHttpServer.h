#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tc::test {

// A small HTTP/1.1 server on 127.0.0.1 (a free port), one connection at a time, each closed after its answer.
// The test says what to answer; requests are kept for the test to read. Thread-safe.
class LocalHttpServer {
public:
    struct Request {
        std::string method;
        std::string path;
        // Header names in lower case.
        std::map<std::string, std::string> headers;
    };
    struct Response {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // When set, the body is this many bytes of 'X' instead, sent without a length until the client stops
        // reading.
        std::size_t endlessBytes = 0;
    };
    using Responder = std::function<Response(const Request&)>;

    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool isRunning() const { return m_listener >= 0; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;
    void setResponder(Responder responder);
    std::vector<Request> requests() const;

private:
    void serve(std::stop_token stop);
    void answer(int connection);

    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    mutable std::mutex m_mutex;
    Responder m_responder;
    std::vector<Request> m_requests;
    std::jthread m_thread;
};

} // namespace tc::test
