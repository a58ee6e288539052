// The StationXML document read back with pugixml: the response it states, evaluated here from
// its own poles, zeros and stage gains, against the window's counts-to-volts conversion and the
// ground motion that made the samples; the elements the schema requires; the state-of-health
// channels' units and scales; the orientation of each channel.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <pugixml.hpp>
#include <sstream>

#include "digitizer/stream_format.h"
#include "metadata/station_xml.h"
#include "recording/record_block.h"

namespace {

using TComplex = std::complex<double>;
constexpr double Pi = std::numbers::pi;

// A broadband seismometer, 1500 V/(m/s) at 1 Hz, poles and zeros in rad/s.
TSensor Broadband() {
    TSensor sensor;
    sensor.Description = "Broadband seismometer";
    sensor.InputUnits = "M/S";
    sensor.Sensitivity = 1500;
    sensor.Frequency = 1;
    sensor.Transfer = TPzTransfer::RadiansPerSecond;
    sensor.Poles = {
        {-0.03701, 0.03701}, {-0.03701, -0.03701}, {-251.3, 0}, {-131, 467.3}, {-131, -467.3}};
    sensor.Zeros = {{0, 0}, {0, 0}};
    return sensor;
}

// An accelerometer, 1.02 V/(m/s^2) at 5 Hz, a two-pole low-pass at 100 Hz given in Hz.
TSensor Accelerometer() {
    TSensor sensor;
    sensor.Description = "Accelerometer";
    sensor.InputUnits = "M/S**2";
    sensor.Sensitivity = 1.02;
    sensor.Frequency = 5;
    sensor.Transfer = TPzTransfer::Hertz;
    sensor.Poles = {{-70.7107, 70.7107}, {-70.7107, -70.7107}};
    return sensor;
}

// The sensor's true output in volts per unit of ground motion at `f`, computed here from its
// definition: Sensitivity x |H(f)| / |H(f0)|, H the plain product of the roots.
double TrueVoltsPerUnit(const TSensor& sensor, double f) {
    const auto h = [&](double frequency) {
        const TComplex s(0, (sensor.Transfer == TPzTransfer::Hertz ? 1 : 2 * Pi) * frequency);
        TComplex value = 1;
        for (const TComplex& z : sensor.Zeros) {
            value *= s - z;
        }
        for (const TComplex& p : sensor.Poles) {
            value /= s - p;
        }
        return std::abs(value);
    };
    return sensor.Sensitivity * h(f) / h(sensor.Frequency);
}

TStreamFormat SixChannels(int32_t gainBits) {
    TStreamFormat format;
    format.ChannelCount = 6;
    format.SampleRate = 100;
    format.BytesPerSample = 3;
    format.GainBits = gainBits;
    format.FilterCode = 1;
    return format;
}

TStationEntry Entry(const std::vector<TChannelSetup>& setups,
                    std::optional<TPosition> position = TPosition{47.5, 8.25, 512}) {
    TStationEntry entry;
    entry.Metadata.Network = "XX";
    entry.Metadata.Station = "TEST";
    entry.Configured = position;
    entry.SiteName = "Test vault";
    UpdateEpochs(entry.Metadata.Epochs, setups, 1733650000);
    return entry;
}

pugi::xml_document Parse(const std::string& text) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_string(text.c_str());
    EXPECT_TRUE(parsed) << parsed.description() << "\n" << text;
    return document;
}

double Value(pugi::xml_node node, const char* path) {
    const pugi::xml_node found = node.first_element_by_path(path);
    EXPECT_TRUE(found) << path;
    return found.text().as_double(std::nan(""));
}

pugi::xml_node ChannelOf(const pugi::xml_document& document, const std::string& code) {
    return document.select_node(("//Channel[@code='" + code + "']").c_str()).node();
}

// The response a channel's document states, at `f`: counts per unit of its input, and the
// digitizer's stage alone (counts per volt). The poles-and-zeros stage is evaluated here.
struct TStatedResponse {
    double CountsPerUnit = 1;
    double CountsPerVolt = 0;
    std::string InputUnits;
};

TStatedResponse StatedResponse(pugi::xml_node channel, double f) {
    TStatedResponse stated;
    pugi::xml_node response = channel.child("Response");
    stated.InputUnits =
        response.first_element_by_path("InstrumentSensitivity/InputUnits/Name").text().as_string();
    int expected = 1;
    for (pugi::xml_node stage : response.children("Stage")) {
        EXPECT_EQ(stage.attribute("number").as_int(), expected++);
        double gain = Value(stage, "StageGain/Value");
        if (pugi::xml_node pz = stage.child("PolesZeros")) {
            const bool hertz =
                std::string(pz.child_value("PzTransferFunctionType")) == "LAPLACE (HERTZ)";
            const TComplex s(0, (hertz ? 1 : 2 * Pi) * f);
            TComplex h = Value(pz, "NormalizationFactor");
            for (pugi::xml_node z : pz.children("Zero")) {
                h *= s - TComplex(Value(z, "Real"), Value(z, "Imaginary"));
            }
            for (pugi::xml_node p : pz.children("Pole")) {
                h /= s - TComplex(Value(p, "Real"), Value(p, "Imaginary"));
            }
            gain *= std::abs(h);
        }
        if (std::string(stage.select_node("*/OutputUnits/Name").node().text().as_string()) ==
            "COUNTS") {
            stated.CountsPerVolt = gain;
        }
        stated.CountsPerUnit *= gain;
    }
    return stated;
}

// The amplitude of the sine of frequency f in `samples` (whole cycles), by projection.
double SineAmplitude(const std::vector<double>& samples, double f, double rate) {
    double c = 0, s = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * Pi * f * double(i) / rate;
        c += samples[i] * std::cos(phase);
        s += samples[i] * std::sin(phase);
    }
    return 2 * std::hypot(c, s) / double(samples.size());
}

TEST(StationXmlResponse, GivesTheWindowsVoltsAndTheGroundMotionOfASine) {
    // Channels 2 and 5 at high gain (factor 10), the others at 1.
    TChannelPlan plan;
    plan.Sensors = {Broadband(), Accelerometer()};
    const TStreamFormat format = SixChannels(0b010010);
    const pugi::xml_document document =
        Parse(StationXmlDocument("XX", {Entry(ChannelSetups(plan, format, false))}, "test", 0));
    const char* codes[] = {"HHZ", "HHN", "HHE", "HH1", "HH2", "HH3"};
    for (int c = 0; c < 6; ++c) {
        const TSensor sensor = c < 3 ? Broadband() : Accelerometer();
        const int gain = GainFactorOf(format.GainBits, c);
        for (const double f : {0.2, 1.0, 5.0, 20.0}) {
            SCOPED_TRACE(std::string(codes[c]) + " at " + std::to_string(f) + " Hz");
            // Ground motion that gives about 0.3 V at the converter's input.
            const double ground = 0.3 / gain / TrueVoltsPerUnit(sensor, f);
            const double volts = ground * TrueVoltsPerUnit(sensor, f);
            // The raw words the unit sends (one count is 1 µV / gain, held shifted by 8), the
            // window's conversion of them, and the counts the records carry.
            std::vector<double> windowVolts, counts;
            const int n = int(std::lround(100 / f * std::ceil(f)));  // whole cycles, >= 1 s
            for (int i = 0; i < 4 * n; ++i) {
                const double v = volts * std::sin(2 * Pi * f * i / 100);
                const auto raw = static_cast<int32_t>(std::lround(v * 1e6 * gain) * 256);
                windowVolts.push_back(SampleToMicrovolts(raw, gain) * 1e-6);
                counts.push_back(CountScale(raw, format.BytesPerSample));
            }
            const TStatedResponse stated = StatedResponse(ChannelOf(document, codes[c]), f);
            EXPECT_EQ(stated.InputUnits, sensor.InputUnits);
            const double countAmplitude = SineAmplitude(counts, f, 100);
            EXPECT_NEAR(countAmplitude / stated.CountsPerVolt, SineAmplitude(windowVolts, f, 100),
                        volts * 1e-3);
            EXPECT_NEAR(countAmplitude / stated.CountsPerUnit, ground, ground * 1e-3);
        }
    }
}

TEST(StationXmlResponse, WithoutASensorTheDigitizerAloneInVolts) {
    TStreamFormat format = SixChannels(0b000001);
    for (const int bytes : {3, 4}) {
        format.BytesPerSample = bytes;
        const pugi::xml_document document =
            Parse(StationXmlDocument("XX", {Entry(ChannelSetups({}, format, false))}, "t", 0));
        for (const auto& [code, gain] : {std::pair{"HHZ", 10}, std::pair{"HHN", 1}}) {
            SCOPED_TRACE(std::string(code) + ", " + std::to_string(bytes) + " bytes");
            const pugi::xml_node channel = ChannelOf(document, code);
            const TStatedResponse stated = StatedResponse(channel, 1);
            EXPECT_EQ(stated.InputUnits, "V");
            EXPECT_EQ(channel.child("Response").select_nodes("Stage").size(), 1u);
            // One volt: the raw word of the unit and the counts the record carries for it.
            const auto raw = static_cast<int32_t>(1e6 * gain * 256 / 16);
            EXPECT_NEAR(CountScale(raw, bytes) / stated.CountsPerVolt,
                        SampleToMicrovolts(raw, gain) * 1e-6, 1e-9);
            EXPECT_DOUBLE_EQ(Value(channel, "Response/InstrumentSensitivity/Value"),
                             stated.CountsPerUnit);
        }
    }
}

TEST(StationXmlResponse, SensitivityIsTheProductOfTheStageGainsAtItsFrequency) {
    TChannelPlan plan;
    plan.Sensors = {Broadband(), Accelerometer()};
    const pugi::xml_document document = Parse(
        StationXmlDocument("XX", {Entry(ChannelSetups(plan, SixChannels(4), false))}, "t", 0));
    for (const char* code : {"HHZ", "HHN", "HHE", "HH1", "HH2", "HH3"}) {
        SCOPED_TRACE(code);
        const pugi::xml_node channel = ChannelOf(document, code);
        const double frequency = Value(channel, "Response/InstrumentSensitivity/Frequency");
        double product = 1;
        for (pugi::xml_node stage : channel.child("Response").children("Stage")) {
            EXPECT_DOUBLE_EQ(Value(stage, "StageGain/Frequency"), frequency);
            product *= Value(stage, "StageGain/Value");
        }
        EXPECT_NEAR(Value(channel, "Response/InstrumentSensitivity/Value"), product,
                    product * 1e-12);
        // The normalisation factor makes the poles and zeros 1 there.
        EXPECT_NEAR(StatedResponse(channel, frequency).CountsPerUnit, product, product * 1e-9);
        EXPECT_NE(std::string(channel.first_element_by_path("Response/Stage/Coefficients")
                                  .attribute("name")
                                  .as_string())
                      .find("linear-phase"),
                  std::string::npos);
    }
}

// The elements and attributes FDSN StationXML 1.2 requires of what the document holds, in the
// order its schema's sequences give (paths relative to the node named first).
struct TRequired {
    const char* Node;  // an XPath to every node of the kind
    std::vector<const char*> Children;
    std::vector<const char*> Attributes;
};

const std::vector<TRequired> Required = {
    {"/FDSNStationXML", {"Source", "Created"}, {"schemaVersion"}},
    {"/FDSNStationXML/Network", {}, {"code"}},
    {"//Station", {"Latitude", "Longitude", "Elevation", "Site"}, {"code"}},
    {"//Station/Site", {"Name"}, {}},
    {"//Channel", {"Latitude", "Longitude", "Elevation", "Depth"}, {"code", "locationCode"}},
    {"//InstrumentSensitivity", {"Value", "Frequency", "InputUnits", "OutputUnits"}, {}},
    {"//InputUnits", {"Name"}, {}},
    {"//OutputUnits", {"Name"}, {}},
    {"//Stage", {"StageGain"}, {"number"}},
    {"//StageGain", {"Value", "Frequency"}, {}},
    {"//PolesZeros",
     {"InputUnits", "OutputUnits", "PzTransferFunctionType", "NormalizationFactor",
      "NormalizationFrequency"},
     {}},
    {"//Zero", {"Real", "Imaginary"}, {"number"}},
    {"//Pole", {"Real", "Imaginary"}, {"number"}},
    {"//Coefficients", {"InputUnits", "OutputUnits", "CfTransferFunctionType"}, {}},
    {"//Decimation", {"InputSampleRate", "Factor", "Offset", "Delay", "Correction"}, {}},
    {"//Comment", {"Value"}, {}},
};

// The schema's order of the children that the document writes, per element.
const std::vector<std::pair<const char*, std::vector<std::string>>> Orders = {
    {"/FDSNStationXML", {"Source", "Created", "Network"}},
    {"//Station",
     {"Comment", "Latitude", "Longitude", "Elevation", "Site", "CreationDate", "Channel"}},
    {"//Channel",
     {"Description", "Latitude", "Longitude", "Elevation", "Depth", "Azimuth", "Dip", "Type",
      "SampleRate", "Sensor", "Response"}},
    {"//Response", {"InstrumentSensitivity", "Stage"}},
    {"//Stage", {"PolesZeros", "Coefficients", "Decimation", "StageGain"}},
    {"//PolesZeros",
     {"Description", "InputUnits", "OutputUnits", "PzTransferFunctionType", "NormalizationFactor",
      "NormalizationFrequency", "Zero", "Pole"}},
    {"//Coefficients",
     {"Description", "InputUnits", "OutputUnits", "CfTransferFunctionType", "Numerator"}},
};

TEST(StationXmlDocument, HoldsEveryRequiredElementInTheSchemasOrder) {
    TChannelPlan plan;
    plan.Sensors = {Broadband(), std::nullopt};
    // One station with its position and sensors, one without either.
    const std::string text =
        StationXmlDocument("XX",
                           {Entry(ChannelSetups(plan, SixChannels(0), true)),
                            Entry(ChannelSetups({}, SixChannels(0), false), std::nullopt)},
                           "digitizer-station test", 1733650000);
    const pugi::xml_document document = Parse(text);
    EXPECT_STREQ(document.child("FDSNStationXML").attribute("xmlns").as_string(),
                 "http://www.fdsn.org/xml/station/1");
    EXPECT_STREQ(document.child("FDSNStationXML").attribute("schemaVersion").as_string(), "1.2");
    EXPECT_STREQ(document.first_element_by_path("FDSNStationXML/Created").child_value(),
                 "2024-12-08T09:26:40Z");
    for (const TRequired& required : Required) {
        const pugi::xpath_node_set nodes = document.select_nodes(required.Node);
        EXPECT_FALSE(nodes.empty()) << required.Node;
        for (const pugi::xpath_node& node : nodes) {
            for (const char* child : required.Children) {
                EXPECT_TRUE(node.node().child(child)) << required.Node << " lacks " << child;
            }
            for (const char* attribute : required.Attributes) {
                EXPECT_TRUE(node.node().attribute(attribute))
                    << required.Node << " lacks @" << attribute;
            }
        }
    }
    for (const auto& [path, order] : Orders) {
        for (const pugi::xpath_node& node : document.select_nodes(path)) {
            size_t place = 0;
            for (pugi::xml_node child : node.node().children()) {
                const auto at = std::find(order.begin() + long(place), order.end(), child.name());
                EXPECT_NE(at, order.end()) << path << ": " << child.name() << " out of order";
                place = at == order.end() ? place : size_t(at - order.begin());
            }
        }
    }
    // 6 data channels and 11 of state of health (with the module temperatures), then 6 and 5.
    EXPECT_EQ(document.select_nodes("//Station[@code='TEST']").size(), 2u);
    EXPECT_EQ(document.select_nodes("//Channel").size(), 6u + 11u + 6u + 5u);
}

TEST(StationXmlDocument, AStationWithoutAPositionSaysSo) {
    const pugi::xml_document document = Parse(StationXmlDocument(
        "XX", {Entry(ChannelSetups({}, SixChannels(0), false), std::nullopt)}, "t", 0));
    const pugi::xml_node station = document.first_element_by_path("FDSNStationXML/Network/Station");
    EXPECT_EQ(Value(station, "Latitude"), 0);
    EXPECT_EQ(Value(station, "Longitude"), 0);
    EXPECT_EQ(Value(station, "Elevation"), 0);
    EXPECT_NE(
        std::string(station.first_element_by_path("Comment/Value").child_value()).find("not known"),
        std::string::npos);
    EXPECT_STREQ(station.first_element_by_path("Site/Name").child_value(), "Test vault");

    TStationEntry gps = Entry(ChannelSetups({}, SixChannels(0), false), std::nullopt);
    gps.Metadata.GpsPosition = TPosition{-33.25, -70.5, 820};
    gps.SiteName.clear();
    const pugi::xml_document fromGps = Parse(StationXmlDocument("XX", {gps}, "t", 0));
    const pugi::xml_node located = fromGps.first_element_by_path("FDSNStationXML/Network/Station");
    EXPECT_FALSE(located.child("Comment"));
    EXPECT_EQ(Value(located, "Latitude"), -33.25);
    EXPECT_EQ(Value(located, "Channel/Longitude"), -70.5);
    EXPECT_EQ(Value(located, "Elevation"), 820);
    EXPECT_STREQ(located.first_element_by_path("Site/Name").child_value(), "TEST");
}

TEST(StationXmlDocument, StateOfHealthChannelsCarryTheirUnitsAndScale) {
    const pugi::xml_document document =
        Parse(StationXmlDocument("XX", {Entry(ChannelSetups({}, SixChannels(0), true))}, "t", 0));
    const struct {
        const char* Code;
        const char* Units;
        double CountsPerUnit;
    } cases[] = {{"LEV", "V", 1000},  {"LEC", "A", 1000},   {"LKS", "DEGC", 10},
                 {"LK4", "DEGC", 10}, {"LCS", "COUNTS", 1}, {"LCF", "COUNTS", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        const pugi::xml_node channel = ChannelOf(document, c.Code);
        ASSERT_TRUE(channel);
        EXPECT_STREQ(channel.first_element_by_path("Response/InstrumentSensitivity/InputUnits/Name")
                         .child_value(),
                     c.Units);
        EXPECT_EQ(Value(channel, "Response/InstrumentSensitivity/Value"), c.CountsPerUnit);
        EXPECT_EQ(Value(channel, "SampleRate"), 1);
        EXPECT_STREQ(channel.select_nodes("Type")[1].node().child_value(), "HEALTH");
    }
}

TEST(StationXmlDocument, ChannelsPointByTheirCodeOrTheSensorsSetting) {
    TSensor tilted = Broadband();
    tilted.Azimuths = {10, 100, 0};
    tilted.Dips = {0, 0, -90};
    TChannelPlan plan;
    plan.ChannelCodes = {"", "", "", "HNZ", "HNN", "HNE"};
    plan.Sensors = {tilted, std::nullopt};
    const pugi::xml_document document = Parse(
        StationXmlDocument("XX", {Entry(ChannelSetups(plan, SixChannels(0), false))}, "t", 0));
    const struct {
        const char* Code;
        double Azimuth, Dip;
    } cases[] = {{"HHZ", 10, 0},  {"HHN", 100, 0}, {"HHE", 0, -90},
                 {"HNZ", 0, -90}, {"HNN", 0, 0},   {"HNE", 90, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        EXPECT_EQ(Value(ChannelOf(document, c.Code), "Azimuth"), c.Azimuth);
        EXPECT_EQ(Value(ChannelOf(document, c.Code), "Dip"), c.Dip);
    }
    // By the default codes' orientations 1, 2, 3.
    const struct {
        char Last;
        double Azimuth, Dip;
    } defaults[] = {{'Z', 0, -90}, {'N', 0, 0},  {'E', 90, 0},
                    {'1', 0, 0},   {'2', 90, 0}, {'3', 0, -90}};
    for (const auto& d : defaults) {
        TChannelSetup setup;
        setup.Index = 0;
        setup.Code = std::string("HH") + d.Last;
        EXPECT_EQ(Orientation(setup), std::make_pair(d.Azimuth, d.Dip)) << d.Last;
    }
}

}  // namespace
