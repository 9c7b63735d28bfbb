// Scratch folders for the launcher's tests, on the file system the program itself uses.
#ifndef LAUNCHER_LAUNCHERTESTSUPPORT_H
#define LAUNCHER_LAUNCHERTESTSUPPORT_H

#include <string>

// A fresh, empty folder below the temporary directory, removed with everything in it
// when the object goes. Path() ends with a backslash.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

// Removes path and, for a folder, everything below it. Missing paths are fine.
void RemoveTree(const std::string& path);

// Creates a file holding text; returns false when it cannot be written.
bool WriteTextFile(const std::string& path, const std::string& text);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

#endif // LAUNCHER_LAUNCHERTESTSUPPORT_H
