#include "metadata/station_xml.h"

#include <algorithm>
#include <ctime>
#include <pugixml.hpp>
#include <sstream>

#include "recording/period_files.h"

namespace {

void Text(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
}

void Number(pugi::xml_node parent, const char* name, double value) {
    Text(parent, name, ExactNumber(value));
}

void Units(pugi::xml_node parent, const char* name, const std::string& units) {
    pugi::xml_node node = parent.append_child(name);
    Text(node, "Name", units);
}

void Gain(pugi::xml_node stage, double value, double frequency) {
    pugi::xml_node gain = stage.append_child("StageGain");
    Number(gain, "Value", value);
    Number(gain, "Frequency", frequency);
}

const char* FilterText(int filterCode) {
    return filterCode == 0 ? "minimum-phase" : filterCode == 1 ? "linear-phase" : "unknown-phase";
}

// The sensor's stage: its poles and zeros (none for a flat response), normalised at the
// sensitivity's frequency, and its sensitivity as the stage's gain.
void SensorStage(pugi::xml_node response, const TSensor& sensor, int number) {
    pugi::xml_node stage = response.append_child("Stage");
    stage.append_attribute("number").set_value(number);
    pugi::xml_node pz = stage.append_child("PolesZeros");
    pz.append_attribute("name").set_value("sensor");
    if (!sensor.Description.empty()) {
        Text(pz, "Description", sensor.Description);
    }
    Units(pz, "InputUnits", sensor.InputUnits);
    Units(pz, "OutputUnits", "V");
    Text(pz, "PzTransferFunctionType",
         sensor.Transfer == TPzTransfer::Hertz ? "LAPLACE (HERTZ)" : "LAPLACE (RADIANS/SECOND)");
    Number(pz, "NormalizationFactor", NormalizationFactor(sensor, sensor.Frequency));
    Number(pz, "NormalizationFrequency", sensor.Frequency);
    const auto roots = [&](const char* name, const std::vector<std::complex<double>>& list,
                           size_t first) {
        for (size_t i = 0; i < list.size(); ++i) {
            pugi::xml_node root = pz.append_child(name);
            root.append_attribute("number").set_value(static_cast<unsigned>(first + i));
            Number(root, "Real", list[i].real());
            Number(root, "Imaginary", list[i].imag());
        }
    };
    roots("Zero", sensor.Zeros, 0);
    roots("Pole", sensor.Poles, 0);
    Gain(stage, sensor.Sensitivity, sensor.Frequency);
}

// The digitizer's stage: volts to counts by the channel's gain, its filter named.
void DigitizerStage(pugi::xml_node response, const TChannelSetup& setup, int number,
                    double frequency) {
    pugi::xml_node stage = response.append_child("Stage");
    stage.append_attribute("number").set_value(number);
    pugi::xml_node cf = stage.append_child("Coefficients");
    const std::string filter = FilterText(setup.FilterCode);
    cf.append_attribute("name").set_value(("digitizer, " + filter + " FIR").c_str());
    Text(cf, "Description",
         "24-bit converter at gain factor " + std::to_string(setup.GainFactor) + ", " + filter +
             " decimation filter");
    Units(cf, "InputUnits", "V");
    Units(cf, "OutputUnits", "COUNTS");
    Text(cf, "CfTransferFunctionType", "DIGITAL");
    Number(cf, "Numerator", 1);
    pugi::xml_node decimation = stage.append_child("Decimation");
    Number(decimation, "InputSampleRate", setup.SampleRate);
    Text(decimation, "Factor", "1");
    Text(decimation, "Offset", "0");
    Number(decimation, "Delay", 0);
    Number(decimation, "Correction", 0);
    Gain(stage, DigitizerCountsPerVolt(setup), frequency);
}

const char* SohUnits(TSohKind kind) {
    switch (kind) {
        case TSohKind::Supply:
            return "V";
        case TSohKind::Current:
            return "A";
        case TSohKind::SensorTemp:
        case TSohKind::ModuleTemp:
            return "DEGC";
        case TSohKind::Satellites:
        case TSohKind::GpsFix:
            return "COUNTS";
    }
    return "COUNTS";
}

const char* SohDescription(TSohKind kind) {
    switch (kind) {
        case TSohKind::Supply:
            return "supply voltage, in millivolts";
        case TSohKind::Current:
            return "supply current, in milliamperes";
        case TSohKind::SensorTemp:
            return "sensor temperature, in tenths of a degree Celsius";
        case TSohKind::ModuleTemp:
            return "channel module temperature, in tenths of a degree Celsius";
        case TSohKind::Satellites:
            return "GPS satellites in use";
        case TSohKind::GpsFix:
            return "GPS fix: 1 valid, 0 none";
    }
    return "";
}

void ChannelNode(pugi::xml_node station, const TChannelEpoch& epoch, const TPosition& position,
                 bool withResponse) {
    const TChannelSetup& setup = epoch.Setup;
    pugi::xml_node channel = station.append_child("Channel");
    channel.append_attribute("code").set_value(setup.Code.c_str());
    channel.append_attribute("locationCode").set_value(setup.Location.c_str());
    channel.append_attribute("startDate").set_value(XmlTime(epoch.Start).c_str());
    if (epoch.End) {
        channel.append_attribute("endDate").set_value(XmlTime(*epoch.End).c_str());
    }
    const bool data = setup.Index >= 0;
    if (!data) {
        Text(channel, "Description", SohDescription(setup.Soh));
    }
    Number(channel, "Latitude", position.Latitude);
    Number(channel, "Longitude", position.Longitude);
    Number(channel, "Elevation", position.Elevation);
    Number(channel, "Depth", 0);
    if (data) {
        const auto [azimuth, dip] = Orientation(setup);
        Number(channel, "Azimuth", azimuth);
        Number(channel, "Dip", dip);
    }
    Text(channel, "Type", "CONTINUOUS");
    Text(channel, "Type", data ? "GEOPHYSICAL" : "HEALTH");
    Number(channel, "SampleRate", setup.SampleRate);
    if (data && setup.Sensor && !setup.Sensor->Description.empty()) {
        Text(channel.append_child("Sensor"), "Description", setup.Sensor->Description);
    }
    if (!withResponse) {
        return;
    }
    pugi::xml_node response = channel.append_child("Response");
    pugi::xml_node sensitivity = response.append_child("InstrumentSensitivity");
    Number(sensitivity, "Value", OverallSensitivity(setup));
    if (!data) {
        Number(sensitivity, "Frequency", 0);
        Units(sensitivity, "InputUnits", SohUnits(setup.Soh));
        Units(sensitivity, "OutputUnits", "COUNTS");
        return;
    }
    const double frequency = setup.Sensor ? setup.Sensor->Frequency : 1.0;
    Number(sensitivity, "Frequency", frequency);
    Units(sensitivity, "InputUnits", setup.Sensor ? setup.Sensor->InputUnits : "V");
    Units(sensitivity, "OutputUnits", "COUNTS");
    if (setup.Sensor) {
        SensorStage(response, *setup.Sensor, 1);
        DigitizerStage(response, setup, 2, frequency);
    } else {
        DigitizerStage(response, setup, 1, frequency);
    }
}

}  // namespace

double DigitizerCountsPerVolt(const TChannelSetup& setup) {
    return 1e6 * setup.GainFactor * (setup.BytesPerSample >= 4 ? 256 : 1);
}

double OverallSensitivity(const TChannelSetup& setup) {
    if (setup.Index < 0) {
        switch (setup.Soh) {
            case TSohKind::Supply:
            case TSohKind::Current:
                return 1000;
            case TSohKind::SensorTemp:
            case TSohKind::ModuleTemp:
                return 10;
            case TSohKind::Satellites:
            case TSohKind::GpsFix:
                return 1;
        }
    }
    return DigitizerCountsPerVolt(setup) * (setup.Sensor ? setup.Sensor->Sensitivity : 1.0);
}

std::pair<double, double> Orientation(const TChannelSetup& setup) {
    if (setup.Sensor && setup.Index >= 0) {
        const size_t place = static_cast<size_t>(setup.Index % 3);
        const auto& azimuths = setup.Sensor->Azimuths;
        const auto& dips = setup.Sensor->Dips;
        if (place < azimuths.size() && place < dips.size()) {
            return {azimuths[place], dips[place]};
        }
    }
    switch (setup.Code.empty() ? ' ' : setup.Code.back()) {
        case 'Z':
        case '3':
            return {0, -90};
        case 'E':
        case '2':
            return {90, 0};
        default:
            return {0, 0};
    }
}

std::string RecordingStationXml(const TFileSettings& files, const TStreamFormat& format,
                                int64_t since, const std::string& source, int64_t now) {
    TChannelPlan plan;
    plan.Location = files.Location;
    plan.Soh = false;  // the window records the samples only
    plan.FixedCodes = true;
    for (int c = 0; c < MaxChannels; ++c) {
        plan.ChannelCodes[static_cast<size_t>(c)] = ChannelCode(c);
    }
    TStationEntry entry;
    entry.Metadata.Network = files.Network;
    entry.Metadata.Station = files.Station;
    entry.Metadata.Location = files.Location;
    UpdateEpochs(entry.Metadata.Epochs, ChannelSetups(plan, format, false), since);
    return StationXmlDocument(files.Network, {entry}, source, now);
}

std::string XmlTime(int64_t utcSeconds) {
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string StationXmlDocument(const std::string& network,
                               const std::vector<TStationEntry>& stations,
                               const std::string& source, int64_t created, TStationXmlLevel level) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
    pugi::xml_node root = document.append_child("FDSNStationXML");
    root.append_attribute("xmlns").set_value("http://www.fdsn.org/xml/station/1");
    root.append_attribute("schemaVersion").set_value("1.2");
    Text(root, "Source", source);
    Text(root, "Created", XmlTime(created));
    pugi::xml_node net = root.append_child("Network");
    net.append_attribute("code").set_value(network.c_str());
    for (const TStationEntry& entry : stations) {
        if (level == TStationXmlLevel::Network) {
            break;
        }
        const TStationMetadata& metadata = entry.Metadata;
        pugi::xml_node station = net.append_child("Station");
        station.append_attribute("code").set_value(metadata.Station.c_str());
        int64_t start = 0;
        std::optional<int64_t> end;
        bool open = metadata.Epochs.empty();
        for (size_t i = 0; i < metadata.Epochs.size(); ++i) {
            const TChannelEpoch& epoch = metadata.Epochs[i];
            start = i == 0 ? epoch.Start : std::min(start, epoch.Start);
            open = open || !epoch.End;
            if (epoch.End) {
                end = std::max(end.value_or(*epoch.End), *epoch.End);
            }
        }
        if (!metadata.Epochs.empty()) {
            station.append_attribute("startDate").set_value(XmlTime(start).c_str());
            if (!open && end) {
                station.append_attribute("endDate").set_value(XmlTime(*end).c_str());
            }
        }
        const std::optional<TPosition> position = PositionOf(entry);
        if (!position) {
            pugi::xml_node comment = station.append_child("Comment");
            Text(comment, "Value",
                 "Position not known: none is configured and the unit's GPS has not given a "
                 "steady fix; latitude, longitude and elevation are 0.");
        }
        const TPosition where = position.value_or(TPosition{});
        Number(station, "Latitude", where.Latitude);
        Number(station, "Longitude", where.Longitude);
        Number(station, "Elevation", where.Elevation);
        Text(station.append_child("Site"), "Name",
             entry.SiteName.empty() ? metadata.Station : entry.SiteName);
        if (!metadata.Epochs.empty()) {
            Text(station, "CreationDate", XmlTime(start));
        }
        for (const TChannelEpoch& epoch : metadata.Epochs) {
            if (level == TStationXmlLevel::Station) {
                break;
            }
            ChannelNode(station, epoch, where, level == TStationXmlLevel::Response);
        }
    }
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

std::optional<TPosition> PositionOf(const TStationEntry& entry) {
    return entry.Configured ? entry.Configured : entry.Metadata.GpsPosition;
}

std::vector<TStationEntry> LoadStationEntries(const TStationSource& source,
                                              std::vector<std::string>& notes) {
    std::vector<TStationMetadata> stations;
    if (source.Station.empty()) {
        stations = LoadArchiveMetadata(source.Archive, source.Network, source.Location, notes);
    } else {
        const std::string path =
            MetadataPath(source.Archive, source.Network, source.Station, source.Location);
        TResult<std::optional<TStationMetadata>> loaded = LoadMetadata(path);
        if (!loaded) {
            notes.push_back(loaded.Error().Text);
        } else if (*loaded) {
            stations.push_back(std::move(**loaded));
        } else {
            TStationMetadata empty;
            empty.Network = source.Network;
            empty.Station = source.Station;
            empty.Location = source.Location;
            stations.push_back(std::move(empty));
        }
    }
    std::vector<TStationEntry> entries;
    for (TStationMetadata& metadata : stations) {
        if (metadata.Epochs.empty()) {
            notes.push_back("station " + metadata.Station + " has recorded nothing into " +
                            source.Archive + " yet: it has no channels");
        }
        TStationEntry entry;
        entry.Metadata = std::move(metadata);
        entry.SiteName = source.SiteName;
        entry.Configured = source.Configured;
        entries.push_back(std::move(entry));
    }
    if (entries.empty()) {
        notes.push_back("no station of network " + source.Network + " has recorded into " +
                        source.Archive + " yet");
    }
    return entries;
}
