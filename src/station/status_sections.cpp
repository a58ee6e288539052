#include "station/status_sections.h"

#include <cstdio>

#include "base/json_text.h"
#include "station/status_file.h"

namespace {

nlohmann::ordered_json Sequence(const std::optional<uint32_t>& value) {
    if (!value) {
        return nullptr;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%06X", *value);
    return text;
}

}  // namespace

std::string SeedLinkStatusJson(const TSeedLinkStatus& s) {
    nlohmann::ordered_json json = {{"listening", s.Listening},
                                   {"listen", s.Listen},
                                   {"ring_packets", s.RingPackets},
                                   {"ring_capacity", s.RingCapacity},
                                   {"first_sequence", Sequence(s.FirstSequence)},
                                   {"last_sequence", Sequence(s.LastSequence)},
                                   {"accepted", s.Accepted},
                                   {"refused", s.Refused},
                                   {"dropped", s.Dropped},
                                   {"handoff_dropped", s.HandOffDropped}};
    nlohmann::ordered_json& clients = json["clients"] = nlohmann::ordered_json::array();
    for (const TSeedLinkClientStatus& c : s.Clients) {
        clients.push_back({{"address", c.Address},
                           {"selection", c.Selection},
                           {"streaming", c.Streaming},
                           {"last_sequence", Sequence(c.LastSequence)},
                           {"packets_sent", c.PacketsSent},
                           {"queued_bytes", c.QueuedBytes},
                           {"queue_capacity", c.QueueCapacity},
                           {"connected_us", c.ConnectedMicroseconds}});
    }
    return JsonText(json);
}

std::string DataLinkStatusJson(const std::string& server, const TDataLinkStatus& s) {
    return JsonText(nlohmann::ordered_json{
        {"server", server},
        {"connected", s.Connected},
        {"sent", s.Sent},
        {"acknowledged", s.Acknowledged},
        {"queued", s.Queued},
        {"dropped", s.Dropped},
        {"last_error", s.LastError},
        {"last_error_us", s.LastError.empty() ? nlohmann::ordered_json()
                                              : nlohmann::ordered_json(s.LastErrorMicroseconds)},
        {"last_error_utc", s.LastError.empty()
                               ? nlohmann::ordered_json()
                               : nlohmann::ordered_json(IsoUtcText(s.LastErrorMicroseconds))}});
}
