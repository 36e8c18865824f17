// The command line of shadow_volume: --headless, --size, --no-vsync,
// --frames, --keys, --capture, --clock-step, --model, --texture, --fit, --watch,
// --shadows, --truth, --show-volumes, --stage,
// -h/--help, -V/--version, turned into the platform layer's run harness
// (PlatformOptions) and the scene and view settings (SceneSettings). The web
// page's query reaches main as the same arguments. Pure parsing: nothing is
// opened or checked on disk here.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "render/scene_settings.h"

enum class RunAction {
  kRun,             // options parsed; start the program
  kHelp,            // print RunUsage() to standard output, exit 0
  kVersion,         // print RunVersion() to standard output, exit 0
  kBadCommandLine,  // print the error and RunUsage() to standard error, exit 64
};

// What one command line asks for.
struct RunOptions {
  PlatformOptions platform;  // headless, size, vsync, frames, keys, captures, clock
  SceneSettings scene;       // model, texture, fit, stage, watch, shadows, volume view
};

// Parses argv[1..argc-1]. Numbers are decimal (frames and clock step from 1,
// below 2^32; --size sides 1..16384); "--opt VALUE" and "--opt=VALUE" both
// work. With --frames, a capture or key event for a later frame is refused.
// On kBadCommandLine `error` says which argument and why.
RunAction ParseRunOptions(int argc, const char* const* argv, RunOptions* options,
                          std::string* error);

// Parses a key script, "N:down:KEY,N:up:KEY,...": N a frame from 1, KEY one
// of UP DOWN LEFT RIGHT HOME END DELETE PAGEDOWN PAGEUP INSERT TAB ESCAPE S V R
// P H F1 F11 F12 T SPACE LBRACKET RBRACKET COMMA PERIOD PLUS MINUS or a
// virtual-key number (decimal or 0x hex, 1..254),
// optionally "ALT+"-prefixed; words in any letter case. Mouse and drop items
// are "N:drag:DX:DY", "N:rdrag:DX:DY" (pixels, -10000..10000), "N:wheel:K"
// (notches, -1000..1000) and "N:drop:PATH" (everything after the second
// colon; a path cannot hold a comma). An unknown key's error lists the names.
// Appends the events, stably ordered by frame; false with `error` naming the
// bad item (nothing appended then).
bool ParseKeyScript(const std::string& script, std::vector<ScriptedKey>* keys, std::string* error);

const char* RunUsage();
const char* RunVersion();
