#include "TitleChannel.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tessura {

namespace {

int64_t tickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setPort(sockaddr_storage& address, uint16_t port) {
    if (address.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    } else if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    }
}

uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

}  // namespace

TitleChannel::TitleChannel(FeedlineInstance* instance) : instance_(instance) {
    if (instance_ != nullptr) instance_->table->set_user_slot(instance_, this);
}

TitleChannel::~TitleChannel() {
    closeSocket();
    if (instance_ != nullptr && instance_->table->user_slot(instance_) == this) {
        instance_->table->set_user_slot(instance_, nullptr);
    }
}

void TitleChannel::OnEvent(int32_t code, FeedlineInstance* instance) {
    if (instance == nullptr) return;
    auto* channel = static_cast<TitleChannel*>(instance->table->user_slot(instance));
    if (channel == nullptr) return;
    if (code == FEEDLINE_EVENT_SENDING_REQUEST) channel->OnSendingRequest();
    if (code == FEEDLINE_EVENT_RESPONSE_HEADERS) channel->OnResponseHeaders();
}

void TitleChannel::closeSocket() {
    if (socket_ > 0) ::close(socket_);
    socket_ = 0;
    localPort_ = 0;
    connected_ = false;
}

void TitleChannel::OnSendingRequest() {
    closeSocket();
    const int tcp = instance_->table->socket(instance_);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (tcp < 0 || ::getsockname(tcp, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        instance_->table->remove_request_header(instance_, kPortHeader);
        return;
    }
    const int udp = ::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp < 0) {
        instance_->table->remove_request_header(instance_, kPortHeader);
        return;
    }
    const uint16_t base = portOf(local);
    for (int step = 1; step <= kBindTries && localPort_ == 0; ++step) {
        if (base + step > 65535) break;
        sockaddr_storage address = local;
        setPort(address, static_cast<uint16_t>(base + step));
        if (::bind(udp, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            localPort_ = static_cast<uint16_t>(base + step);
        }
    }
    if (localPort_ == 0) {
        // No port of our own to announce.
        ::close(udp);
        instance_->table->remove_request_header(instance_, kPortHeader);
        return;
    }
    ::fcntl(udp, F_SETFL, ::fcntl(udp, F_GETFL) | O_NONBLOCK);
    socket_ = udp;
    // Only an IPv4 connection announces the port (a 16-byte local address).
    if (length == sizeof(sockaddr_in)) {
        instance_->table->set_request_header(instance_, kPortHeader, std::to_string(localPort_).c_str());
    } else {
        instance_->table->remove_request_header(instance_, kPortHeader);
    }
}

void TitleChannel::OnResponseHeaders() {
    char value[32];
    if (instance_->table->response_header(instance_, kPortHeader, value, sizeof value) < 0) return;
    char* end = nullptr;
    const long port = std::strtol(value, &end, 10);
    if (end == value || port <= 0 || port > 65535) return;
    serverPort_ = static_cast<uint16_t>(port);
    const int tcp = instance_->table->socket(instance_);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (socket_ > 0 && tcp >= 0 && ::getpeername(tcp, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        setPort(peer, serverPort_);
        connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&peer), length) == 0;
    }
    tick_ = tickCount();
    counter_ = 0;
}

TitleChannel::Pairs TitleChannel::pairs() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return pairs_;
}

void TitleChannel::addPair(std::string name, std::string value) {
    std::lock_guard<std::mutex> hold(mutex_);
    pairs_.emplace_back(std::move(name), std::move(value));
}

}  // namespace tessura
