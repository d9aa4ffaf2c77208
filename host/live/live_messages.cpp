#include "host/live/live_messages.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "host/analysis/host_sample.h"

namespace torva::host::live {

namespace {

// Builds one JSON object; keys and texts are escaped, numbers that are not finite become null.
class Json {
 public:
  Json& Key(const char* key) {
    Separate();
    Quoted(key);
    out_ << ':';
    fresh_ = true;
    return *this;
  }
  Json& Text(const std::string& text) {
    Separate();
    Quoted(text);
    return *this;
  }
  Json& Number(double value) {
    Separate();
    if (!std::isfinite(value)) {
      out_ << "null";
      return *this;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    out_ << text;
    return *this;
  }
  Json& Integer(std::int64_t value) {
    Separate();
    out_ << value;
    return *this;
  }
  Json& Bool(bool value) {
    Separate();
    out_ << (value ? "true" : "false");
    return *this;
  }
  Json& Null() {
    Separate();
    out_ << "null";
    return *this;
  }
  Json& Open(char bracket) {
    Separate();
    out_ << bracket;
    fresh_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    out_ << bracket;
    fresh_ = false;
    return *this;
  }
  std::string Done() const { return out_.str(); }

 private:
  void Quoted(const std::string& text) {
    out_ << '"';
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out_ << '\\' << c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        out_ << escaped;
      } else {
        out_ << c;
      }
    }
    out_ << '"';
  }
  // A comma before every element but the first of an object or array, and none after a key.
  void Separate() {
    if (!fresh_) out_ << ',';
    fresh_ = false;
  }

  std::ostringstream out_;
  bool fresh_ = true;
};

void PlateState(Json& json, const LivePlate& plate, const PlateReading& reading) {
  json.Open('{').Key("name").Text(plate.name).Key("connected").Bool(plate.connected);
  const PlateSample sample = reading.sample.value_or(PlateSample{});
  const analysis::HostSample host = analysis::ToHostSample(sample);
  json.Key("Fx").Number(sample[0]).Key("Fy").Number(sample[1]).Key("Fz").Number(sample[2]);
  json.Key("Fz_min").Number(reading.fzMin.value_or(sample[kFzIndex]));
  json.Key("Fz_max").Number(reading.fzMax.value_or(sample[kFzIndex]));
  const analysis::Vector3 force = analysis::LabForce(host, plate.placement);
  json.Key("Fx_lab").Number(force[0]).Key("Fy_lab").Number(force[1]);
  const bool loaded = reading.sample && analysis::Loaded(host);
  if (loaded) {
    const analysis::Vector3 cop = analysis::LabCop(host, plate.placement);
    json.Key("Cx").Number(cop[0] / 1000).Key("Cy").Number(cop[1] / 1000);
  } else {
    json.Key("Cx").Null().Key("Cy").Null();
  }
  json.Key("loaded").Bool(loaded).Close('}');
}

}  // namespace

std::string LayoutMessage(const LiveLayout& layout) {
  Json json;
  json.Open('{').Key("type").Text("layout").Key("rate").Number(layout.rate);
  json.Key("plates").Open('[');
  for (const LivePlate& plate : layout.plates) {
    json.Open('{').Key("name").Text(plate.name).Key("connected").Bool(plate.connected);
    json.Key("length_m").Number(plate.shape.lengthM).Key("width_m").Number(plate.shape.widthM);
    json.Key("x_mm").Number(plate.placement.xMm).Key("y_mm").Number(plate.placement.yMm);
    json.Key("z_mm").Number(plate.placement.zMm);
    json.Key("rotation_deg").Number(plate.placement.rotationDeg).Close('}');
  }
  return json.Close(']').Close('}').Done();
}

std::string StateMessage(const LiveTick& tick, std::uint64_t lostMessages, std::size_t clients) {
  Json json;
  json.Open('{').Key("type").Text("state").Key("frame");
  if (tick.view.frame) {
    json.Integer(*tick.view.frame);
  } else {
    json.Null();
  }
  const double rate = tick.layout ? tick.layout->rate : 0;
  json.Key("time_s").Number(tick.view.frame && rate > 0 ? *tick.view.frame / rate : 0);
  json.Key("plates").Open('[');
  if (tick.layout) {
    for (std::size_t plate = 0;
         plate < tick.layout->plates.size() && plate < tick.view.plates.size(); ++plate) {
      PlateState(json, tick.layout->plates[plate], tick.view.plates[plate]);
    }
  }
  json.Close(']');
  json.Key("status").Open('{').Key("rate").Number(rate);
  json.Key("frames").Integer(static_cast<std::int64_t>(tick.view.frames));
  json.Key("missing").Integer(static_cast<std::int64_t>(tick.view.missing));
  json.Key("drops").Integer(static_cast<std::int64_t>(tick.view.dropped));
  json.Key("lost_messages").Integer(static_cast<std::int64_t>(lostMessages));
  json.Key("clients").Integer(static_cast<std::int64_t>(clients));
  json.Key("delay_ms");
  if (tick.view.newestArrival) {
    json.Number(std::chrono::duration<double, std::milli>(tick.taken - *tick.view.newestArrival)
                    .count());
  } else {
    json.Null();
  }
  json.Close('}');
  json.Key("recording").Open('{').Key("active").Bool(tick.recording.active);
  if (tick.recording.active) {
    json.Key("trial").Text(tick.recording.trial);
    json.Key("seconds").Number(tick.recording.seconds);
  }
  return json.Close('}').Close('}').Done();
}

std::string TrialsMessage(const std::string& folder, const std::vector<std::string>& plates,
                          const std::vector<TrialRecord>& trials) {
  Json json;
  json.Open('{').Key("type").Text("trials").Key("folder").Text(folder).Key("trials").Open('[');
  for (const TrialRecord& trial : trials) {
    json.Open('{').Key("name").Text(trial.name).Key("seconds").Number(trial.seconds);
    json.Key("frames").Integer(static_cast<std::int64_t>(trial.frames));
    json.Key("first_frame");
    trial.firstFrame ? json.Integer(*trial.firstFrame) : json.Null();
    json.Key("last_frame");
    trial.lastFrame ? json.Integer(*trial.lastFrame) : json.Null();
    json.Key("peak_Fz").Open('[');
    for (std::size_t plate = 0; plate < trial.peakFz.size() && plate < plates.size(); ++plate)
      json.Open('{').Key("name").Text(plates[plate]).Key("value").Number(trial.peakFz[plate]).Close('}');
    json.Close(']').Key("files").Open('[');
    for (const std::string& file : trial.files) json.Text(file);
    json.Close(']').Close('}');
  }
  return json.Close(']').Close('}').Done();
}

std::string NoticeMessage(bool error, const std::string& text) {
  Json json;
  json.Open('{').Key("type").Text("notice").Key("level").Text(error ? "error" : "info");
  return json.Key("text").Text(text).Close('}').Done();
}

std::optional<LiveCommand> ParseCommand(const std::string& text) {
  static const std::pair<const char*, CommandKind> kCommands[] = {
      {"zero", CommandKind::kZero},     {"blink", CommandKind::kBlink},
      {"record", CommandKind::kRecord}, {"stop", CommandKind::kStop},
      {"rescan", CommandKind::kRescan}, {"quit", CommandKind::kQuit}};
  boost::property_tree::ptree tree;
  try {
    std::istringstream in(text);
    boost::property_tree::read_json(in, tree);
  } catch (const boost::property_tree::json_parser_error&) {
    return std::nullopt;
  }
  const auto name = tree.get_optional<std::string>("command");
  if (!name) return std::nullopt;
  for (const auto& [word, kind] : kCommands) {
    if (*name != word) continue;
    LiveCommand command{kind, {}};
    if (kind == CommandKind::kBlink) {
      const auto plate = tree.get_optional<std::string>("plate");
      if (!plate || plate->empty()) return std::nullopt;
      command.plate = *plate;
    }
    return command;
  }
  return std::nullopt;
}

}  // namespace torva::host::live
