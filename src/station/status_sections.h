// The network sections of digitizer-station's status file, as JSON objects on one line:
//   "seedlink": {listening, listen, ring_packets, ring_capacity, first_sequence,
//                last_sequence, accepted, refused, dropped, handoff_dropped,
//                clients: [{address, selection, streaming, last_sequence, packets_sent,
//                           queued_bytes, queue_capacity, connected_us}, ...]}
//   "datalink": {server, connected, sent, acknowledged, queued, dropped, last_error}
// Sequence numbers are six hexadecimal digits in a string ("0004AF"), null when none.
#pragma once

#include <string>

#include "datalink/datalink_client.h"
#include "seedlink/seedlink_server.h"

std::string SeedLinkStatusJson(const TSeedLinkStatus& status);
// `server`: the DataLink server as configured.
std::string DataLinkStatusJson(const std::string& server, const TDataLinkStatus& status);
