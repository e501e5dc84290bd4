// Scenario files of the hxsim executable.
#include "sim/program/scenario.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include <fmt/format.h>
#include <json/json.h>

#include "sim/net/cluster.h"
#include "sim/program/options.h"

namespace hxsim {
namespace {

std::string dashed(std::string key)
{
    std::replace(key.begin(), key.end(), '_', '-');
    return key;
}

std::string valueText(const Json::Value& value)
{
    if (value.isString()) {
        return value.asString();
    }
    if (value.isNumeric()) {
        std::string text = value.toStyledString();
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        return text;
    }
    return "<" + value.toStyledString() + ">";
}

std::string applyFaults(FaultConfig& faults, const Json::Value& object)
{
    if (!object.isObject()) {
        return "\"faults\" must be an object";
    }
    for (const std::string& key : object.getMemberNames()) {
        const std::string name = dashed(key);
        const Json::Value& value = object[key];
        if (name == "mute" || name == "wrong-manufacturer" || name == "old-firmware") {
            if (!value.isBool()) {
                return fmt::format("fault \"{}\" must be true or false", key);
            }
            (name == "mute"                 ? faults.mute
             : name == "wrong-manufacturer" ? faults.wrongManufacturer
                                            : faults.oldFirmware) = value.asBool();
        } else if (name == "vanish-at" || name == "vanish-for") {
            CameraConfig holder;
            holder.faults = faults;
            if (std::string problem = applySetting(holder, name, valueText(value)); !problem.empty()) {
                return problem;
            }
            faults = holder.faults;
        } else if (value.isObject()) {
            for (const std::string& kind : value.getMemberNames()) {
                const std::string setting = fmt::format("{}.{}={}", key, kind, valueText(value[kind]));
                if (std::string problem = applyFault(faults, setting); !problem.empty()) {
                    return problem;
                }
            }
        } else {
            return fmt::format("unknown fault \"{}\"", key);
        }
    }
    return {};
}

std::string applyObject(CameraConfig& config, const Json::Value& object)
{
    if (!object.isObject()) {
        return "camera settings must be an object";
    }
    for (const std::string& key : object.getMemberNames()) {
        const Json::Value& value = object[key];
        std::string problem;
        if (key == "faults") {
            problem = applyFaults(config.faults, value);
        } else if (key == "broadcast") {
            if (!value.isBool()) {
                return "\"broadcast\" must be true or false";
            }
            config.hearBroadcast = value.asBool();
        } else {
            problem = applySetting(config, dashed(key), valueText(value));
        }
        if (!problem.empty()) {
            return fmt::format("\"{}\": {}", key, problem);
        }
    }
    return {};
}

} // namespace

std::string parseScenario(const std::string& text, const CameraConfig& base, std::vector<CameraConfig>& cameras)
{
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        return "scenario is not valid JSON: " + errors;
    }
    if (!root.isObject()) {
        return "scenario must be a JSON object";
    }
    for (const std::string& key : root.getMemberNames()) {
        if (key != "defaults" && key != "cameras") {
            return fmt::format("unknown scenario key \"{}\" (defaults, cameras)", key);
        }
    }
    CameraConfig first = base;
    if (root.isMember("defaults")) {
        if (std::string problem = applyObject(first, root["defaults"]); !problem.empty()) {
            return "defaults: " + problem;
        }
    }
    const Json::Value& list = root["cameras"];
    const bool counted = list.isUInt() && list.asUInt() >= 1 && list.asUInt() <= 250;
    if (!counted && !(list.isArray() && !list.empty() && list.size() <= 250)) {
        return "\"cameras\" must be a count from 1 to 250 or a list of 1 to 250 camera objects";
    }
    cameras = Cluster::numbered(first, counted ? list.asUInt() : list.size());
    for (Json::ArrayIndex i = 0; !counted && i < list.size(); ++i) {
        if (std::string problem = applyObject(cameras[i], list[i]); !problem.empty()) {
            return fmt::format("camera {}: {}", i + 1, problem);
        }
    }
    return {};
}

std::string loadScenario(const std::string& path, const CameraConfig& base, std::vector<CameraConfig>& cameras)
{
    std::ifstream file(path);
    if (!file) {
        return fmt::format("cannot read scenario file '{}'", path);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parseScenario(text.str(), base, cameras);
}

} // namespace hxsim
