// hxcam live and download: receive a camera's live images or download its recorded frames into
// TIFF files, with a progress bar and, on request, statistics.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <hx/hx.h>

namespace hxcam {

// Values an option of these commands takes (0 for a switch), or -1 for an option they do not know.
int streamOptionValues(const std::string& option);
// The command words (the command and its options with their values) name live or download.
bool isStreamCommand(const std::vector<std::string>& words);
// Their part of hxcam --help.
const char* streamUsage();
// Runs the command on the camera; hxcam's exit status. Results go to out, messages to stderr.
int runStreamCommand(HX_CAMERA_HANDLE camera, const std::vector<std::string>& words, std::FILE* out);

} // namespace hxcam
