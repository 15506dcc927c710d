#include "tests/support/loopbackserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pennaro::testing {

QByteArray LoopbackServer::Request::query(QByteArrayView key) const {
    const qsizetype q = target.indexOf('?');
    if (q < 0)
        return {};
    for (const QByteArray& pair : target.mid(q + 1).split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (pair.left(eq < 0 ? pair.size() : eq) == key)
            return eq < 0 ? QByteArray() : pair.mid(eq + 1);
    }
    return {};
}

LoopbackServer::LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 16);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    m_stopping = true;
    const char byte = 0;
    if (::write(m_wake[1], &byte, 1) < 0) {
        // The thread also polls with a time-out, so it ends all the same.
    }
    m_thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

QByteArray LoopbackServer::host() const {
    return "127.0.0.1:" + QByteArray::number(m_port);
}

QList<LoopbackServer::Request> LoopbackServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

LoopbackServer::Reply LoopbackServer::ok(const QByteArray& body, const QByteArray& contentType,
                                         int status) {
    QByteArray bytes = "HTTP/1.0 " + QByteArray::number(status) + " Status\r\n";
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return {bytes, false};
}

void LoopbackServer::serve() {
    while (!m_stopping) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 200) <= 0 || !(fds[0].revents & POLLIN))
            continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        handle(connection);
        ::close(connection);
    }
}

void LoopbackServer::handle(int connection) {
    QByteArray raw;
    char buffer[4096];
    while (!raw.contains("\r\n\r\n") && !m_stopping) {
        pollfd fds[2] = {{connection, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 200) <= 0 || !(fds[0].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        raw.append(buffer, got);
    }
    Request request;
    request.raw = raw;
    const QList<QByteArray> lines = raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    request.requestLine = lines.value(0).trimmed();
    const QList<QByteArray> parts = request.requestLine.split(' ');
    request.target = parts.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i)
        request.headers << lines[i].trimmed();
    {
        std::lock_guard lock(m_mutex);
        m_requests << request;
    }
    const Reply reply = m_handler(request);
    qsizetype sent = 0;
    while (sent < reply.bytes.size()) {
        const ssize_t n = ::send(connection, reply.bytes.constData() + sent,
                                 static_cast<size_t>(reply.bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
    while (reply.hold && !m_stopping) {
        pollfd fds[1] = {{m_wake[0], POLLIN, 0}};
        ::poll(fds, 1, 200);
    }
}

} // namespace pennaro::testing
