#pragma once
// Night vision: the whole application drawn dim red on black, so that the
// observer at the telescope keeps the eyes' dark adaptation. It covers the
// main window, the options dialog, every message box, menu, list and tool
// tip: an application-wide palette and style sheet over the Fusion style
// (which honours palettes), with the style's standard icons turned to red.
// Every colour it uses has no green and no blue at all.
//
// The dialogs' validation colours follow the mode (CTemplateDialog reads
// NightVisionOn()); switching the mode paints the fields of the open
// dialogs again.

namespace tavro::ui {

// Whether night vision is on in this application.
bool NightVisionOn();

// Turns night vision on or off for the whole application. Turning it off
// brings back the style and palette the application had before it was
// first turned on. Nothing happens when the mode is already `on`.
void SetNightVision(bool on);

}  // namespace tavro::ui
