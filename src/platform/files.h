// Files and settings: private-profile reads, whole-file reads and replacements, appends,
// folders.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Files(), which the entry point or a test has installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace nb {

struct FindEntry {
    std::wstring name;
    bool directory = false;
};

// Why a file replacement failed, for the supervision log. TargetBusy: the target could not
// be replaced because another program had it open (a sharing violation or access denied at
// the replacing step), which may pass in a moment.
enum class WriteError { None, CannotOpen, ShortWrite, CannotReplace, TargetBusy };

class IFiles {
public:
    virtual uint32_t ProfileInt(const wchar_t* section, const wchar_t* key, int defaultValue,
                                const wchar_t* file) = 0;
    // The text read is cut to bufChars - 1 characters, as the Win32 call does.
    virtual std::wstring ProfileString(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* defaultValue, const wchar_t* file,
                                       std::size_t bufChars) = 0;
    // Reads the whole file as bytes, opened for reading without sharing.
    virtual int ReadWholeFile(const std::wstring& path, std::string& bytes) = 0;
    // Replaces the file with exactly these bytes, or leaves it as it was: the content goes to
    // a temporary file in the same folder, which then takes the target's place. On failure,
    // *error (when given) says which step failed.
    virtual int ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                                   WriteError* error = nullptr) = 0;
    // Appends the bytes to the file (made when missing), opened for this one write with
    // sharing that lets others read, write, rename and delete it meanwhile.
    virtual int AppendToFile(const std::wstring& path, const std::string& bytes) = 0;
    // Reads at most maxBytes from byte offset on, the file opened with every sharing so that
    // a program writing it may keep it open. 0 when it cannot be opened or read.
    virtual int ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                             std::string& bytes) = 0;
    // Size of the file in bytes; -1 when it is not there or cannot be asked.
    virtual int64_t FileSize(const std::wstring& path) = 0;
    // Renames a file, replacing the target when it exists.
    virtual int RenameReplacing(const std::wstring& from, const std::wstring& to) = 0;
    virtual int MakeFolder(const std::wstring& path) = 0;
    virtual int RemoveFile(const std::wstring& path) = 0;
    // Every entry matching the pattern, in the order the system enumerates them ("." and ".."
    // included). 0 when the first search fails.
    virtual int ListFolder(const std::wstring& pattern, std::vector<FindEntry>& out) = 0;
    // WideCharToMultiByte to the ANSI code page into a buffer of bufBytes (terminator
    // included); 0 when the conversion fails.
    virtual int WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) = 0;

protected:
    ~IFiles() = default;
};

IFiles& Files();

}  // namespace nb
