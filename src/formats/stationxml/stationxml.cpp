#include "formats/stationxml/stationxml.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

#include "common/utc.h"

namespace zqd::stationxml {

namespace {

// A number as xs:double reads it, in the C locale, as exact as a double holds.
std::string Number(double v) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(15) << v;
    return out.str();
}

// xs:dateTime in UTC, to the microsecond.
std::string Time(std::int64_t ns) { return utc::IsoMicro(ns); }

class Writer {
public:
    void Open(const std::string& tag, const std::string& attributes = {}) {
        Indent();
        out_ += "<" + tag + attributes + ">\n";
        ++depth_;
    }
    void Close(const std::string& tag) {
        --depth_;
        Indent();
        out_ += "</" + tag + ">\n";
    }
    void Leaf(const std::string& tag, const std::string& text, const std::string& attributes = {}) {
        Indent();
        out_ += "<" + tag + attributes + ">" + Escape(text) + "</" + tag + ">\n";
    }
    void UnitsOf(const std::string& tag, const Units& u) {
        Open(tag);
        Leaf("Name", u.name);
        if (!u.description.empty()) Leaf("Description", u.description);
        Close(tag);
    }
    void Comment(const std::string& text) {
        Open("Comment");
        Leaf("Value", text);
        Close("Comment");
    }
    std::string out_;

private:
    void Indent() { out_.append(static_cast<std::size_t>(depth_) * 2, ' '); }
    int depth_ = 0;
};

void WriteStage(Writer& w, const Stage& s, int number) {
    w.Open("Stage", " number=\"" + std::to_string(number) + "\"");
    if (s.kind == Stage::Kind::kPolesZeros) {
        w.Open("PolesZeros");
        if (!s.description.empty()) w.Leaf("Description", s.description);
        w.UnitsOf("InputUnits", s.input);
        w.UnitsOf("OutputUnits", s.output);
        w.Leaf("PzTransferFunctionType", "LAPLACE (RADIANS/SECOND)");
        w.Leaf("NormalizationFactor", Number(s.normalization_factor));
        w.Leaf("NormalizationFrequency", Number(s.frequency));
        const auto roots = [&w](const char* tag, const std::vector<std::complex<double>>& all) {
            for (std::size_t i = 0; i < all.size(); ++i) {
                w.Open(tag, " number=\"" + std::to_string(i) + "\"");
                w.Leaf("Real", Number(all[i].real()));
                w.Leaf("Imaginary", Number(all[i].imag()));
                w.Close(tag);
            }
        };
        roots("Zero", s.zeros);
        roots("Pole", s.poles);
        w.Close("PolesZeros");
    } else {
        w.Open("Coefficients");
        if (!s.description.empty()) w.Leaf("Description", s.description);
        w.UnitsOf("InputUnits", s.input);
        w.UnitsOf("OutputUnits", s.output);
        w.Leaf("CfTransferFunctionType", "DIGITAL");
        w.Close("Coefficients");
    }
    if (s.input_sample_rate) {
        w.Open("Decimation");
        w.Leaf("InputSampleRate", Number(*s.input_sample_rate));
        w.Leaf("Factor", "1");
        w.Leaf("Offset", "0");
        w.Leaf("Delay", "0");
        w.Leaf("Correction", "0");
        w.Close("Decimation");
    }
    w.Open("StageGain");
    w.Leaf("Value", Number(s.gain));
    w.Leaf("Frequency", Number(s.frequency));
    w.Close("StageGain");
    w.Close("Stage");
}

void WriteChannel(Writer& w, const Channel& c) {
    w.Open("Channel", " code=\"" + Escape(c.code) + "\" locationCode=\"" + Escape(c.location) + "\" startDate=\"" +
                          Time(c.start_ns) + "\"");
    for (const auto& text : c.comments) w.Comment(text);
    w.Leaf("Latitude", Number(c.latitude));
    w.Leaf("Longitude", Number(c.longitude));
    w.Leaf("Elevation", Number(c.elevation));
    w.Leaf("Depth", Number(c.depth));
    if (c.azimuth) w.Leaf("Azimuth", Number(*c.azimuth));
    if (c.dip) w.Leaf("Dip", Number(*c.dip));
    for (const auto& t : c.types) w.Leaf("Type", t);
    w.Leaf("SampleRate", Number(c.sample_rate));
    auto equipment = [&](const char* tag, const std::string& description) {
        if (description.empty()) return;
        w.Open(tag);
        w.Leaf("Description", description);
        w.Close(tag);
    };
    equipment("Sensor", c.sensor);
    equipment("DataLogger", c.datalogger);
    if (c.response) {
        const Response& r = *c.response;
        w.Open("Response");
        w.Open("InstrumentSensitivity");
        w.Leaf("Value", Number(r.sensitivity));
        w.Leaf("Frequency", Number(r.frequency));
        w.UnitsOf("InputUnits", r.input);
        w.UnitsOf("OutputUnits", r.output);
        w.Close("InstrumentSensitivity");
        int number = 1;
        for (const Stage& s : r.stages) WriteStage(w, s, number++);
        w.Close("Response");
    }
    w.Close("Channel");
}

}  // namespace

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The length of a well-formed UTF-8 sequence starting here, or 0.
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size()) {
            ++i;
            continue;
        }
        bool whole = true;
        for (std::size_t k = 1; k < n; ++k) whole = whole && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            ++i;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += static_cast<char>(c);
            }
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

std::string ToXml(const Document& doc) {
    Writer w;
    w.out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    w.Open("FDSNStationXML", " xmlns=\"http://www.fdsn.org/xml/station/1\" schemaVersion=\"1.2\"");
    w.Leaf("Source", doc.source);
    if (!doc.module.empty()) w.Leaf("Module", doc.module);
    if (!doc.module_uri.empty()) w.Leaf("ModuleURI", doc.module_uri);
    w.Leaf("Created", Time(doc.created_ns));
    for (const Network& n : doc.networks) {
        w.Open("Network", " code=\"" + Escape(n.code) + "\" startDate=\"" + Time(n.start_ns) + "\"");
        if (!n.description.empty()) w.Leaf("Description", n.description);
        for (const Station& s : n.stations) {
            w.Open("Station", " code=\"" + Escape(s.code) + "\" startDate=\"" + Time(s.start_ns) + "\"");
            for (const auto& text : s.comments) w.Comment(text);
            w.Leaf("Latitude", Number(s.latitude));
            w.Leaf("Longitude", Number(s.longitude));
            w.Leaf("Elevation", Number(s.elevation));
            w.Open("Site");
            w.Leaf("Name", s.site.empty() ? s.code : s.site);
            w.Close("Site");
            w.Leaf("TotalNumberChannels", std::to_string(s.channels.size()));
            w.Leaf("SelectedNumberChannels", std::to_string(s.channels.size()));
            for (const Channel& c : s.channels) WriteChannel(w, c);
            w.Close("Station");
        }
        w.Close("Network");
    }
    w.Close("FDSNStationXML");
    return w.out_;
}

}  // namespace zqd::stationxml
