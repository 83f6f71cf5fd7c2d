// The main window's handlers and the target history.
#pragma once

#include "contract/rt.h"

// The target history in lsjl.ini beside the program (section "历史记录", key "url"): every entry
// followed by "|".
void LoadHistory();   // the file's entries replace the target box's list
void RecordHistory(); // the target box's text joins the list, and the list is written
void ClearHistory();  // the file is deleted, the reset value written, and the list loaded again

extern "C" {
// Event handlers, bound by the form segment.
void RtWindowHandler();                         // the window was created
void StartClicked();                            // "开始追踪"
void ClearClicked();                            // "清除历史记录"
void PicturePressed(int32_t, int32_t, int32_t); // a mouse button on the emblem
void AboutSelected();                           // menu "关于Toviq"
void ExitSelected();                            // menu "退出"
}
