#include "Profile.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace traxctl {

std::string TerminalPlot(const unsigned char* profile, int columns, int rows) {
    // At least one column: with none, every pixel would land past the end.
    columns = std::max(columns, 1);
    const auto width = static_cast<size_t>(columns);
    std::vector<int> peak(width, 0);
    for (int i = 0; i < kProfileLength; ++i) {
        const auto c = static_cast<size_t>(i * columns / kProfileLength);
        peak[c] = std::max(peak[c], static_cast<int>(profile[i]));
    }
    std::string out;
    char label[16];
    for (int r = rows; r >= 1; --r) {
        // A cell is filled when the column reaches the middle of the cell's band.
        int threshold = (2 * r - 1) * 256 / (2 * rows);
        if (r == rows)
            std::snprintf(label, sizeof label, "%4d |", 255);
        else if (r == 1)
            std::snprintf(label, sizeof label, "%4d |", 0);
        else
            std::snprintf(label, sizeof label, "     |");
        out += label;
        for (size_t c = 0; c < width; ++c) out += peak[c] >= threshold ? '#' : ' ';
        out += '\n';
    }
    out += "     +" + std::string(width, '-') + '\n';
    std::string axis = "      0";
    std::string right = std::to_string(kProfileLength - 1);
    int gap = columns + 6 - static_cast<int>(axis.size() + right.size()) + 1;
    axis += std::string(static_cast<size_t>(std::max(1, gap)), ' ') + right;
    out += axis + "  pixel\n";
    return out;
}

std::string ProfileCsv(const unsigned char* profile) {
    std::string out = "pixel,intensity\n";
    for (int i = 0; i < kProfileLength; ++i) out += std::to_string(i) + "," + std::to_string(profile[i]) + "\n";
    return out;
}

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string ProfileSvg(const unsigned char* profile, const std::string& title) {
    // Plot area: one unit per pixel across, two units per intensity step up.
    const int left = 60, top = 40, width = kProfileLength, height = 256 * 2;
    const int right = left + width, bottom = top + height;
    char buf[256];
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::snprintf(buf, sizeof buf,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n",
                  right + 20, bottom + 60, right + 20, bottom + 60);
    out += buf;
    out += "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    std::snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"24\" font-family=\"sans-serif\" font-size=\"16\">", left);
    out += buf + Escape(title) + "</text>\n";

    out += "<g stroke=\"black\" stroke-width=\"1\">\n";
    std::snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", left, bottom, right, bottom);
    out += buf;
    std::snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", left, top, left, bottom);
    out += buf;
    for (int x = 0; x <= kProfileLength; x += 128) {
        std::snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", left + x, bottom, left + x,
                      bottom + 6);
        out += buf;
    }
    for (int y = 0; y <= 256; y += 64) {
        std::snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", left - 6, bottom - 2 * y,
                      left, bottom - 2 * y);
        out += buf;
    }
    out += "</g>\n<g font-family=\"sans-serif\" font-size=\"12\">\n";
    for (int x = 0; x <= kProfileLength; x += 128) {
        std::snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%d</text>\n", left + x,
                      bottom + 20, x);
        out += buf;
    }
    for (int y = 0; y <= 256; y += 64) {
        std::snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%d</text>\n", left - 10,
                      bottom - 2 * y + 4, y);
        out += buf;
    }
    std::snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">pixel</text>\n", left + width / 2,
                  bottom + 44);
    out += buf;
    std::snprintf(buf, sizeof buf,
                  "<text x=\"16\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 16 %d)\">intensity</text>\n",
                  top + height / 2, top + height / 2);
    out += buf;
    out += "</g>\n";

    out += "<path fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1\" d=\"";
    for (int i = 0; i < kProfileLength; ++i) {
        std::snprintf(buf, sizeof buf, "%s%d,%d", i == 0 ? "M" : " L", left + i, bottom - 2 * profile[i]);
        out += buf;
    }
    out += "\"/>\n</svg>\n";
    return out;
}

}  // namespace traxctl
