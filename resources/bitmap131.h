// The side-panel picture of the wizard pages (bitmap 131): our own artwork, drawn in
// code so that it needs no binary file.
#pragma once
#include "framework/dlgtemplate.h"

namespace kv70::resources {

constexpr int kSidePanelWidth = 150;
constexpr int kSidePanelHeight = 250;
constexpr int kSidePanelColors = 16;

// Drawn once, on first use; the same pixels every time.
const BitmapResource& SidePanelBitmap();

}  // namespace kv70::resources
