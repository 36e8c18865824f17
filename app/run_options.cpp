// Command-line parsing for shadow_volume. Every value is checked completely
// (no trailing characters, no overflow) so a typo is a usage error, never a
// silently different run.
#include "app/run_options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr uint32_t kMaxWindowSide = 16384;  // pixels; larger than any GL surface on offer

// A decimal number in [minimum, 2^32 - 1]; false for anything else.
bool ParseCount(const std::string& text, uint32_t minimum, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > 0xFFFFFFFFull || number < minimum) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// A decimal number from 0 to a million, nothing after it: seconds, a radius.
bool ParseDecimal(const std::string& text, double* value) {
  if (text.empty() || text.size() > 32 || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
    return false;
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(number) || number < 0 || number > 1e6)
    return false;
  *value = number;
  return true;
}

// A virtual-key number, decimal or 0x-prefixed hex, in 1..254.
bool ParseVirtualKeyNumber(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 4) return false;
  uint32_t number = 0;
  for (char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    number = number * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
  }
  if (number < 1 || number > 254) return false;
  *value = number;
  return true;
}

struct NamedKey {
  const char* name;
  WPARAM virtualKey;
};
constexpr NamedKey kNamedKeys[] = {
    {"UP", VK_UP},        {"DOWN", VK_DOWN},     {"LEFT", VK_LEFT},     {"RIGHT", VK_RIGHT},
    {"HOME", VK_HOME},    {"END", VK_END},       {"DELETE", VK_DELETE}, {"PAGEDOWN", VK_NEXT},
    {"PAGEUP", VK_PRIOR}, {"INSERT", VK_INSERT}, {"TAB", VK_TAB},       {"ESCAPE", VK_ESCAPE},
    {"S", 'S'},           {"V", 'V'},            {"R", 'R'},            {"P", 'P'},
    {"H", 'H'},           {"F1", VK_F1},         {"F11", VK_F11},       {"F12", VK_F12},
    {"SPACE", VK_SPACE},  {"LBRACKET", VK_OEM_4}, {"RBRACKET", VK_OEM_6}, {"COMMA", VK_OEM_COMMA},
    {"PERIOD", VK_OEM_PERIOD}, {"PLUS", VK_OEM_PLUS}, {"MINUS", VK_OEM_MINUS},
    {"T", 'T'},
};

constexpr int32_t kMaxScriptedDrag = 10000;   // pixels each way
constexpr int32_t kMaxScriptedWheel = 1000;   // notches each way

// A whole number, optionally signed, in [-limit, limit].
bool ParseSigned(const std::string& text, int32_t limit, int32_t* value) {
  const bool negative = !text.empty() && (text[0] == '-' || text[0] == '+');
  uint32_t magnitude = 0;
  if (!ParseCount(negative ? text.substr(1) : text, 0, &magnitude) ||
      magnitude > static_cast<uint32_t>(limit))
    return false;
  *value = static_cast<int32_t>(magnitude) * (text[0] == '-' ? -1 : 1);
  return true;
}

// The mouse and drop items' ACTION:REST after the frame; false with `why`
// when the action is one of them but REST is wrong, and `known` false when
// the action is none of them.
bool ParseViewerItem(const std::string& action, const std::string& rest, ScriptedKey* key,
                     bool* known, std::string* why) {
  *known = true;
  if (strcasecmp(action.c_str(), "drag") == 0 || strcasecmp(action.c_str(), "rdrag") == 0) {
    key->kind = strcasecmp(action.c_str(), "drag") == 0 ? ScriptedKind::kDrag
                                                         : ScriptedKind::kRightDrag;
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || !ParseSigned(rest.substr(0, colon), kMaxScriptedDrag, &key->dx) ||
        !ParseSigned(rest.substr(colon + 1), kMaxScriptedDrag, &key->dy)) {
      *why = "expected FRAME:" + action + ":DX:DY, pixels from -10000 to 10000";
      return false;
    }
    return true;
  }
  if (strcasecmp(action.c_str(), "wheel") == 0) {
    key->kind = ScriptedKind::kWheel;
    if (!ParseSigned(rest, kMaxScriptedWheel, &key->dx)) {
      *why = "expected FRAME:wheel:K, notches from -1000 to 1000";
      return false;
    }
    return true;
  }
  if (strcasecmp(action.c_str(), "drop") == 0) {
    key->kind = ScriptedKind::kDrop;
    key->path = rest;
    if (rest.empty()) {
      *why = "expected FRAME:drop:PATH";
      return false;
    }
    return true;
  }
  *known = false;
  return true;
}

// A key name in any letter case, or a virtual-key number.
bool ParseKeyName(const std::string& text, uint32_t* value) {
  for (const NamedKey& key : kNamedKeys) {
    if (strcasecmp(text.c_str(), key.name) == 0) {
      *value = static_cast<uint32_t>(key.virtualKey);
      return true;
    }
  }
  return ParseVirtualKeyNumber(text, value);
}

// One script item "N:down:KEY"; false with the reason in `why`.
bool ParseKeyItem(const std::string& item, ScriptedKey* key, std::string* why) {
  size_t first = item.find(':');
  size_t second = first == std::string::npos ? first : item.find(':', first + 1);
  if (second == std::string::npos) {
    *why = "expected FRAME:down:KEY, FRAME:up:KEY, FRAME:drag:DX:DY, FRAME:rdrag:DX:DY, "
           "FRAME:wheel:K or FRAME:drop:PATH";
    return false;
  }
  if (!ParseCount(item.substr(0, first), 1, &key->frame)) {
    *why = "the frame must be a whole number from 1";
    return false;
  }
  const std::string action = item.substr(first + 1, second - first - 1);
  bool viewerItem = false;
  if (!ParseViewerItem(action, item.substr(second + 1), key, &viewerItem, why)) return false;
  if (viewerItem) return true;
  key->down = strcasecmp(action.c_str(), "down") == 0;
  if (!key->down && strcasecmp(action.c_str(), "up") != 0) {
    *why = "the action must be down, up, drag, rdrag, wheel or drop";
    return false;
  }
  std::string name = item.substr(second + 1);
  key->alt = strncasecmp(name.c_str(), "ALT+", 4) == 0;
  if (key->alt) name = name.substr(4);
  if (!ParseKeyName(name, &key->virtualKey)) {
    std::string names;
    for (const NamedKey& named : kNamedKeys) names += std::string(named.name) + " ";
    *why = "unknown key '" + name + "': one of " + names +
           "(any letter case) or a virtual-key number 1..254, optionally ALT+";
    return false;
  }
  return true;
}

// The value of the option at argv[*index]: either after '=' or the next
// argument (then *index moves past it).
bool TakeValue(int argc, const char* const* argv, int* index, bool inlineValue,
               const std::string& inlineText, std::string* value) {
  if (inlineValue) {
    *value = inlineText;
    return true;
  }
  if (*index + 1 >= argc) return false;
  *index += 1;
  *value = argv[*index];
  return true;
}

}  // namespace

bool ParseKeyScript(const std::string& script, std::vector<ScriptedKey>* keys, std::string* error) {
  std::vector<ScriptedKey> parsed;
  size_t start = 0;
  int itemNumber = 1;
  while (true) {
    size_t end = script.find(',', start);
    std::string item = script.substr(start, end == std::string::npos ? end : end - start);
    ScriptedKey key;
    std::string why;
    if (!ParseKeyItem(item, &key, &why)) {
      *error = "--keys: item " + std::to_string(itemNumber) + " '" + item + "': " + why;
      return false;
    }
    parsed.push_back(key);
    if (end == std::string::npos) break;
    start = end + 1;
    ++itemNumber;
  }
  // One stable sort of the whole list: events of one frame keep the order of
  // the options and, within one script, the script's order.
  keys->insert(keys->end(), parsed.begin(), parsed.end());
  std::stable_sort(keys->begin(), keys->end(),
                   [](const ScriptedKey& a, const ScriptedKey& b) { return a.frame < b.frame; });
  return true;
}

RunAction ParseRunOptions(int argc, const char* const* argv, RunOptions* all,
                          std::string* error) {
  *all = RunOptions{};
  PlatformOptions* options = &all->platform;
  SceneSettings* scene = &all->scene;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    size_t equals = argument.find('=');
    bool inlineValue = argument.compare(0, 2, "--") == 0 && equals != std::string::npos;
    std::string name = inlineValue ? argument.substr(0, equals) : argument;
    std::string inlineText = inlineValue ? argument.substr(equals + 1) : std::string();
    std::string value;
    if ((name == "--help" || name == "-h") && !inlineValue) return RunAction::kHelp;
    if ((name == "--version" || name == "-V") && !inlineValue) return RunAction::kVersion;
    // The switches that take no value: each sets one field of one record.
    static const struct {
      const char* name;
      bool PlatformOptions::*platformField;  // or null
      bool SceneSettings::*sceneField;       // or null
      bool value;
    } kSwitches[] = {{"--headless", &PlatformOptions::headless, nullptr, true},
                     {"--fit", nullptr, &SceneSettings::fit, true},
                     {"--watch", nullptr, &SceneSettings::watch, true},
                     {"--no-vsync", &PlatformOptions::vsync, nullptr, false},
                     {"--show-volumes", nullptr, &SceneSettings::showVolumes, true},
                     {"--stage", nullptr, &SceneSettings::stage, true},
                     {"--paused", nullptr, &SceneSettings::paused, true},
                     {"--truth", nullptr, &SceneSettings::truth, true}};
    bool isSwitch = false;
    for (const auto& entry : kSwitches) {
      if (inlineValue || name != entry.name) continue;
      if (entry.platformField != nullptr) options->*entry.platformField = entry.value;
      if (entry.sceneField != nullptr) scene->*entry.sceneField = entry.value;
      isSwitch = true;
    }
    if (isSwitch) continue;
    bool takesValue = name == "--frames" || name == "--keys" || name == "--capture" ||
                      name == "--clock-step" || name == "--size" || name == "--model" ||
                      name == "--texture" || name == "--shadows" || name == "--animation" ||
                      name == "--time" || name == "--light-size";
    if (!takesValue) {
      *error = "unknown argument '" + argument + "'";
      return RunAction::kBadCommandLine;
    }
    if (!TakeValue(argc, argv, &i, inlineValue, inlineText, &value)) {
      *error = name + " needs a value";
      return RunAction::kBadCommandLine;
    }
    if (name == "--model" || name == "--texture") {
      if (value.empty()) {
        *error = name + ": expected a file name";
        return RunAction::kBadCommandLine;
      }
      (name == "--model" ? scene->modelPath : scene->texturePath) = value;
    } else if (name == "--shadows") {
      if (value == "blend") {
        scene->shadows = ShadowMode::kBlend;
      } else if (value == "exact") {
        scene->shadows = ShadowMode::kExact;
      } else if (value == "traced") {
        scene->shadows = ShadowMode::kTraced;
      } else if (value == "off") {
        scene->shadows = ShadowMode::kOff;
      } else {
        *error = "--shadows '" + value + "': expected blend, exact, traced or off";
        return RunAction::kBadCommandLine;
      }
    } else if (name == "--animation") {
      uint32_t clip = 0;
      if (!ParseCount(value, 0, &clip) || clip > 1000000) {
        *error = "--animation '" + value + "': expected a clip number from 0";
        return RunAction::kBadCommandLine;
      }
      scene->animation = static_cast<int>(clip);
    } else if (name == "--time") {
      if (!ParseDecimal(value, &scene->time)) {
        *error = "--time '" + value + "': expected seconds, a number from 0";
        return RunAction::kBadCommandLine;
      }
    } else if (name == "--light-size") {
      double radius = 0;
      if (!ParseDecimal(value, &radius) || radius > kMaxLightSize) {
        *error = "--light-size '" + value + "': expected a radius from 0 to 20";
        return RunAction::kBadCommandLine;
      }
      scene->lightSize = static_cast<float>(radius);
    } else if (name == "--frames") {
      if (!ParseCount(value, 1, &options->frameLimit)) {
        *error = "--frames '" + value + "': expected a whole number from 1";
        return RunAction::kBadCommandLine;
      }
    } else if (name == "--clock-step") {
      if (!ParseCount(value, 1, &options->clockStep)) {
        *error = "--clock-step '" + value + "': expected milliseconds, a whole number from 1";
        return RunAction::kBadCommandLine;
      }
      options->virtualClock = true;
    } else if (name == "--size") {
      const size_t x = value.find_first_of("xX");
      if (x == std::string::npos || !ParseCount(value.substr(0, x), 1, &options->windowWidth) ||
          !ParseCount(value.substr(x + 1), 1, &options->windowHeight) ||
          options->windowWidth > kMaxWindowSide || options->windowHeight > kMaxWindowSide) {
        *error = "--size '" + value + "': expected WIDTHxHEIGHT, each from 1 to 16384";
        return RunAction::kBadCommandLine;
      }
    } else if (name == "--keys") {
      if (!ParseKeyScript(value, &options->keys, error)) return RunAction::kBadCommandLine;
    } else {
      size_t colon = value.find(':');
      CaptureRequest capture;
      if (colon == std::string::npos || !ParseCount(value.substr(0, colon), 1, &capture.frame) ||
          colon + 1 >= value.size()) {
        *error = "--capture '" + value + "': expected FRAME:FILE.png with FRAME from 1";
        return RunAction::kBadCommandLine;
      }
      capture.path = value.substr(colon + 1);
      options->captures.push_back(capture);
    }
  }
  // What is asked for a frame the run never reaches would silently not happen.
  if (options->frameLimit != 0) {
    const uint32_t limit = options->frameLimit;
    for (const CaptureRequest& capture : options->captures) {
      if (capture.frame > limit) {
        *error = "--capture " + std::to_string(capture.frame) + ":" + capture.path +
                 ": the run ends after frame " + std::to_string(limit) + " (--frames)";
        return RunAction::kBadCommandLine;
      }
    }
    for (const ScriptedKey& key : options->keys) {
      if (key.frame > limit) {
        *error = "--keys: an event at frame " + std::to_string(key.frame) +
                 ", but the run ends after frame " + std::to_string(limit) + " (--frames)";
        return RunAction::kBadCommandLine;
      }
    }
  }
  return RunAction::kRun;
}

const char* RunUsage() {
  return "usage: shadow_volume [options]\n"
         "Draws \"shadow2.3DS\" textured with \"txt.tif\" (both read from the current directory).\n"
         "  --model FILE         read this model (3DS, or OBJ, glTF, FBX, PLY, STL, ...)\n"
         "                       instead of shadow2.3DS\n"
         "  --texture FILE       lay this texture (TIFF, PNG or JPEG) over the whole model\n"
         "                       instead of txt.tif or the model's own textures\n"
         "  --fit                centre the model and scale it so its largest half-extent is 50\n"
         "  --watch              reload the model, its second files and textures when saved\n"
         "  --shadows MODE       blend (blended volumes, the default), exact (volumes counted\n"
         "                       in the stencil buffer), traced (ray-traced) or off\n"
         "  --truth              mark the pixels where the mode's shadow differs from the\n"
         "                       traced one: red wrongly dark, blue wrongly lit\n"
         "  --show-volumes       draw the shadow volumes translucent over the picture\n"
         "  --stage              add a floor and a back wall around the model to catch shadows\n"
         "  --animation N        a model that moves plays its clip N (from 0; 0 by default)\n"
         "  --time SECONDS       ... from this time into the clip (0 by default)\n"
         "  --paused             ... and stands still there until Space\n"
         "  --light-size R       the light a disc of radius R (0 to 20, 0 a point): soft\n"
         "                       shadows in exact and traced modes\n"
         "  --headless           no display needed: offscreen OpenGL (800 x 600 or --size)\n"
         "  --size WxH           initial window size and headless surface size (800x600)\n"
         "  --no-vsync           in a window, do not wait for the display's refresh\n"
         "  --frames N           close the window after frame N has been presented\n"
         "  --keys SCRIPT        scripted input, comma-separated, queued before frame N:\n"
         "                       N:down:KEY, N:up:KEY, KEY one of UP DOWN LEFT RIGHT\n"
         "                       HOME END DELETE PAGEDOWN PAGEUP INSERT TAB ESCAPE S V\n"
         "                       R P H F1 F11 F12 T SPACE LBRACKET RBRACKET COMMA PERIOD\n"
         "                       PLUS MINUS\n"
         "                       (any case) or a virtual-key number,\n"
         "                       optionally ALT+KEY; N:drag:DX:DY and N:rdrag:DX:DY (a\n"
         "                       left or right drag from the centre), N:wheel:K (K\n"
         "                       notches, negative zooms out), N:drop:PATH (a file\n"
         "                       dropped on the window)\n"
         "  --capture N:FILE.png write frame N as an RGB PNG (repeatable)\n"
         "  --clock-step MS      virtual clock: starts at 1, advances MS (from 1) per frame\n"
         "  -h, --help           this text\n"
         "  -V, --version        the version\n"
         "Exit codes: 0 closed, 1 no window or OpenGL context, window destroyed from outside\n"
         "or a capture not written, 2 unusable model file, 64 bad command line.\n";
}

const char* RunVersion() {
  return "shadow_volume 1.0.0\n";
}
