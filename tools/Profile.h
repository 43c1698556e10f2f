// Renderings of a light-intensity profile (1024 samples of 0..255): a small
// plot for the terminal, CSV, and an SVG picture with axes.
#pragma once

#include <string>

#include "client/Controller.h"

namespace traxctl {

using trax::client::kProfileLength;

// `rows` lines of `columns` characters, each column the highest sample of its
// stretch, with a y scale on the left and an x scale below.
std::string TerminalPlot(const unsigned char* profile, int columns, int rows);

// "pixel,intensity" header, then one line per sample.
std::string ProfileCsv(const unsigned char* profile);

// A standalone SVG document: axes, ticks and labels as lines and text, and the
// profile as one path of 1024 points.
std::string ProfileSvg(const unsigned char* profile, const std::string& title);

}  // namespace traxctl
