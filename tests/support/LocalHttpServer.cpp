#include "support/LocalHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace tc::test {

namespace {

const char* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

LocalHttpServer::LocalHttpServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0) {
        if (m_listener >= 0) ::close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::jthread([this](std::stop_token stop) { serve(stop); });
}

LocalHttpServer::~LocalHttpServer()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        const char byte = 0;
        [[maybe_unused]] const auto written = ::write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (int fd : {m_listener, m_wake[0], m_wake[1]})
        if (fd >= 0) ::close(fd);
}

std::string LocalHttpServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void LocalHttpServer::setResponder(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void LocalHttpServer::serve(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        pollfd entries[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) continue;
        if (entries[1].revents) return;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void LocalHttpServer::answer(int connection)
{
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const auto n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    Request request;
    std::istringstream lines(head.substr(0, head.find("\r\n\r\n")));
    std::string line;
    std::getline(lines, line);
    std::istringstream first(line);
    first >> request.method >> request.path;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        request.headers[name] = value;
    }
    Responder responder;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        responder = m_responder;
    }
    const Response response = responder ? responder(request) : Response{404, {}, "no responder"};
    std::string reply = "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
        reply += name + ": " + value + "\r\n";
    reply += "Connection: close\r\n";
    if (response.endlessBytes == 0 && response.status != 304)
        reply += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    reply += "\r\n";
    if (!sendAll(connection, reply)) return;
    if (response.endlessBytes == 0) {
        sendAll(connection, response.body);
        return;
    }
    const std::string chunk(1 << 16, 'X');
    for (std::size_t sent = 0; sent < response.endlessBytes; sent += chunk.size())
        if (!sendAll(connection, chunk)) return;
}

} // namespace tc::test
