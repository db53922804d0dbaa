#pragma once
// The UDP side channel of an audiocast stream. Before each request the channel binds a UDP
// socket beside the connection's local address (the next ports upward) and announces its port
// in "x-audiocast-udpport"; when the response names the server's port, the socket is
// connected to the server there. Its (name, value) pairs take precedence over the response
// headers when the title is built. Nothing in the player sends or receives on the socket yet.
//
// Threads: the events arrive on the reader thread; Pairs may be read from any thread.
#include "FeedlineAbi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tessura {

class TitleChannel {
  public:
    static constexpr int kBindTries = 11;
    static constexpr const char* kPortHeader = "x-audiocast-udpport";

    // Bound to `instance`: it is kept in the instance's pointer slot until destruction.
    explicit TitleChannel(FeedlineInstance* instance);
    ~TitleChannel();
    TitleChannel(const TitleChannel&) = delete;
    TitleChannel& operator=(const TitleChannel&) = delete;

    // The library's event callback: dispatches codes 13 and 11 to the instance's channel.
    static void OnEvent(int32_t code, FeedlineInstance* instance);

    void OnSendingRequest();
    void OnResponseHeaders();

    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Pairs pairs() const;
    void addPair(std::string name, std::string value);

    int socket() const { return socket_; }
    uint16_t localPort() const { return localPort_; }
    uint16_t serverPort() const { return serverPort_; }
    bool connected() const { return connected_; }

  private:
    void closeSocket();

    FeedlineInstance* instance_;
    int socket_ = 0;  // 0 when none, as the channel has always kept it
    uint16_t localPort_ = 0;
    uint16_t serverPort_ = 0;
    bool connected_ = false;
    int64_t tick_ = 0;
    int counter_ = 0;
    mutable std::mutex mutex_;  // guards pairs_
    Pairs pairs_;
};

}  // namespace tessura
