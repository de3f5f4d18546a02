// The application object: single instance, settings path, and the hidden host dialog whose
// modal loop is the program's message loop.
#pragma once

#include <memory>
#include <string>

#include "base/framework.h"

namespace nb {

class CnbmonitorApp : public CWinApp {
public:
    CnbmonitorApp() = default;
    ~CnbmonitorApp() override;

    bool InitInstance() override;
    int ExitInstance() override;

    // Path of the settings file every settings read uses; empty until start-up fixed it.
    const wchar_t* SettingsPath() const override {
        return m_settingsPath ? m_settingsPath.get() : L"";
    }
    void SetSettingsPath(const std::wstring& path);

    static CnbmonitorApp& Get();

private:
    // The steps of InitInstance, in their order; each false one has told the user why.
    bool StartSockets();
    bool AnotherInstanceRuns();  // true: it has been asked to show itself; this one ends
    // The settings file's path, from the current directory (MAX_PATH at most).
    bool LocateSettingsFile();
    bool ModulePathUsable();
    void RunHostDialog();

    std::unique_ptr<wchar_t[]> m_settingsPath;
};

// Texts of the start-up refusals.
namespace startup_text {
constexpr const wchar_t* kOutOfMemory = L"メモリ不足エラーです。";
constexpr const wchar_t* kCurrentDirUnusable =
    L"現在のフォルダのパスが長すぎるか取得できないため、Nimbaraを起動できません。";
constexpr const wchar_t* kSettingsPathTooLong =
    L"設定ファイルのパスが長すぎるため、Nimbaraを起動できません。";
constexpr const wchar_t* kNoModulePath =
    L"実行ファイルの場所を取得できないため、Nimbaraを起動できません。";
constexpr const wchar_t* kModulePathTooLong =
    L"実行ファイルのパスが長すぎるため、Nimbaraを起動できません。";
}  // namespace startup_text

}  // namespace nb
