#include "web/web_server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "web/availability.h"
#include "web/dataselect.h"
#include "web/fdsn_request.h"
#include "web/station_service.h"

namespace {

constexpr char DataSelectPath[] = "/fdsnws/dataselect/1/";
constexpr char StationPath[] = "/fdsnws/station/1/";
constexpr char AvailabilityPath[] = "/fdsnws/availability/1/";
constexpr size_t MaxUriLength = 4096;
constexpr long long MaxPostBytes = 1 << 20;
constexpr size_t SendPiece = size_t{1} << 16;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string IsoText(int64_t micro) {
    const time_t seconds = time_t(micro / 1000000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Payload Too Large";
        case 414:
            return "URI Too Long";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

bool IsHead(const mg_request_info* info) {
    return std::strcmp(info->request_method, "HEAD") == 0;
}

void Send(mg_connection* conn, int status, const char* type, const std::string& body,
          bool close = false) {
    const bool head = IsHead(mg_get_request_info(conn));
    if (mg_response_header_start(conn, status) != 0) {
        // A request the library has taken as a WebSocket upgrade: the answer written whole.
        mg_printf(conn,
                  "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                  "Connection: close\r\n\r\n",
                  status, ReasonOf(status), type, body.size());
        mg_write(conn, body.data(), head ? 0 : body.size());
        return;
    }
    mg_response_header_add(conn, "Content-Type", type, -1);
    mg_response_header_add(conn, "Content-Length", std::to_string(body.size()).c_str(), -1);
    mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    if (close) {
        mg_response_header_add(conn, "Connection", "close", -1);
    }
    mg_response_header_send(conn);
    if (!head) {
        mg_write(conn, body.data(), body.size());
    }
}

std::string RequestUrl(const mg_request_info* info) {
    std::string url = info->request_uri != nullptr ? info->request_uri : "";
    if (info->query_string != nullptr) {
        url += std::string("?") + info->query_string;
    }
    return url;
}

int SendFdsnError(mg_connection* conn, int status, const std::string& description,
                  bool close = false) {
    Send(conn, status, "text/plain; charset=utf-8",
         FdsnErrorBody(status, description, RequestUrl(mg_get_request_info(conn)),
                       NowMicroseconds()),
         close);
    return status;
}

// The body of a POST; nothing when it is larger than MaxPostBytes.
std::optional<std::string> ReadPostBody(mg_connection* conn) {
    std::string body;
    char piece[8192];
    int n = 0;
    while ((n = mg_read(conn, piece, sizeof piece)) > 0) {
        body.append(piece, size_t(n));
        if (body.size() > size_t(MaxPostBytes)) {
            return std::nullopt;
        }
    }
    return body;
}

// A service's parameters, by GET from the query string or by POST from the body; nothing when
// the body was too large, which has been answered with 413 and the connection closed.
template <typename TQuery>
std::optional<TFdsnParsed<TQuery>> ParseRequest(mg_connection* conn, const mg_request_info* info,
                                                TFdsnParsed<TQuery> (*get)(std::string_view),
                                                TFdsnParsed<TQuery> (*post)(std::string_view)) {
    if (std::strcmp(info->request_method, "POST") != 0) {
        return get(info->query_string != nullptr ? info->query_string : "");
    }
    std::optional<std::string> body;
    if (info->content_length <= MaxPostBytes) {
        body = ReadPostBody(conn);
    }
    if (!body) {
        SendFdsnError(conn, 413,
                      "the POST body is larger than " + std::to_string(MaxPostBytes) + " bytes",
                      true);
        return std::nullopt;
    }
    return post(*body);
}

const char* ContentTypeOf(const std::string& path) {
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".txt", "text/plain; charset=utf-8"},
        {".map", "application/json"},
        {".wasm", "application/wasm"}};
    for (const auto& [ending, type] : types) {
        const size_t n = std::strlen(ending);
        if (path.size() >= n && path.compare(path.size() - n, n, ending) == 0) {
            return type;
        }
    }
    return "application/octet-stream";
}

const char* const Wadl =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<application xmlns=\"http://wadl.dev.java.net/2009/02\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
    "  <resources base=\"/fdsnws/dataselect/1/\">\n"
    "    <resource path=\"query\">\n"
    "      <method name=\"GET\">\n"
    "        <request>\n"
    "          <param name=\"starttime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"endtime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"network\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"station\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"location\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"channel\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"quality\" style=\"query\" type=\"xsd:string\" default=\"B\"/>\n"
    "          <param name=\"minimumlength\" style=\"query\" type=\"xsd:double\" "
    "default=\"0.0\"/>\n"
    "          <param name=\"longestonly\" style=\"query\" type=\"xsd:boolean\" "
    "default=\"false\"/>\n"
    "          <param name=\"format\" style=\"query\" type=\"xsd:string\" default=\"miniseed\"/>\n"
    "          <param name=\"nodata\" style=\"query\" type=\"xsd:int\" default=\"204\"/>\n"
    "        </request>\n"
    "        <response status=\"200\"><representation mediaType=\"application/vnd.fdsn.mseed\"/>"
    "</response>\n"
    "        <response status=\"204 400 404 413 414\"><representation "
    "mediaType=\"text/plain\"/></response>\n"
    "      </method>\n"
    "      <method name=\"POST\">\n"
    "        <request><representation mediaType=\"text/plain\"/></request>\n"
    "        <response status=\"200\"><representation mediaType=\"application/vnd.fdsn.mseed\"/>"
    "</response>\n"
    "      </method>\n"
    "    </resource>\n"
    "    <resource path=\"version\"><method name=\"GET\"><response><representation "
    "mediaType=\"text/plain\"/></response></method></resource>\n"
    "    <resource path=\"application.wadl\"><method name=\"GET\"><response><representation "
    "mediaType=\"application/xml\"/></response></method></resource>\n"
    "  </resources>\n"
    "</application>\n";

const char* const AvailabilityWadl =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<application xmlns=\"http://wadl.dev.java.net/2009/02\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
    "  <resources base=\"/fdsnws/availability/1/\">\n"
    "    <resource path=\"extent\">\n"
    "      <method name=\"GET\">\n"
    "        <request>\n"
    "          <param name=\"starttime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"endtime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"network\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"station\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"location\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"channel\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"quality\" style=\"query\" type=\"xsd:string\" default=\"*\"/>\n"
    "          <param name=\"merge\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"orderby\" style=\"query\" type=\"xsd:string\" "
    "default=\"nslc_time_quality_samplerate\"/>\n"
    "          <param name=\"limit\" style=\"query\" type=\"xsd:int\"/>\n"
    "          <param name=\"format\" style=\"query\" type=\"xsd:string\" default=\"text\"/>\n"
    "          <param name=\"nodata\" style=\"query\" type=\"xsd:int\" default=\"204\"/>\n"
    "        </request>\n"
    "        <response status=\"200\"><representation mediaType=\"text/plain\"/>"
    "<representation mediaType=\"application/json\"/><representation "
    "mediaType=\"text/csv\"/></response>\n"
    "      </method>\n"
    "    </resource>\n"
    "    <resource path=\"query\">\n"
    "      <method name=\"GET\">\n"
    "        <request>\n"
    "          <param name=\"mergegaps\" style=\"query\" type=\"xsd:float\"/>\n"
    "          <param name=\"show\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <!-- and every parameter of extent; merge also takes overlap -->\n"
    "        </request>\n"
    "        <response status=\"200\"><representation mediaType=\"text/plain\"/>"
    "<representation mediaType=\"application/json\"/><representation "
    "mediaType=\"text/csv\"/></response>\n"
    "        <response status=\"204 400 404 414 503\"><representation "
    "mediaType=\"text/plain\"/></response>\n"
    "      </method>\n"
    "    </resource>\n"
    "    <resource path=\"version\"><method name=\"GET\"><response><representation "
    "mediaType=\"text/plain\"/></response></method></resource>\n"
    "    <resource path=\"application.wadl\"><method name=\"GET\"><response><representation "
    "mediaType=\"application/xml\"/></response></method></resource>\n"
    "  </resources>\n"
    "</application>\n";

const char* const StationWadl =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<application xmlns=\"http://wadl.dev.java.net/2009/02\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
    "  <resources base=\"/fdsnws/station/1/\">\n"
    "    <resource path=\"query\">\n"
    "      <method name=\"GET\">\n"
    "        <request>\n"
    "          <param name=\"starttime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"endtime\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"startbefore\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"startafter\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"endbefore\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"endafter\" style=\"query\" type=\"xsd:dateTime\"/>\n"
    "          <param name=\"network\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"station\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"location\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"channel\" style=\"query\" type=\"xsd:string\"/>\n"
    "          <param name=\"level\" style=\"query\" type=\"xsd:string\" default=\"station\"/>\n"
    "          <param name=\"format\" style=\"query\" type=\"xsd:string\" default=\"xml\"/>\n"
    "          <param name=\"includerestricted\" style=\"query\" type=\"xsd:boolean\" "
    "default=\"true\"/>\n"
    "          <param name=\"includeavailability\" style=\"query\" type=\"xsd:boolean\" "
    "default=\"false\"/>\n"
    "          <param name=\"matchtimeseries\" style=\"query\" type=\"xsd:boolean\" "
    "default=\"false\"/>\n"
    "          <param name=\"nodata\" style=\"query\" type=\"xsd:int\" default=\"204\"/>\n"
    "        </request>\n"
    "        <response status=\"200\"><representation mediaType=\"application/xml\"/>"
    "<representation mediaType=\"text/plain\"/></response>\n"
    "        <response status=\"204 400 404 413 414\"><representation "
    "mediaType=\"text/plain\"/></response>\n"
    "      </method>\n"
    "      <method name=\"POST\">\n"
    "        <request><representation mediaType=\"text/plain\"/></request>\n"
    "        <response status=\"200\"><representation mediaType=\"application/xml\"/>"
    "</response>\n"
    "      </method>\n"
    "    </resource>\n"
    "    <resource path=\"version\"><method name=\"GET\"><response><representation "
    "mediaType=\"text/plain\"/></response></method></resource>\n"
    "    <resource path=\"application.wadl\"><method name=\"GET\"><response><representation "
    "mediaType=\"application/xml\"/></response></method></resource>\n"
    "  </resources>\n"
    "</application>\n";

}  // namespace

// One SeedLink client over WebSocket: our end of the message socket pair the SeedLink server
// holds the other end of, and the thread that sends what the server writes to the client.
struct TWebSocketLink {
    int Fd = -1;
    std::atomic<bool> Closing{false};
    std::thread Sender;
};

struct TWebServer::TContext {
    mg_context* Server = nullptr;
    const TWebConfig* Config = nullptr;
    std::string RealRoot;  // the web root with every link resolved; empty: none

    int Handle(mg_connection* conn);
    int DataSelect(mg_connection* conn, const mg_request_info* info);
    int Station(mg_connection* conn, const mg_request_info* info, const std::string& resource);
    int Availability(mg_connection* conn, const mg_request_info* info, const std::string& uri);
    int StaticFile(mg_connection* conn, const mg_request_info* info);
    int Api(mg_connection* conn, const std::string& uri);
    void SeedLinkReady(mg_connection* conn);
};

namespace {

constexpr size_t MaxCommandMessage = 1024;

// Our end of the pair closed and the sender ended; from the library's thread of the
// connection, at its close.
void EndLink(const mg_connection* conn) {
    auto* link = static_cast<TWebSocketLink*>(mg_get_user_connection_data(conn));
    if (link == nullptr) {
        return;
    }
    link->Closing = true;
    shutdown(link->Fd, SHUT_RDWR);
    if (link->Sender.joinable()) {
        link->Sender.join();
    }
    close(link->Fd);
    mg_set_user_connection_data(conn, nullptr);
    delete link;
}

}  // namespace

void TWebServer::TContext::SeedLinkReady(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    std::array<uint8_t, 16> bytes{};
    in_addr address{};
    if (inet_pton(AF_INET, info->remote_addr, &address) == 1) {
        bytes[10] = bytes[11] = 0xFF;
        std::memcpy(bytes.data() + 12, &address, 4);
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "", 0);
        return;
    }
    const std::string text =
        std::string(info->remote_addr) + ":" + std::to_string(info->remote_port);
    if (!Config->SeedLink(pair[1], text, bytes)) {
        close(pair[0]);
        mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "", 0);
        return;
    }
    auto* link = new TWebSocketLink;
    link->Fd = pair[0];
    mg_set_user_connection_data(conn, link);
    link->Sender = std::thread([conn, link] {
        // One message of the server (an answer, a packet) is one binary WebSocket message.
        std::vector<char> message(8192);
        ssize_t n = 0;
        while ((n = recv(link->Fd, message.data(), message.size(), 0)) > 0) {
            if (mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_BINARY, message.data(), size_t(n)) <=
                0) {
                break;
            }
        }
        if (!link->Closing) {
            // The server ended the conversation (BYE, the end of a window, a slow client).
            mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "", 0);
        }
    });
}

void TWebSnapshotBox::Set(TWebSnapshot snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(snapshot);
}

TWebSnapshot TWebSnapshotBox::Get() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::string FdsnErrorBody(int status, const std::string& description, const std::string& url,
                          int64_t nowMicroseconds) {
    // The service the request was for names itself: its path and its version.
    const char* path = DataSelectPath;
    const char* version = DataSelectVersion;
    if (url.rfind(AvailabilityPath, 0) == 0) {
        path = AvailabilityPath;
        version = AvailabilityVersion;
    } else if (url.rfind(StationPath, 0) == 0) {
        path = StationPath;
        version = StationServiceVersion;
    }
    return "Error " + std::to_string(status) + ": " + ReasonOf(status) + "\n\n" + description +
           "\n\nUsage details are available from " + path + "\n\nRequest:\n" + url +
           "\n\nRequest Submitted:\n" + IsoText(nowMicroseconds) + "\n\nService version:\n" +
           version + "\n";
}

std::optional<std::string> WebRootRelativePath(const std::string& uri) {
    if (uri.empty() || uri[0] != '/') {
        return std::nullopt;
    }
    size_t from = 1;
    while (from <= uri.size()) {
        const size_t slash = std::min(uri.find('/', from), uri.size());
        const std::string segment = uri.substr(from, slash - from);
        if (segment == "." || segment == "..") {
            return std::nullopt;
        }
        from = slash + 1;
    }
    for (const char c : uri) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\') {
            return std::nullopt;
        }
    }
    std::string relative = uri.substr(1);
    if (relative.empty() || relative.back() == '/') {
        relative += "index.html";
    }
    return relative;
}

TWebServer::TWebServer(TWebConfig config)
    : config_(std::move(config)), context_(std::make_unique<TContext>()) {
    context_->Config = &config_;
}

TWebServer::~TWebServer() {
    Stop();
}

TResult<void> TWebServer::Start() {
    if (context_->Server != nullptr) {
        return {};
    }
    const std::string host = config_.Listen.Host.empty() ? "127.0.0.1" : config_.Listen.Host;
    const std::string where =
        "HTTP: cannot listen on " + host + ":" + std::to_string(config_.Listen.Port);
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) != 1) {
        return TError{where + ": only IPv4 addresses are served"};
    }
    if (!config_.WebRoot.empty()) {
        char* real = realpath(config_.WebRoot.c_str(), nullptr);
        if (real != nullptr) {
            context_->RealRoot = real;
            std::free(real);
        }
    }
    static const bool initialised = [] {
        mg_init_library(0);
        return true;
    }();
    (void)initialised;
    const std::string ports = host + ":" + std::to_string(config_.Listen.Port);
    const std::string threads = std::to_string(std::max(1, config_.MaxConnections));
    const std::string requestTimeout = std::to_string(config_.RequestTimeoutSeconds * 1000);
    const std::string idleTimeout = std::to_string(config_.IdleTimeoutSeconds * 1000);
    const char* options[] = {"listening_ports",
                             ports.c_str(),
                             "num_threads",
                             threads.c_str(),
                             "connection_queue",
                             threads.c_str(),
                             "request_timeout_ms",
                             requestTimeout.c_str(),
                             "keep_alive_timeout_ms",
                             idleTimeout.c_str(),
                             "enable_keep_alive",
                             "yes",
                             "websocket_timeout_ms",
                             requestTimeout.c_str(),
                             "enable_websocket_ping_pong",
                             "yes",
                             "max_request_size",
                             "16384",
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = [](mg_connection* conn) -> int {
        const auto* context = static_cast<TContext*>(mg_get_user_data(mg_get_context(conn)));
        const mg_request_info* info = mg_get_request_info(conn);
        in_addr address{};
        std::array<uint8_t, 16> bytes{};
        if (inet_pton(AF_INET, info->remote_addr, &address) == 1) {
            bytes[10] = bytes[11] = 0xFF;
            std::memcpy(bytes.data() + 12, &address, 4);
        }
        if (!AddressAllowed(context->Config->Allow, bytes)) {
            Send(conn, 403, "text/plain", "Error 403: Forbidden\n", true);
            return 403;
        }
        if (RequestUrl(info).size() > MaxUriLength) {
            SendFdsnError(conn, 414,
                          "the URL is longer than " + std::to_string(MaxUriLength) +
                              " characters; send long selections by POST",
                          true);
            return 414;
        }
        return 0;
    };
    context_->Server = mg_start(&callbacks, context_.get(), options);
    if (context_->Server == nullptr) {
        return TError{where + ": the address is in use or not this machine's"};
    }
    mg_set_request_handler(
        context_->Server, "/",
        [](mg_connection* conn, void* data) { return static_cast<TContext*>(data)->Handle(conn); },
        context_.get());
    if (config_.SeedLink) {
        static const char* protocols[] = {"SeedLink3.1"};
        static mg_websocket_subprotocols subprotocols{1, protocols};
        mg_set_websocket_handler_with_subprotocols(
            context_->Server, "/seedlink", &subprotocols, nullptr,
            [](mg_connection* conn, void* data) {
                static_cast<TContext*>(data)->SeedLinkReady(conn);
            },
            [](mg_connection* conn, int bits, char* message, size_t length, void*) -> int {
                const int opcode = bits & 0x0F;
                if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) {
                    return 0;
                }
                auto* link = static_cast<TWebSocketLink*>(mg_get_user_connection_data(conn));
                if (opcode != MG_WEBSOCKET_OPCODE_TEXT && opcode != MG_WEBSOCKET_OPCODE_BINARY) {
                    return 1;  // pings and pongs
                }
                if (link == nullptr || length > MaxCommandMessage) {
                    return 0;
                }
                // A command per message; its line end is optional.
                std::string line(message, length);
                if (line.empty() || (line.back() != '\n' && line.back() != '\r')) {
                    line += "\r\n";
                }
                // The server reads commands at once; one that cannot take them has gone.
                return send(link->Fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
                               ssize_t(line.size())
                           ? 1
                           : 0;
            },
            [](const mg_connection* conn, void*) { EndLink(conn); }, context_.get());
    }
    mg_server_port bound[4]{};
    port_ = mg_get_server_ports(context_->Server, 4, bound) > 0 ? bound[0].port : 0;
    return {};
}

void TWebServer::Stop() {
    if (context_ && context_->Server != nullptr) {
        mg_stop(context_->Server);
        context_->Server = nullptr;
    }
}

int TWebServer::TContext::Handle(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string uri = info->local_uri_raw != nullptr ? info->local_uri_raw
                            : info->local_uri != nullptr   ? info->local_uri
                                                           : "/";
    const std::string method = info->request_method;
    const bool post = method == "POST";
    if (method != "GET" && method != "HEAD" && !post) {
        mg_response_header_start(conn, 405);
        mg_response_header_add(conn, "Allow", "GET, HEAD, POST", -1);
        mg_response_header_add(conn, "Content-Length", "0", -1);
        mg_response_header_send(conn);
        return 405;
    }
    if (uri.rfind(AvailabilityPath, 0) == 0) {
        if (post) {
            return SendFdsnError(conn, 405, "the availability service is asked by GET", true);
        }
        return Availability(conn, info, uri.substr(std::strlen(AvailabilityPath)));
    }
    if (uri.rfind(StationPath, 0) == 0) {
        return Station(conn, info, uri.substr(std::strlen(StationPath)));
    }
    if (uri.rfind("/fdsnws/", 0) == 0) {
        const std::string service = uri.substr(std::strlen(DataSelectPath));
        if (uri.rfind(DataSelectPath, 0) != 0) {
            return SendFdsnError(conn, 404, "no such service here");
        }
        if (service == "query") {
            if (IsHead(info)) {
                return SendFdsnError(conn, 405, "query by GET or POST");
            }
            return DataSelect(conn, info);
        }
        if (post) {
            return SendFdsnError(conn, 405, "only the query takes POST", true);
        }
        if (service == "version") {
            Send(conn, 200, "text/plain", DataSelectVersion);
            return 200;
        }
        if (service == "application.wadl") {
            Send(conn, 200, "application/xml", Wadl);
            return 200;
        }
        if (service.empty()) {
            Send(conn, 200, "text/plain; charset=utf-8",
                 "FDSN dataselect 1: query?net=..&sta=..&loc=..&cha=..&starttime=..&endtime=..\n"
                 "(also by POST), version, application.wadl\n");
            return 200;
        }
        return SendFdsnError(conn, 404, "no such resource of the dataselect service");
    }
    if (post) {
        Send(conn, 405, "text/plain", "Error 405: only the dataselect query takes POST\n", true);
        return 405;
    }
    if (uri.rfind("/api/", 0) == 0) {
        return Api(conn, uri);
    }
    return StaticFile(conn, info);
}

int TWebServer::TContext::Api(mg_connection* conn, const std::string& uri) {
    const TWebSnapshot snapshot = Config->Snapshot ? Config->Snapshot->Get() : TWebSnapshot{};
    if (uri == "/api/status") {
        if (snapshot.StatusJson.empty()) {
            Send(conn, 503, "text/plain", "no status yet\n");
            return 503;
        }
        Send(conn, 200, "application/json", snapshot.StatusJson);
        return 200;
    }
    if (uri == "/api/events") {
        Send(conn, 200, "application/json",
             snapshot.EventsJson.empty() ? "[]\n" : snapshot.EventsJson);
        return 200;
    }
    if (uri == "/api/health") {
        const int status = snapshot.Healthy ? 200 : 503;
        std::string reason;
        for (const char c :
             snapshot.Health.empty() ? std::string("no status yet") : snapshot.Health) {
            if (c == '"' || c == '\\') {
                reason += '\\';
            }
            reason += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
        Send(conn, status, "application/json",
             std::string("{\"healthy\":") + (snapshot.Healthy ? "true" : "false") +
                 ",\"reason\":\"" + reason + "\"}\n");
        return status;
    }
    Send(conn, 404, "text/plain", "Error 404: no such resource\n");
    return 404;
}

int TWebServer::TContext::StaticFile(mg_connection* conn, const mg_request_info* info) {
    const std::optional<std::string> relative =
        WebRootRelativePath(info->local_uri_raw != nullptr ? info->local_uri_raw : "");
    const auto notFound = [&] {
        Send(conn, 404, "text/plain", "Error 404: not found\n");
        return 404;
    };
    if (RealRoot.empty() || !relative) {
        return notFound();
    }
    std::string path = RealRoot + "/" + *relative;
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return notFound();
    }
    path = real;
    std::free(real);
    struct stat about {};
    if (path.rfind(RealRoot + "/", 0) != 0 || stat(path.c_str(), &about) != 0) {
        return notFound();  // a link leading out of the root
    }
    if (S_ISDIR(about.st_mode)) {
        path += "/index.html";
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 || fstat(fd, &about) != 0 || !S_ISREG(about.st_mode)) {
        if (fd >= 0) {
            close(fd);
        }
        return notFound();
    }
    mg_response_header_start(conn, 200);
    mg_response_header_add(conn, "Content-Type", ContentTypeOf(path), -1);
    mg_response_header_add(conn, "Content-Length", std::to_string(about.st_size).c_str(), -1);
    mg_response_header_send(conn);
    if (!IsHead(info)) {
        std::vector<char> buffer(SendPiece);
        ssize_t n = 0;
        while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
            if (mg_write(conn, buffer.data(), size_t(n)) <= 0) {
                break;
            }
        }
    }
    close(fd);
    return 200;
}

int TWebServer::TContext::Availability(mg_connection* conn, const mg_request_info* info,
                                       const std::string& resource) {
    if (resource == "version") {
        Send(conn, 200, "text/plain", AvailabilityVersion);
        return 200;
    }
    if (resource == "application.wadl") {
        Send(conn, 200, "application/xml", AvailabilityWadl);
        return 200;
    }
    if (resource.empty()) {
        Send(conn, 200, "text/plain; charset=utf-8",
             "FDSN availability 1: extent and query ?net=..&sta=..&loc=..&cha=..&starttime=..&"
             "endtime=..&format=text|json|geocsv|request&merge=samplerate,quality,overlap&"
             "mergegaps=..&orderby=..&limit=..&show=latestupdate, version, application.wadl\n");
        return 200;
    }
    if (resource != "extent" && resource != "query") {
        return SendFdsnError(conn, 404, "no such resource of the availability service");
    }
    const TFdsnParsed<TAvailabilityQuery> parsed = ParseAvailabilityGet(
        info->query_string != nullptr ? info->query_string : "", resource == "extent");
    if (!parsed.Value) {
        return SendFdsnError(conn, parsed.Fault.Status, parsed.Fault.Text);
    }
    if (!Config->Spans) {
        return SendFdsnError(conn, 503, "the archive's spans are not kept by this station");
    }
    const TAvailabilityAnswer answer =
        AnswerAvailability(*Config->Spans, *parsed.Value, NowMicroseconds());
    if (answer.Empty) {
        if (parsed.Value->NoData == 204) {
            mg_response_header_start(conn, 204);
            mg_response_header_send(conn);
            return 204;
        }
        return SendFdsnError(conn, 404, "no data matches the selection");
    }
    Send(conn, 200, answer.ContentType.c_str(), answer.Body);
    return 200;
}

int TWebServer::TContext::DataSelect(mg_connection* conn, const mg_request_info* info) {
    const std::optional<TFdsnParsed<TDataSelectQuery>> parsed =
        ParseRequest(conn, info, ParseDataSelectGet, ParseDataSelectPost);
    if (!parsed) {
        return 413;
    }
    if (!parsed->Value) {
        return SendFdsnError(conn, parsed->Fault.Status, parsed->Fault.Text);
    }
    const TDataSelectQuery& query = *parsed->Value;
    const std::vector<TDayFileRead> files = SelectDayFiles(Config->Archive, query);
    const uint64_t estimate = EstimatedBytes(files);
    if (estimate > Config->DataSelectMaxBytes) {
        return SendFdsnError(conn, 413,
                             "the request selects about " + std::to_string(estimate >> 20) +
                                 " MB of data, more than the " +
                                 std::to_string(Config->DataSelectMaxBytes >> 20) +
                                 " MB an answer may hold; ask for less");
    }
    const bool chunked =
        info->http_version != nullptr && std::strcmp(info->http_version, "1.0") != 0;
    bool started = false;
    bool failed = false;
    std::string out;
    out.reserve(SendPiece + 8192);
    const auto flush = [&] {
        if (out.empty()) {
            return !failed;  // an empty chunk would end the answer
        }
        const int sent = chunked ? mg_send_chunk(conn, out.data(), unsigned(out.size()))
                                 : mg_write(conn, out.data(), out.size());
        if (sent <= 0) {
            failed = true;
        }
        out.clear();
        return !failed;
    };
    SendRecords(files, [&](std::span<const uint8_t> record) {
        if (!started) {
            started = true;
            mg_response_header_start(conn, 200);
            mg_response_header_add(conn, "Content-Type", "application/vnd.fdsn.mseed", -1);
            // HTTP/1.0 has no chunks: the answer ends when the connection closes.
            mg_response_header_add(conn, chunked ? "Transfer-Encoding" : "Connection",
                                   chunked ? "chunked" : "close", -1);
            mg_response_header_add(conn, "Content-Disposition",
                                   "attachment; filename=\"dataselect.mseed\"", -1);
            mg_response_header_send(conn);
        }
        out.append(reinterpret_cast<const char*>(record.data()), record.size());
        return out.size() < SendPiece || flush();
    });
    if (!started) {
        if (query.NoData == 204) {
            mg_response_header_start(conn, 204);
            mg_response_header_send(conn);
            return 204;
        }
        return SendFdsnError(conn, 404, "no data matches the selection");
    }
    if (!failed && flush()) {
        if (chunked) {
            mg_send_chunk(conn, "", 0);
        }
    }
    return 200;
}

int TWebServer::TContext::Station(mg_connection* conn, const mg_request_info* info,
                                  const std::string& resource) {
    const bool post = std::strcmp(info->request_method, "POST") == 0;
    if (resource != "query") {
        if (post) {
            return SendFdsnError(conn, 405, "only the query takes POST", true);
        }
        if (resource == "version") {
            Send(conn, 200, "text/plain", StationServiceVersion);
            return 200;
        }
        if (resource == "application.wadl") {
            Send(conn, 200, "application/xml", StationWadl);
            return 200;
        }
        return SendFdsnError(conn, 404, "no such resource of the station service");
    }
    const std::optional<TFdsnParsed<TStationQuery>> parsed =
        ParseRequest(conn, info, ParseStationGet, ParseStationPost);
    if (!parsed) {
        return 413;
    }
    if (!parsed->Value) {
        return SendFdsnError(conn, parsed->Fault.Status, parsed->Fault.Text);
    }
    const TStationAnswer answer = AnswerStationQuery(Config->Stations, Config->StationXmlSource,
                                                     *parsed->Value, NowMicroseconds() / 1000000);
    if (answer.Status == 204) {
        mg_response_header_start(conn, 204);
        mg_response_header_send(conn);
        return 204;
    }
    if (answer.Status != 200) {
        return SendFdsnError(conn, answer.Status, "no station or channel matches the selection");
    }
    Send(conn, 200, answer.Type.c_str(), answer.Body);
    return 200;
}
