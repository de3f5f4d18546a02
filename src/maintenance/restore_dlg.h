// The restore dialog: lists the backup folder, hands one entry to the restore script, or
// deletes the selected entries.
#pragma once

#include <string>

#include "base/framework.h"
#include "platform/dialogs.h"

namespace nb {

class CRestoreDlg : public CDialog {
public:
    // home: the home directory, whose backup folder the dialog lists.
    explicit CRestoreDlg(std::wstring home);
    ~CRestoreDlg() override;

    void InitList();
    void FillList();
    void AddEntry(const std::wstring& name, const std::wstring& fullPath);
    void RestoreSelected();
    void DeleteSelected();

    std::wstring RestoreCommandLine(const std::wstring& name) const;

    // The list view (found at dialog initialization) and the home directory.
    nb::WindowId List() const { return m_list; }
    void SetList(nb::WindowId list) { m_list = list; }
    const std::wstring& Home() const { return m_homeDir; }

protected:
    bool OnInitDialog() override;
    bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                   std::intptr_t* result) override;

private:
    void FindListControl();

    nb::WindowId m_list = 0;
    // The small icons. The list view owns and destroys the image list once it holds it;
    // m_ownedImages keeps it only while no list view does (creation done, hand-over failed).
    nb::ImageListRef m_imageList = 0;
    std::wstring m_homeDir;
    nb::ScopedImageList m_ownedImages;
};

namespace restore_text {
constexpr const wchar_t* kColumn = L"ファイル名";
constexpr const wchar_t* kSelectOne = L"1つのみ選択してください";
constexpr const wchar_t* kRestored = L"復旧しました  ";
constexpr const wchar_t* kConfirmDelete = L"削除します。\nよろしいですか？";
constexpr const wchar_t* kUnsafeName = L"このファイル名は復旧に使用できません。";
}  // namespace restore_text

}  // namespace nb
