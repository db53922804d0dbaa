// Internet streams end to end: NetStreamSource over the real Feedline.so against the python3
// server of stream_server.py on 127.0.0.1.
#include "ErrorService.h"
#include "FileStreamSource.h"
#include "LanguageStore.h"
#include "FeedlineLibrary.h"
#include "LoopbackServer.h"
#include "NetStreamSource.h"
#include "ScriptedDialogService.h"
#include "TessuraPluginAbi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace tessura {
namespace {

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

// What the server's /mp3 sends: silent 128 kbit/s frames of 417 bytes.
std::string mp3Frames(std::size_t count) {
    std::string frame(417, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = '\x90';
    frame[3] = '\x64';
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += frame;
    return out;
}

// Every status text a stream showed.
struct StatusLine {
    std::mutex mutex;
    std::vector<std::string> texts;
    SourceRequest request() {
        return [this](int32_t type, intptr_t argument) -> intptr_t {
            if (type == HOST_REQUEST_STATUS_TEXT && argument != 0) {
                std::lock_guard<std::mutex> hold(mutex);
                texts.emplace_back(reinterpret_cast<const char*>(argument));
            }
            return 0;
        };
    }
    std::vector<std::string> shown() {
        std::lock_guard<std::mutex> hold(mutex);
        return texts;
    }
};

class NetStreamSourceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new LoopbackServer(TESSURA_STREAM_SERVER); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override { ASSERT_NE(server_->port(), 0) << "the python3 test server did not start"; }

    std::unique_ptr<NetStreamSource> make(int timeoutMs = 5000) {
        NetStreamServices services;
        services.library = library_;
        services.dialogs = &dialogs_;
        services.settings = [this] { return settings_; };
        services.libraryTimeoutMs = timeoutMs;
        services.pollIntervalMs = 2;
        return std::make_unique<NetStreamSource>(services);
    }

    // Reads until the stream ends or fails (bounded by the size it may deliver).
    static std::string readAll(NetStreamSource& source, bool& failed, std::size_t limit = 1 << 22) {
        std::string out;
        failed = false;
        char buffer[4096];
        while (out.size() <= limit) {
            uint32_t length = sizeof buffer;
            if (!source.Read(buffer, length)) {
                failed = true;
                break;
            }
            if (length == 0) break;
            out.append(buffer, length);
        }
        return out;
    }

    static LoopbackServer* server_;
    std::shared_ptr<FeedlineLibrary> library_ =
        std::make_shared<FeedlineLibrary>(TESSURA_FEEDLINE, ErrorService::create());
    ScriptedDialogService dialogs_{nullptr};
    StreamSettings settings_;
    StatusLine status_;
};

LoopbackServer* NetStreamSourceTest::server_ = nullptr;

TEST_F(NetStreamSourceTest, DeliversAnMp3StreamWithItsAudiocastName) {
    auto source = make();
    ASSERT_TRUE(source->Open(server_->url("/mp3?frames=400&name=A&desc=B"), status_.request()));
    bool failed = true;
    const std::string got = readAll(*source, failed);
    EXPECT_FALSE(failed);
    const std::string served = mp3Frames(400);
    EXPECT_EQ(got.size(), served.size());
    EXPECT_TRUE(got == served);
    StreamInfo info;
    ASSERT_TRUE(source->GetInfo(info));
    EXPECT_EQ(info.streamText, "A / B");
    EXPECT_EQ(info.title, "");
}

TEST_F(NetStreamSourceTest, DeliversEachStreamByteForByte) {
    struct Row {
        const char* path;
        std::size_t size;
        std::string streamText;
    };
    const std::vector<Row> rows = {
        {"/stream?size=200000&name=A&desc=B", 200000, "A / B"},
        {"/stream?size=10240&name=Small", 10240, "Small"},  // ends below the pre-buffer threshold
        {"/redirect?hops=3&size=60000", 60000, "arrived"},
        {"/chunked?size=150000", 150000, ""},
        {"/icy?size=120000&metaint=1000", 120000, "Song 118 - Icy Station"},
        {"/stream?size=0", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto source = make();
        ASSERT_TRUE(source->CanOpen(server_->url(row.path)));
        ASSERT_TRUE(source->Open(server_->url(row.path) + "\r\n", status_.request()));
        bool failed = true;
        const std::string got = readAll(*source, failed);
        EXPECT_FALSE(failed);
        EXPECT_EQ(got.size(), row.size);
        EXPECT_TRUE(got == pattern(row.size));
        EXPECT_EQ(source->bytesReceived(), static_cast<int64_t>(row.size));
        StreamInfo info;
        EXPECT_EQ(source->GetInfo(info), !row.streamText.empty());
        EXPECT_EQ(info.streamText, row.streamText);
        EXPECT_TRUE(source->AllowSave());
        source->Close();
    }
    EXPECT_TRUE(dialogs_.shown().empty());
}

TEST_F(NetStreamSourceTest, LooksUpHostNames) {
    auto source = make();
    ASSERT_TRUE(source->Open("http://localhost:" + std::to_string(server_->port()) + "/stream?size=5000",
                             status_.request()));
    bool failed = true;
    const std::string got = readAll(*source, failed);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(got == pattern(5000));
}

TEST_F(NetStreamSourceTest, ShowsItsProgressOnTheStatusLine) {
    settings_.bufferKb = 24;
    settings_.preBufferPercent = 50;
    auto source = make();
    ASSERT_TRUE(source->Open(server_->url("/stream?size=30000"), status_.request()));
    bool failed = true;
    readAll(*source, failed);
    source->Close();
    const auto shown = status_.shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "internet/connecting_status");
    // Then the count after each write below the threshold (12 KB), growing.
    ASSERT_GE(shown.size(), 2u);
    long long previous = 0;
    for (std::size_t i = 1; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i].rfind("internet/buffer_status ", 0), 0u) << shown[i];
        const long long count = std::stoll(shown[i].substr(23));
        EXPECT_GT(count, previous);
        EXPECT_LT(count, 12288);
        previous = count;
    }
}

TEST_F(NetStreamSourceTest, ShowsTranslatedStatusTexts) {
    LanguageStore language;
    language.LoadLanguageList(VELORA_SOURCE_DIR "/tessura/system");
    ASSERT_EQ(language.SelectLanguage("English"), LanguageStore::kSelected);
    NetStreamServices services;
    services.library = library_;
    services.language = &language;
    NetStreamSource source(services);
    ASSERT_TRUE(source.Open(server_->url("/stream?size=2000"), status_.request()));
    bool failed = true;
    readAll(source, failed);
    source.Close();
    const auto shown = status_.shown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Connecting...");
    EXPECT_EQ(shown[1].rfind("Buffering: ", 0), 0u) << shown[1];
    EXPECT_EQ(shown.back(), "Buffering: 2000");
}

TEST_F(NetStreamSourceTest, SendsItsUserAgentAndAnnouncesItsTitlePort) {
    auto source = make();
    ASSERT_TRUE(source->Open(server_->url("/whoami?size=1000"), status_.request()));
    bool failed = true;
    readAll(*source, failed);
    StreamInfo info;
    ASSERT_TRUE(source->GetInfo(info));
    EXPECT_EQ(info.title, "Tessura 1.50 (no stream save)");
    // The announced UDP port lies just above the connection's own.
    ASSERT_FALSE(info.streamText.empty());
    EXPECT_NE(info.streamText, "none");
    EXPECT_GT(std::stoi(info.streamText), 0);
}

TEST_F(NetStreamSourceTest, HonoursAllowSave) {
    for (const char* value : {"NO", "no", "yes"}) {
        auto source = make();
        ASSERT_TRUE(source->Open(server_->url("/stream?size=100&allow=") + value, status_.request()));
        bool failed = true;
        readAll(*source, failed);
        EXPECT_EQ(source->AllowSave(), std::string(value) == "yes") << value;
    }
}

TEST_F(NetStreamSourceTest, HostileOrBrokenServersEndTheStreamPromptly) {
    struct Row {
        const char* path;
        bool failed;           // Read fails (the connection error path)
        std::size_t delivered; // else: what was delivered before the end
    };
    const std::vector<Row> rows = {
        {"/endless-header", true, 0},
        {"/drip", true, 0},
        {"/cut?size=100000&sent=20000", false, 20000},
        {"/missing", true, 0},
        {"/redirect?hops=9&size=100", true, 0},  // more redirects than the library follows
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        ScriptedDialogService dialogs(nullptr);
        NetStreamServices services;
        services.library = library_;
        services.dialogs = &dialogs;
        services.libraryTimeoutMs = 1000;
        services.pollIntervalMs = 2;
        NetStreamSource source(services);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(source.Open(server_->url(row.path), status_.request()));
        bool failed = false;
        const std::string got = readAll(source, failed);
        source.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(failed, row.failed);
        EXPECT_EQ(got.size(), row.delivered);
        EXPECT_TRUE(got == pattern(row.delivered));
        if (row.failed) {
            EXPECT_EQ(source.bytesReceived(), NetStreamSource::kFailed);
            ASSERT_EQ(dialogs.shown().size(), 1u);
            EXPECT_EQ(dialogs.shown()[0], "errors/tessurainterneterror | errors/connectionerror");
        }
    }
}

TEST_F(NetStreamSourceTest, ClosingAStalledStreamTakesUnderASecond) {
    auto source = make(30000);
    ASSERT_TRUE(source->Open(server_->url("/stall"), status_.request()));
    for (int i = 0; i < 500 && source->bytesReceived() < 1000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(source->bytesReceived(), 1000);
    const auto start = std::chrono::steady_clock::now();
    source->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(dialogs_.shown().empty());
}

TEST_F(NetStreamSourceTest, ClosingWhileConnectingShowsNoError) {
    // A port nobody answers on quickly enough is not needed: the close comes before the head.
    auto source = make(30000);
    ASSERT_TRUE(source->Open(server_->url("/drip"), status_.request()));
    const auto start = std::chrono::steady_clock::now();
    source->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(dialogs_.shown().empty());
}

TEST_F(NetStreamSourceTest, UsesTheProxyWithItsCredentials) {
    settings_.useProxy = true;
    settings_.proxyUrl = "127.0.0.1:" + std::to_string(server_->port());
    settings_.useProxyAuth = true;
    settings_.proxyUser = "proxyuser";
    settings_.proxyPassword = "proxysecret";
    // The stream's own host does not exist: only the proxy can fetch it.
    const std::string url = "http://stream.invalid:8000/stream?size=40000";
    auto source = make();
    ASSERT_TRUE(source->Open(url, status_.request()));
    bool failed = true;
    const std::string got = readAll(*source, failed);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(got == pattern(40000));
    StreamInfo info;
    ASSERT_TRUE(source->GetInfo(info));
    EXPECT_EQ(info.streamText, "through the proxy");
    source->Close();

    settings_.proxyPassword = "wrong";
    auto refused = make();
    ASSERT_TRUE(refused->Open(url, status_.request()));
    EXPECT_FALSE(readAll(*refused, failed).size());
    EXPECT_TRUE(failed);
}

TEST_F(NetStreamSourceTest, ConnectionRefusedShowsTheConnectionError) {
    // A port that was just free: nothing listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    auto source = make();
    ASSERT_TRUE(source->Open("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/", status_.request()));
    uint32_t length32 = 16;
    char buffer[16];
    EXPECT_FALSE(source->Read(buffer, length32));
    EXPECT_EQ(length32, 0u);
    source->Close();
    ASSERT_EQ(dialogs_.shown().size(), 1u);
    EXPECT_EQ(dialogs_.shown()[0], "errors/tessurainterneterror | errors/connectionerror");
}

TEST(NetStreamSource, WithoutTheLibraryEveryStreamFails) {
    ScriptedDialogService dialogs(nullptr);
    NetStreamServices services;
    services.library = std::make_shared<FeedlineLibrary>("/nonexistent/Feedline.so", ErrorService::create());
    services.dialogs = &dialogs;
    NetStreamSource source(services);
    EXPECT_FALSE(source.hasInstance());
    ASSERT_TRUE(source.Open("http://127.0.0.1:9/", nullptr));
    char buffer[8];
    uint32_t length = sizeof buffer;
    EXPECT_FALSE(source.Read(buffer, length));
    source.Close();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0], "errors/tessurainterneterror | errors/internetinitfailed");
}

TEST(NetStreamSource, NullStreamsOpenAndPlayNothing) {
    NetStreamSource source(NetStreamServices{});
    EXPECT_TRUE(source.CanOpen("http://host/"));
    EXPECT_FALSE(source.CanOpen("/music/file.mp3"));
    ASSERT_TRUE(source.Open("NULL://anything\r\n", nullptr));
    EXPECT_TRUE(source.nullMode());
    char buffer[8];
    uint32_t length = sizeof buffer;
    EXPECT_FALSE(source.Read(buffer, length));
    StreamInfo info;
    EXPECT_FALSE(source.GetInfo(info));
    EXPECT_FALSE(source.CanOpen("http://host/"));
    EXPECT_TRUE(source.AllowSave());
    int64_t offset = 0, previous = 0;
    EXPECT_FALSE(source.Seek(offset, 0, previous));
    source.Close();
    EXPECT_FALSE(source.nullMode());
}

TEST(NetStreamSource, IsChosenAfterTheLocalFileForAddressesOnly) {
    const std::vector<StreamSourceFactory> kinds = {
        [] { return std::make_unique<FileStreamSource>(); }, NetStreamSourceFactory(NetStreamServices{})};
    EXPECT_NE(dynamic_cast<FileStreamSource*>(ChooseStreamSource(kinds, TESSURA_STREAM_SERVER).get()), nullptr);
    EXPECT_NE(dynamic_cast<NetStreamSource*>(ChooseStreamSource(kinds, "http://host/live").get()), nullptr);
    EXPECT_EQ(ChooseStreamSource(kinds, "/no/such/file.mp3"), nullptr);
}

TEST(NetStreamSource, OpenStripsLineBreaksAndCutsTheAddress) {
    NetStreamSource source(NetStreamServices{});
    ASSERT_TRUE(source.Open("http://host/a\r\n\n", nullptr));
    EXPECT_EQ(source.url(), "http://host/a");
    source.Close();
    ASSERT_TRUE(source.Open("http://host/" + std::string(3000, 'x'), nullptr));
    EXPECT_EQ(source.url().size(), NetStreamSource::kMaxUrlLength);
    source.Close();
}

}  // namespace
}  // namespace tessura
