// The one set of path functions: the parts of a path, for every caller, and the forms the
// Win32 layer builds for the system, kept portable so that they can be checked against
// Windows' own rules natively (Wine does not limit path lengths as Windows does).
#pragma once

#include <cstddef>
#include <string>

namespace nb {

// Parts of a path as the C runtime's path splitter gives them: "C:\x\a.b.exe" gives "C:",
// "\x\", "a.b" and ".exe"; the folder part keeps its closing separator.
struct PathParts {
    std::wstring drive, dir, fname, ext;
};
PathParts SplitPath(const std::wstring& path);

// The last component, after the last backslash or slash (the whole path when there is none).
std::wstring FileName(const std::wstring& path);

// The last component without its extension (from its last dot): "C:\x\nbmonitor.exe" gives
// "nbmonitor", the module's application title.
std::wstring FileStem(const std::wstring& path);

// Windows' limit for a path given to the file functions in the ordinary form, terminator
// included (MAX_PATH); an extended-length path (\\?\...) may be up to 32767 characters.
constexpr std::size_t kMaxPathChars = 260;

// The same path with runs of backslashes cut to one, except the two that open a UNC path
// ("\\server\share"). Wine 8's SHGetFileInfoW finds no icon for "C:\nimbara\\backup\a.zip",
// a form that the program's path building produces and the rest of the system accepts.
std::wstring CollapseRepeatedSeparators(const std::wstring& path);

// The extended-length form of an absolute path ("\\?\C:\a\b", "\\?\UNC\server\share\a"),
// which the file functions take without the MAX_PATH limit but also without any clean-up of
// their own: so repeated separators and "." and ".." components are resolved here. A path
// already in that form is returned as it is; one that is not absolute (no drive and root, no
// UNC server) is returned unchanged.
std::wstring ExtendedLengthPath(const std::wstring& path);

// Name of the file ReplaceFileContent writes before it moves it over the target: in the
// same folder, so that the move is a rename on one volume.
std::wstring TemporarySibling(const std::wstring& target, unsigned long processId, unsigned serial);

// The temporary file and the target as ReplaceFileContent hands them to the system: as built
// while the temporary path fits MAX_PATH, else both in the extended-length form, so that a
// target whose own path fits is never refused because its temporary name does not.
struct ReplacementPaths {
    std::wstring temp;
    std::wstring target;
};
ReplacementPaths ReplacementPathsFor(const std::wstring& target, unsigned long processId,
                                     unsigned serial);

}  // namespace nb
