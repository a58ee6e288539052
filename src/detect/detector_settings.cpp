#include "detect/detector_settings.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

int ChannelCountOf(uint32_t channels) {
    return std::popcount(channels & 0x3Fu);
}

namespace {

// A channel number 1 to 6 that is the whole of `text`.
std::optional<int> ChannelNumber(std::string_view text) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '6') {
        return std::nullopt;
    }
    return text[0] - '0';
}

}  // namespace

std::optional<uint32_t> ParseChannelList(std::string_view text) {
    uint32_t channels = 0;
    while (true) {
        const size_t stop = text.find_first_of(",+");
        const std::string_view part = text.substr(0, stop);
        const size_t dash = part.find('-');
        const std::optional<int> first = ChannelNumber(part.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : ChannelNumber(part.substr(dash + 1));
        if (!first || !last || *last < *first) {
            return std::nullopt;
        }
        for (int c = *first; c <= *last; ++c) {
            channels |= 1u << (c - 1);
        }
        if (stop == std::string_view::npos) {
            return channels;
        }
        text.remove_prefix(stop + 1);
    }
}

std::string ChannelListText(uint32_t channels) {
    std::string text;
    for (int c = 0; c < 6; ++c) {
        if ((channels >> c & 1u) != 0) {
            text += (text.empty() ? "" : ",") + std::to_string(c + 1);
        }
    }
    return text;
}

TStatus ValidateDetectorSettings(const TDetectorSettings& s) {
    if (s.BandpassOn) {
        // The design at a rate high enough for any band checks the poles and the corners.
        const double rate = std::isfinite(s.Band.HighHz) ? 4 * s.Band.HighHz : 0;
        if (const auto sections = DesignBandpass(s.Band, rate); !sections) {
            return sections.Error();
        }
    }
    if (!(s.StaSeconds > 0) || !(s.LtaSeconds > s.StaSeconds) || !(s.LtaSeconds <= 3600)) {
        return TError{
            "the STA must be longer than 0 s and shorter than the LTA, the LTA at most "
            "3600 s; not STA " +
            Number(s.StaSeconds) + " s, LTA " + Number(s.LtaSeconds) + " s"};
    }
    if (!(s.TriggerOff > 0) || !(s.TriggerOn > s.TriggerOff) || !std::isfinite(s.TriggerOn)) {
        return TError{
            "the trigger-on ratio must be above the trigger-off ratio, which must be "
            "above 0; not on " +
            Number(s.TriggerOn) + ", off " + Number(s.TriggerOff)};
    }
    if ((s.Channels & ~0x3Fu) != 0 || s.Channels == 0) {
        return TError{"the channels taking part must be among 1 to 6, and at least one"};
    }
    if (s.Coincidence < 1 || s.Coincidence > ChannelCountOf(s.Channels)) {
        return TError{"the coincidence must be 1 to the " +
                      std::to_string(ChannelCountOf(s.Channels)) + " channels taking part, not " +
                      std::to_string(s.Coincidence)};
    }
    if (!(s.HoldSeconds >= 0) || !(s.HoldSeconds <= 600)) {
        return TError{"the hold must be 0 to 600 s, not " + Number(s.HoldSeconds) + " s"};
    }
    return {};
}
