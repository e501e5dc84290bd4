// hxcam camera commands: arm, trigger, stop, state, watch, play, and get/set of the input/output,
// download, lens, stream and gain settings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <hx/hx.h>

namespace hxcam {

// Values an option of these commands takes (0 for a switch), or -1 for an option they do not know.
int cameraOptionValues(const std::string& option);
// The command words (the command and its options with their values) name one of these commands.
bool isCameraCommand(const std::vector<std::string>& words);
// Their part of hxcam --help.
std::string cameraUsage();
// Runs the command on the camera for the client; hxcam's exit status. Results go to out,
// messages to stderr.
int runCameraCommand(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const std::vector<std::string>& words,
                     std::FILE* out);

} // namespace hxcam
