#pragma once
// The ids both dialogs share: the results of a modal dialog, which are also
// the ids of its OK and Cancel buttons ("Exit" in the main window).

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
