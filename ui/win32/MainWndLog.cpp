// The log list's drawing and its popup menu.
#include "ui/win32/MainWnd.h"

#include "ui/win32/Win32Controls.h"

void TfrmMain::DrawLogLine(const DRAWITEMSTRUCT& item)
{
    if (item.itemID == static_cast<UINT>(-1))
        return; // an empty list asks only for its focus rectangle
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    RECT line = item.rcItem;
    FillRect(item.hDC, &line, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    // The icon at the left, the text after it.
    const int icon = static_cast<int>(item.itemData);
    ImageList_Draw(imlIcons, icon, item.hDC, line.left + Scaled(TWin32LogList::kIconLeft), line.top,
                   ILD_TRANSPARENT);

    std::wstring text(static_cast<size_t>(SendMessageW(lstLog, LB_GETTEXTLEN, item.itemID, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(lstLog, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()))));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT words = line;
    words.left += Scaled(TWin32LogList::kTextLeft);
    words.top += Scaled(2);
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &words,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0)
        DrawFocusRect(item.hDC, &line);
}

void TfrmMain::ShowLogMenu(POINT at)
{
    if (at.x == -1 && at.y == -1) {
        // From the keyboard (Shift+F10, the menu key): under the selected line.
        RECT line{};
        const auto index = SendMessageW(lstLog, LB_GETCURSEL, 0, 0);
        if (index < 0 || SendMessageW(lstLog, LB_GETITEMRECT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(&line)) == LB_ERR)
            GetClientRect(lstLog, &line);
        at = POINT{line.left + Scaled(TWin32LogList::kTextLeft), line.bottom};
        ClientToScreen(lstLog, &at);
    }
    TrackPopupMenuEx(pmnuLog, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, FHandle,
                     nullptr);
}
