#include "metadata/station_metadata.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "base/files.h"
#include "base/json_text.h"

using TJson = nlohmann::json;

namespace {

constexpr std::pair<TSohKind, const char*> SohNames[] = {
    {TSohKind::Supply, "supply"},          {TSohKind::Current, "current"},
    {TSohKind::SensorTemp, "sensor-temp"}, {TSohKind::ModuleTemp, "module-temp"},
    {TSohKind::Satellites, "satellites"},  {TSohKind::GpsFix, "gps-fix"},
};

const char* SohName(TSohKind kind) {
    for (const auto& [k, name] : SohNames) {
        if (k == kind) {
            return name;
        }
    }
    return "supply";
}

TJson RootsJson(const std::vector<std::complex<double>>& roots) {
    TJson list = TJson::array();
    for (const std::complex<double>& root : roots) {
        list.push_back({root.real(), root.imag()});
    }
    return list;
}

std::vector<std::complex<double>> RootsOf(const TJson& list) {
    std::vector<std::complex<double>> roots;
    for (const TJson& root : list) {
        roots.emplace_back(root.at(0).get<double>(), root.at(1).get<double>());
    }
    return roots;
}

TJson SensorJson(const TSensor& sensor) {
    return {{"description", sensor.Description},
            {"units", sensor.InputUnits},
            {"sensitivity", sensor.Sensitivity},
            {"frequency", sensor.Frequency},
            {"transfer", sensor.Transfer == TPzTransfer::Hertz ? "hz" : "rad"},
            {"poles", RootsJson(sensor.Poles)},
            {"zeros", RootsJson(sensor.Zeros)},
            {"azimuths", sensor.Azimuths},
            {"dips", sensor.Dips}};
}

TSensor SensorOf(const TJson& json) {
    TSensor sensor;
    sensor.Description = json.at("description").get<std::string>();
    sensor.InputUnits = json.at("units").get<std::string>();
    sensor.Sensitivity = json.at("sensitivity").get<double>();
    sensor.Frequency = json.at("frequency").get<double>();
    sensor.Transfer = json.at("transfer").get<std::string>() == "hz"
                          ? TPzTransfer::Hertz
                          : TPzTransfer::RadiansPerSecond;
    sensor.Poles = RootsOf(json.at("poles"));
    sensor.Zeros = RootsOf(json.at("zeros"));
    sensor.Azimuths = json.at("azimuths").get<std::vector<double>>();
    sensor.Dips = json.at("dips").get<std::vector<double>>();
    return sensor;
}

TJson EpochJson(const TChannelEpoch& epoch) {
    const TChannelSetup& s = epoch.Setup;
    TJson json = {{"location", s.Location},
                  {"code", s.Code},
                  {"start", epoch.Start},
                  {"rate", s.SampleRate},
                  {"index", s.Index}};
    if (epoch.End) {
        json["end"] = *epoch.End;
    }
    if (s.Index < 0) {
        json["soh"] = SohName(s.Soh);
    } else {
        json["gain"] = s.GainFactor;
        json["bytes"] = s.BytesPerSample;
        json["filter"] = s.FilterCode;
        if (s.Sensor) {
            json["sensor"] = SensorJson(*s.Sensor);
        }
    }
    return json;
}

TChannelEpoch EpochOf(const TJson& json) {
    TChannelEpoch epoch;
    TChannelSetup& s = epoch.Setup;
    s.Location = json.at("location").get<std::string>();
    s.Code = json.at("code").get<std::string>();
    s.SampleRate = json.at("rate").get<double>();
    s.Index = json.at("index").get<int>();
    epoch.Start = json.at("start").get<int64_t>();
    if (json.contains("end")) {
        epoch.End = json.at("end").get<int64_t>();
    }
    if (s.Index < 0) {
        const std::string name = json.at("soh").get<std::string>();
        const auto found = std::find_if(std::begin(SohNames), std::end(SohNames),
                                        [&](const auto& entry) { return name == entry.second; });
        if (found == std::end(SohNames)) {
            throw std::invalid_argument("unknown state-of-health stream '" + name + "'");
        }
        s.Soh = found->first;
    } else {
        s.GainFactor = json.at("gain").get<int>();
        s.BytesPerSample = json.at("bytes").get<int>();
        s.FilterCode = json.at("filter").get<int>();
        if (json.contains("sensor")) {
            s.Sensor = SensorOf(json.at("sensor"));
        }
    }
    return epoch;
}

// Metres between two positions along the ground (a sphere's, small distances).
double HorizontalMetres(const TPosition& a, const TPosition& b) {
    constexpr double EarthRadius = 6371000;
    constexpr double Radians = std::numbers::pi / 180;
    const double north = (a.Latitude - b.Latitude) * Radians * EarthRadius;
    double east = a.Longitude - b.Longitude;
    east -= 360 * std::round(east / 360);
    east *= Radians * EarthRadius * std::cos(a.Latitude * Radians);
    return std::hypot(north, east);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

std::vector<TChannelSetup> ChannelSetups(const TChannelPlan& plan, const TStreamFormat& format,
                                         bool moduleTemperatures) {
    std::vector<TChannelSetup> setups;
    if (format.ChannelCount <= 0 || format.SampleRate <= 0) {
        return setups;
    }
    std::vector<TStreamCode> codes;
    if (plan.FixedCodes) {
        for (int c = 0; c < format.ChannelCount && c < MaxChannels; ++c) {
            codes.push_back({plan.Location, plan.ChannelCodes[static_cast<size_t>(c)]});
        }
    } else {
        codes = DataStreamCodes(plan.ChannelCodes, plan.Location, format.ChannelCount,
                                format.SampleRate);
    }
    for (int c = 0; c < static_cast<int>(codes.size()); ++c) {
        TChannelSetup setup;
        setup.Location = codes[static_cast<size_t>(c)].Location;
        setup.Code = codes[static_cast<size_t>(c)].Channel;
        setup.Index = c;
        setup.SampleRate = format.SampleRate;
        setup.GainFactor = GainFactorOf(format.GainBits, c);
        setup.BytesPerSample = format.BytesPerSample;
        setup.FilterCode = format.FilterCode;
        setup.Sensor = plan.Sensors[c < 3 ? 0 : 1];
        setups.push_back(std::move(setup));
    }
    if (plan.Soh) {
        for (const TSohStream& stream : SohStreams(format.ChannelCount, moduleTemperatures)) {
            TChannelSetup setup;
            setup.Location = plan.Location;
            setup.Code = stream.Channel;
            setup.Soh = stream.Kind;
            setup.SampleRate = 1;  // one reading per block
            setups.push_back(std::move(setup));
        }
    }
    return setups;
}

bool UpdateEpochs(std::vector<TChannelEpoch>& epochs, const std::vector<TChannelSetup>& now,
                  int64_t time) {
    bool changed = false;
    std::vector<bool> continued(now.size(), false);
    for (TChannelEpoch& epoch : epochs) {
        if (epoch.End) {
            continue;
        }
        const auto same = std::find(now.begin(), now.end(), epoch.Setup);
        if (same != now.end() && !continued[size_t(same - now.begin())]) {
            continued[size_t(same - now.begin())] = true;
        } else {
            epoch.End = std::max(time, epoch.Start);
            changed = true;
        }
    }
    for (size_t i = 0; i < now.size(); ++i) {
        if (!continued[i]) {
            epochs.push_back({now[i], time, std::nullopt});
            changed = true;
        }
    }
    return changed;
}

std::optional<TPosition> PositionOf(const TGpsInfo& gps) {
    const bool north = gps.LatHemisphere == 'N', south = gps.LatHemisphere == 'S';
    const bool east = gps.LonHemisphere == 'E', west = gps.LonHemisphere == 'W';
    if (!gps.Present || !gps.FixValid || !(north || south) || !(east || west)) {
        return std::nullopt;
    }
    TPosition position;
    position.Latitude = (gps.LatDegrees + gps.LatMinutes / 60) * (south ? -1 : 1);
    position.Longitude = (gps.LonDegrees + gps.LonMinutes / 60) * (west ? -1 : 1);
    position.Elevation = gps.Altitude;
    if (std::abs(position.Latitude) > 90 || std::abs(position.Longitude) > 180 ||
        (position.Latitude == 0 && position.Longitude == 0)) {
        return std::nullopt;
    }
    return position;
}

bool TPositionFixes::Add(const TPosition& fix) {
    if (steady_) {
        return false;
    }
    fixes_.push_back(fix);
    if (fixes_.size() > SteadyFixes) {
        fixes_.erase(fixes_.begin());
    }
    if (fixes_.size() < SteadyFixes) {
        return false;
    }
    std::vector<double> latitudes, longitudes, elevations;
    for (const TPosition& p : fixes_) {
        latitudes.push_back(p.Latitude);
        longitudes.push_back(p.Longitude);
        elevations.push_back(p.Elevation);
    }
    const TPosition median{Median(latitudes), Median(longitudes), Median(elevations)};
    const bool steady = std::all_of(fixes_.begin(), fixes_.end(), [&](const TPosition& p) {
        return HorizontalMetres(p, median) <= SteadyMetres;
    });
    if (steady) {
        steady_ = median;
        fixes_.clear();
    }
    return steady;
}

std::string MetadataPath(const std::string& archive, const std::string& network,
                         const std::string& station, const std::string& location) {
    return archive + "/metadata/" + network + "." + station + "." + location + ".json";
}

std::string MetadataJson(const TStationMetadata& metadata) {
    TJson json = {{"network", metadata.Network},
                  {"station", metadata.Station},
                  {"location", metadata.Location}};
    if (metadata.GpsPosition) {
        json["gps_position"] = {{"latitude", metadata.GpsPosition->Latitude},
                                {"longitude", metadata.GpsPosition->Longitude},
                                {"elevation", metadata.GpsPosition->Elevation}};
    }
    json["epochs"] = TJson::array();
    for (const TChannelEpoch& epoch : metadata.Epochs) {
        json["epochs"].push_back(EpochJson(epoch));
    }
    return JsonText(json, 1) + "\n";
}

TResult<TStationMetadata> ParseMetadataJson(const std::string& text) {
    try {
        const TJson json = TJson::parse(text);
        TStationMetadata metadata;
        metadata.Network = json.at("network").get<std::string>();
        metadata.Station = json.at("station").get<std::string>();
        metadata.Location = json.at("location").get<std::string>();
        if (json.contains("gps_position")) {
            const TJson& p = json.at("gps_position");
            metadata.GpsPosition =
                TPosition{p.at("latitude").get<double>(), p.at("longitude").get<double>(),
                          p.at("elevation").get<double>()};
        }
        for (const TJson& epoch : json.at("epochs")) {
            metadata.Epochs.push_back(EpochOf(epoch));
        }
        return metadata;
    } catch (const std::exception& e) {
        return TError{std::string("not a station metadata file: ") + e.what()};
    }
}

TResult<std::optional<TStationMetadata>> LoadMetadata(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return std::optional<TStationMetadata>();
        }
        return SystemError(path, errno);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return TError{path + ": cannot be read"};
    }
    std::ostringstream text;
    text << in.rdbuf();
    TResult<TStationMetadata> metadata = ParseMetadataJson(text.str());
    if (!metadata) {
        return TError{path + ": " + metadata.Error().Text};
    }
    return std::optional<TStationMetadata>(std::move(*metadata));
}

TStatus SaveMetadata(const std::string& path, const TStationMetadata& metadata) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return SystemError(folder, errno);
    }
    return ReplaceFileDurably(path, MetadataJson(metadata));
}

std::vector<TStationMetadata> LoadArchiveMetadata(const std::string& archive,
                                                  const std::string& network,
                                                  const std::string& location,
                                                  std::vector<std::string>& errors) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(archive + "/metadata", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string suffix = "." + location + ".json";
        if (name.starts_with(network + ".") && name.ends_with(suffix) &&
            name.size() > network.size() + 1 + suffix.size() &&
            name.find('.', network.size() + 1) == name.size() - suffix.size()) {
            paths.push_back(it->path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<TStationMetadata> stations;
    for (const std::string& path : paths) {
        TResult<std::optional<TStationMetadata>> loaded = LoadMetadata(path);
        if (!loaded) {
            errors.push_back(loaded.Error().Text);
        } else if (*loaded) {
            stations.push_back(std::move(**loaded));
        }
    }
    return stations;
}
