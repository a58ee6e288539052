// INFO answers: XML text carried in 512-byte miniSEED log records (ASCII, encoding 0), each
// after the 8-byte header "SLINFO" + a blank + '*' when more INFO packets follow or a blank on
// the last.
#pragma once

#include <cstdint>
#include <string>

// The INFO packets that carry `xml`, stamped with `nowMicroseconds`.
std::string InfoPackets(const std::string& xml, int64_t nowMicroseconds);

// `text` for an XML attribute value: & < > " and control characters escaped.
std::string XmlEscape(const std::string& text);

// "YYYY/MM/DD hh:mm:ss.ffff", as INFO gives times.
std::string InfoTimeText(int64_t microseconds);
