// Reading an exchange recording (the library's TRAX_RECORD file, described in
// record/Recording.h) for the replay. A recording is input from outside like
// any other: every line is checked, and a file that cannot be trusted is
// refused whole with the line and the reason, never half read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trax::sim {

// The newest recording format this reader knows.
constexpr int kRecordingFormatVersion = 1;
// Larger files are refused before they are read.
constexpr uint64_t kMaxRecordingBytes = 256ull << 20;

enum class RecordedEnding { Answered, NoReply, DriverFailure, CutReply, NotSent };

struct RecordedExchange {
    uint64_t line = 0;  // in the file, from 1
    uint64_t number = 0;
    uint64_t thread = 0;
    std::string call;  // "" when the exchange belonged to no exported call
    uint64_t callNumber = 0;
    std::vector<long long> arguments;  // numbers as recorded; a pointer is 1, a null pointer 0
    std::vector<bool> pointerArguments;
    double tookMs = 0;
    RecordedEnding ending = RecordedEnding::Answered;
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
};

struct Recording {
    int version = 0;
    std::string library;
    std::string system;
    bool standIn = false;
    std::string driver;
    std::string driverFile;
    std::vector<RecordedExchange> exchanges;
    // Said about the file without refusing it (a last line cut short).
    std::string warning;
};

// Reads a whole recording from its text. False with *problem set ("line 3:
// ...") when the text is not a recording this reader can replay faithfully.
bool ParseRecording(const std::string& text, Recording* out, std::string* problem);
// Reads the file; the problem names it.
bool ReadRecordingFile(const std::string& path, Recording* out, std::string* problem);

const char* RecordedEndingText(RecordedEnding ending);
// "00 06 07 14": bytes as the recording and the reports show them.
std::string HexText(const std::vector<uint8_t>& bytes);

}  // namespace trax::sim
