// The station's HTTP server, on CivetWeb: the FDSN dataselect service over the archive, the
// status API, SeedLink over WebSocket (a bridge into the SeedLink server, which serves the
// connection as one of its own), and the files of the program's web root. It runs on the library's
// own worker threads, at most MaxConnections of them, and only reads: the archive's day files, the
// web root, and the snapshot of the status the station hands over; nothing a client sends changes
// the station, and the station never waits on a client (it only swaps the snapshot).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "metadata/station_xml.h"
#include "recording/archive_spans.h"
#include "seedlink/address.h"

// What the station last said about itself, for /api/status, /api/events and /api/health.
struct TWebSnapshot {
    std::string StatusJson;  // the status file's object; empty before the first status
    std::string EventsJson;  // the newest events as a JSON array; empty when not detecting
    bool Healthy = false;    // recording and no alarm
    std::string Health;      // why not, or "ok"
};

// The snapshot, swapped by the station and copied by the server's threads.
class TWebSnapshotBox {
  public:
    void Set(TWebSnapshot snapshot);
    TWebSnapshot Get() const;

  private:
    mutable std::mutex mutex_;
    TWebSnapshot snapshot_;
};

struct TWebConfig {
    TListenAddress Listen;  // a numeric IPv4 address (IPv6 is not served); empty: loopback
    std::vector<TAddressRange> Allow;  // empty: every address
    int MaxConnections = 32;           // worker threads, each serving one connection
    int RequestTimeoutSeconds = 30;    // to read a request and to send each piece of the answer
    int IdleTimeoutSeconds = 10;       // a kept-alive connection waiting for its next request
    std::string WebRoot;               // the page's files; empty: none served
    std::string Archive;               // the SDS archive
    uint64_t DataSelectMaxBytes = uint64_t{1} << 30;  // larger answers are refused with 413
    // The station service reads the metadata files of these stations per request.
    TStationSource Stations;
    std::string StationXmlSource = "digitizer-station";  // the documents' Source
    std::shared_ptr<const TWebSnapshotBox> Snapshot;
    // The archive's spans, for the availability service; none: it answers 503.
    std::shared_ptr<const TArchiveSpans> Spans;
    // SeedLink over WebSocket at /seedlink: hands the SeedLink server one end of a message
    // socket pair for each client (TSeedLinkServer::Adopt), with the client's address as text
    // and as IPv4-mapped bytes; false when refused. Empty: no /seedlink.
    std::function<bool(int fd, const std::string& address, const std::array<uint8_t, 16>& bytes)>
        SeedLink;
};

// The version of the FDSN dataselect web service this server answers as.
inline constexpr char DataSelectVersion[] = "1.1.0";

// The body of an FDSN error answer: "Error CODE: TEXT", the description, the request's URL,
// the time it came and the service's version.
std::string FdsnErrorBody(int status, const std::string& description, const std::string& url,
                          int64_t nowMicroseconds);

// The path below the web root that `uri` (the decoded path of a request) names: nothing for a
// path with a "." or ".." segment, a backslash, a control character, or one not starting '/'.
std::optional<std::string> WebRootRelativePath(const std::string& uri);

class TWebServer {
  public:
    explicit TWebServer(TWebConfig config);
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // Binds and starts the worker threads; an error naming the address when it cannot.
    TResult<void> Start();
    // Every connection closed and the threads ended.
    void Stop();
    // The port it listens on (after Start; for port 0, the one given).
    int Port() const { return port_; }
    const TWebConfig& Config() const { return config_; }

    struct TContext;

  private:
    TWebConfig config_;
    std::unique_ptr<TContext> context_;
    int port_ = 0;
};
