// What the client layer needs of the operating system, behind one header:
// System_posix.cpp and System_win32.cpp implement it, and nothing above it
// knows which one it runs on. Each call says what it promises; none throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trax::client::system {

// --- Environment and identity ----------------------------------------------

// Sets a variable for this process and its children, in every copy the
// library may read it from (Windows keeps one for the system and one for the
// C run-time's getenv).
void SetVariable(const char* name, const std::string& value);
// The variable's value; "" when it is not set.
std::string Variable(const char* name);
uint32_t ProcessId();
// Standard input is a file on disk (redirected from one), not a pipe or a
// terminal: what it holds can be read whole before acting on any of it.
bool StandardInputIsFile();
// The calling thread's id as the library's trace writes it ("thread").
uint32_t ThreadId();

// --- The reason tap's file -------------------------------------------------

// A file the library appends the tap's lines to, open for reading here.
struct TapFile {
    std::string path;
    intptr_t handle = -1;  // the system's handle or descriptor; -1: not open
};
// Makes a fresh file in the temporary folder, created exclusively, which no
// process end leaves behind: on Windows it is deleted when its last handle
// closes (the library opens it with delete sharing); on POSIX its name goes
// at ForgetTapName. False when no file could be made.
bool CreateTapFile(TapFile& tap);
// Opens a tap that someone else named, for reading; false when it is not
// there (yet).
bool OpenTapFile(TapFile& tap);
// Once the library has opened the file: its name goes where the system allows
// that while files are open (POSIX); Windows deletes it at the last close.
void ForgetTapName(TapFile& tap);
// Appends what the file holds from `offset` on to *bytes; false on an error.
bool ReadTapFile(const TapFile& tap, uint64_t offset, std::string& bytes);
void CloseTapFile(TapFile& tap);

// --- Files written whole ---------------------------------------------------

// The file a write to `path` lands in: a symbolic link is followed to its
// target (which need not exist yet), anything else is `path` itself.
std::string WriteTarget(const std::string& path);
// Creates `path` exclusively (never opens what is already there, nor follows
// a link planted under its name) with the permissions of `like` when that
// file exists, else those a new file gets (0666 less the umask on POSIX).
// Returns a descriptor for WriteAndCloseFile, or -1 with *error set.
intptr_t CreateExclusive(const std::string& path, const std::string& like, std::string& error);
// Writes all of text, puts it on the disk and closes; "" or the system's words.
std::string WriteAndCloseFile(intptr_t file, const std::string& text);
// Renames `from` over `to` (replacing it), then makes the rename itself
// lasting (POSIX: the folder is synced); "" or the system's words.
std::string RenameOver(const std::string& from, const std::string& to);
// Something (a file, a folder, a link, even a dangling one) has this name.
bool NameTaken(const std::string& path);
// Removes a file, quietly.
void RemoveFile(const std::string& path);
// The text of the last failed system call of the C run-time (errno).
std::string ErrnoText(int error);

// --- Loading the library ---------------------------------------------------

// One file tried and passed over while looking for the library, and why.
struct SkippedLibrary {
    std::string path;
    std::string why;
};
struct LoadedLibrary {
    void* module = nullptr;  // null: not loaded
    std::string path;        // what loaded
    std::string problem;     // why nothing loaded
    bool driverMissing = false;
    bool startupFailed = false;
    std::vector<std::string> driverSearch;  // where the driver was looked for, in order
    std::vector<SkippedLibrary> skipped;    // found but not loadable, passed over
};
// Loads the library: TRAX_LIBRARY when set, else from the places the README
// names. The current folder is never searched for the library or its driver.
LoadedLibrary LoadLibraryFile();
// The loaded module's function, or null.
void* LibraryFunction(void* module, const char* name);
// The driver's file once the library is loaded; "" when not known.
std::string DriverFile();
// What to do when the library or its driver cannot be found, in this
// system's words (a kit folder's simulator named where there is one).
std::string LibraryPlacementHint();
std::string DriverPlacementHint();

}  // namespace trax::client::system
