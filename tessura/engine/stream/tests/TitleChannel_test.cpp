// The title channel over a stand-in instance table: the UDP port it binds and announces before
// a request, and where it connects when the response names the server's port.
#include "TitleChannel.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tessura {
namespace {

// A loopback TCP connection (both ends) standing in for the stream's connection.
struct LoopbackConnection {
    int listener = -1, client = -1, server = -1;
    LoopbackConnection() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
        server = ::accept(listener, nullptr, nullptr);
    }
    ~LoopbackConnection() {
        for (int fd : {listener, client, server}) {
            if (fd >= 0) ::close(fd);
        }
    }
    static uint16_t portOf(int fd, bool peer) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (peer) {
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
        } else {
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        }
        return ntohs(address.sin_port);
    }
};

// An instance whose table records the header calls and answers from fixed values.
struct FakeInstance {
    FakeInstance();
    FeedlineInstance base;
    int socket = -1;
    void* slot = nullptr;
    std::map<std::string, std::string> requestHeaders;
    std::vector<std::string> removed;
    std::optional<std::string> udpPortHeader;

    static FakeInstance& of(FeedlineInstance* self) { return *reinterpret_cast<FakeInstance*>(self); }
};

const FeedlineInstanceTable kFakeTable = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    [](FeedlineInstance* self, const char* name, const char* value) -> int32_t {
        FakeInstance::of(self).requestHeaders[name] = value;
        return 0;
    },
    [](FeedlineInstance* self, const char* name) -> int32_t {
        FakeInstance::of(self).requestHeaders.erase(name);
        FakeInstance::of(self).removed.emplace_back(name);
        return 0;
    },
    nullptr,
    [](FeedlineInstance* self, const char* name, char* buffer, int32_t size) -> int32_t {
        const auto& value = FakeInstance::of(self).udpPortHeader;
        if (std::strcmp(name, TitleChannel::kPortHeader) != 0 || !value) return -1;
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", value->c_str());
        return static_cast<int32_t>(value->size());
    },
    [](FeedlineInstance* self) { return FakeInstance::of(self).socket; },
    [](FeedlineInstance* self) { return FakeInstance::of(self).slot; },
    [](FeedlineInstance* self, void* value) { FakeInstance::of(self).slot = value; },
    nullptr,
};

FakeInstance::FakeInstance() : base{&kFakeTable} {}

TEST(TitleChannel, AnnouncesAPortJustAboveTheConnectionsOwn) {
    LoopbackConnection connection;
    FakeInstance fake;
    fake.socket = connection.client;
    {
        TitleChannel channel(&fake.base);
        EXPECT_EQ(fake.slot, &channel);
        TitleChannel::OnEvent(FEEDLINE_EVENT_SENDING_REQUEST, &fake.base);
        const uint16_t tcpPort = LoopbackConnection::portOf(connection.client, false);
        ASSERT_GT(channel.socket(), 0);
        EXPECT_GT(channel.localPort(), tcpPort);
        EXPECT_LE(channel.localPort(), tcpPort + TitleChannel::kBindTries);
        EXPECT_EQ(fake.requestHeaders[TitleChannel::kPortHeader], std::to_string(channel.localPort()));
        EXPECT_EQ(LoopbackConnection::portOf(channel.socket(), false), channel.localPort());

        // A second request replaces the socket (the first one's port is free again).
        TitleChannel::OnEvent(FEEDLINE_EVENT_SENDING_REQUEST, &fake.base);
        EXPECT_GT(channel.socket(), 0);
        EXPECT_GT(channel.localPort(), tcpPort);
        EXPECT_LE(channel.localPort(), tcpPort + TitleChannel::kBindTries);
    }
    EXPECT_EQ(fake.slot, nullptr);
}

TEST(TitleChannel, ConnectsToTheServersAnnouncedPort) {
    struct Row {
        std::optional<std::string> header;
        bool connected;
        uint16_t serverPort;
    };
    const std::vector<Row> rows = {
        {std::string("5000"), true, 5000}, {std::nullopt, false, 0}, {std::string("x"), false, 0},
        {std::string("70000"), false, 0},  {std::string("0"), false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.header.value_or("(none)"));
        LoopbackConnection connection;
        FakeInstance fake;
        fake.socket = connection.client;
        fake.udpPortHeader = row.header;
        TitleChannel channel(&fake.base);
        TitleChannel::OnEvent(FEEDLINE_EVENT_SENDING_REQUEST, &fake.base);
        TitleChannel::OnEvent(FEEDLINE_EVENT_RESPONSE_HEADERS, &fake.base);
        TitleChannel::OnEvent(7, &fake.base);  // other codes change nothing
        EXPECT_EQ(channel.connected(), row.connected);
        EXPECT_EQ(channel.serverPort(), row.serverPort);
        if (row.connected) {
            EXPECT_EQ(LoopbackConnection::portOf(channel.socket(), true), row.serverPort);
        }
    }
}

TEST(TitleChannel, WithoutAConnectionItAnnouncesNothing) {
    FakeInstance fake;
    fake.requestHeaders[TitleChannel::kPortHeader] = "1234";
    TitleChannel channel(&fake.base);
    TitleChannel::OnEvent(FEEDLINE_EVENT_SENDING_REQUEST, &fake.base);
    EXPECT_EQ(channel.socket(), 0);
    EXPECT_EQ(fake.requestHeaders.count(TitleChannel::kPortHeader), 0u);
    channel.addPair("x-audiocast-streamtitle", "From the channel");
    ASSERT_EQ(channel.pairs().size(), 1u);
    EXPECT_EQ(channel.pairs()[0].second, "From the channel");
}

}  // namespace
}  // namespace tessura
